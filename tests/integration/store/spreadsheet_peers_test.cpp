// The shipping list's workbook as other programs read it: LibreOffice opens it
// and writes it back out as CSV (in UTF-8, in code page 949 as Excel does on
// Korean Windows, and as UTF-16), which our decoder and reader must turn back
// into the very rows we wrote; openpyxl checks the types, styles, widths and
// the frozen header.

#include "os/fs.h"
#include "store/csv.h"
#include "store/shipping_list.h"
#include "store/text_decoder.h"
#include "tests/integration/store/tools.h"

#include <gtest/gtest.h>

using namespace tillbay;
using namespace tillbay::store;
using namespace tillbay::test;

namespace {

CsvRow const header { "주문번호", "주문일시", "상품명", "옵션", "수량", "결제금액", "받는분", "연락처", "우편번호", "주소",
    "배송메모", "택배사", "송장번호", "상태" };

// A shipping list with the texts that trip spreadsheets up: commas, quotes
// and line breaks inside fields, leading zeros, long digit runs, markup, the
// escape form of the workbook format itself, characters only code page 949's
// extension has, and empty fields.
CsvTable shipping_list()
{
    CsvTable table { header };
    table.push_back({ "20240305-0001", "2024-03-05 09:07", "김치찌개 밀키트", "매운맛, 2인분", "2", "15000", "홍길동",
        "010-1234-5678", "01234", "서울시 \"중구\" 세종대로 110", "문 앞에\r\n놓아 주세요", "CJ대한통운",
        "1234567890123456", "결제완료" });
    table.push_back({ "20240305-0002", "2024-03-05 09:15", "똠방각하 떡볶이", "", "00123", "", "김철수", "", "", "",
        "_x0041_ 그대로", "", "", "배송준비" });
    table.push_back({ "20240305-0003", "2024-03-05 10:00", "a<b>&c", "x=1&y=2", "0", "123456789012345", "이영희",
        "02-000-0000", "04524", "부산", "", "우체국", "000123", "배송중" });
    for (int i = 4; i < 60; ++i) {
        std::string n = std::to_string(i);
        table.push_back({ "20240305-" + std::string(4 - n.size(), '0') + n, "2024-03-05 11:" + std::to_string(10 + i % 50),
            "상품 " + n, "옵션 " + std::to_string(i % 3), std::to_string(1 + i % 5), std::to_string(1000 * i),
            "받는분 " + n, "010-0000-" + std::to_string(1000 + i), "0" + std::to_string(1000 + i), "주소 " + n, "", "한진택배",
            std::to_string(600000000000 + i), "결제완료" });
    }
    return table;
}

// What a reader of the sheet gets back: XML turns CR LF and a lone CR in a
// cell into LF, and spreadsheet programs end each row at its last filled cell.
CsvTable as_read_back(CsvTable table)
{
    for (auto& row : table) {
        for (auto& field : row) {
            std::string out;
            for (size_t i = 0; i < field.size(); ++i) {
                if (field[i] == '\r') {
                    out.push_back('\n');
                    if (i + 1 < field.size() && field[i + 1] == '\n')
                        ++i;
                } else {
                    out.push_back(field[i]);
                }
            }
            field = out;
        }
        while (!row.empty() && row.back().empty())
            row.pop_back();
    }
    return table;
}

class SpreadsheetPeers : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_table = shipping_list();
        m_csv = m_scratch / "list.csv";
        spill(m_csv, write_csv(m_table));
        auto workbook = shipping_list_workbook(write_csv(m_table));
        ASSERT_TRUE(workbook.ok()) << workbook.error().message;
        EXPECT_EQ(workbook.value().data_rows, m_table.size() - 1);
        m_xlsx = m_scratch / "발송목록.xlsx";
        ASSERT_TRUE(os::write_file_replacing(m_xlsx, workbook.value().bytes).ok());
    }

    // LibreOffice's own CSV of the workbook, in the character set given by
    // its number (76 UTF-8, 62 code page 949, 65535 UTF-16).
    std::string libreoffice_csv(int charset)
    {
        auto out = m_scratch / ("lo-" + std::to_string(charset));
        std::filesystem::create_directories(out);
        std::string filter = "csv:Text - txt - csv (StarCalc):44,34," + std::to_string(charset) + ",1";
        auto result = run("timeout 180 soffice -env:UserInstallation=file://" + (m_scratch / "profile").string()
            + " --headless --norestore --convert-to " + shell_quoted(filter) + " --outdir " + shell_quoted(out) + " "
            + shell_quoted(m_xlsx));
        EXPECT_EQ(result.status, 0) << result.text;
        return slurp(out / "발송목록.csv");
    }

    CsvTable read_back(std::string const& bytes, std::string_view expected_encoding)
    {
        auto decoded = decode_text(bytes);
        EXPECT_TRUE(decoded.ok());
        if (!decoded)
            return {};
        EXPECT_EQ(encoding_name(decoded.value().encoding), expected_encoding);
        auto table = read_csv(decoded.value().text);
        EXPECT_TRUE(table.ok()) << table.error().detail;
        return table ? as_read_back(table.value()) : CsvTable {};
    }

    ScratchDir m_scratch { "sheet" };
    CsvTable m_table;
    std::filesystem::path m_csv;
    std::filesystem::path m_xlsx;
};

TEST_F(SpreadsheetPeers, LibreOfficeReadsOurRowsBack)
{
    std::string csv = libreoffice_csv(76);
    ASSERT_FALSE(csv.empty());
    EXPECT_EQ(read_back(csv, "utf8"), as_read_back(m_table));
    // As "CSV UTF-8" from Excel: the same bytes behind a byte order mark.
    EXPECT_EQ(read_back("\xEF\xBB\xBF" + csv, "utf8-bom"), as_read_back(m_table));
}

TEST_F(SpreadsheetPeers, CodePage949AndUtf16FilesFromASpreadsheetProgramDecode)
{
    std::string cp949 = libreoffice_csv(62);
    ASSERT_FALSE(cp949.empty());
    // Really the code page: "똠" is 8C 63 there and nowhere in UTF-8.
    EXPECT_NE(cp949.find("\x8C\x63"), std::string::npos);
    EXPECT_EQ(read_back(cp949, "cp949"), as_read_back(m_table));

    std::string utf16 = libreoffice_csv(65535);
    ASSERT_TRUE(utf16.starts_with("\xFF\xFE"));
    EXPECT_EQ(read_back(utf16, "utf16"), as_read_back(m_table));
}

TEST_F(SpreadsheetPeers, OpenpyxlSeesTypesStylesWidthsAndTheFrozenHeader)
{
    // Debian's own interpreter, which has the packaged openpyxl.
    auto result = run("/usr/bin/python3 " + shell_quoted(source_path("tests/integration/store/check_workbook.py")) + " "
        + shell_quoted(m_xlsx) + " " + shell_quoted(m_csv));
    EXPECT_EQ(result.status, 0) << result.text;
    EXPECT_EQ(result.text, "ok\n");
}

} // namespace
