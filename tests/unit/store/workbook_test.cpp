#include "store/shipping_list.h"
#include "store/workbook.h"
#include "store/zip.h"
#include "tests/unit/store/zip_reader.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <zlib.h>

using namespace tillbay;
using namespace tillbay::store;
using namespace std::string_literals;

namespace {

TEST(XmlEscape, EscapesMarkupAndUnderscoreSequences)
{
    struct Case {
        std::string text;
        std::string escaped;
    };
    Case const cases[] = {
        { "plain 상품", "plain 상품" },
        { "a<b>&c", "a&lt;b&gt;&amp;c" },
        { "\"quoted\" 'single'", "\"quoted\" 'single'" },
        { "_x0041_", "_x005F_x0041_" },
        { "_X00aF_", "_x005F_X00aF_" },
        { "__x0041_", "__x005F_x0041_" },
        // The closing underscore of one sequence may open the next: both are escaped,
        // or the reader would turn the second into a character.
        { "_x0041_x0042_", "_x005F_x0041_x005F_x0042_" },
        { "_x004_", "_x004_" },
        { "_x0041", "_x0041" },
        { "_x00G1_", "_x00G1_" },
        { "snake_case_x", "snake_case_x" },
        { "&amp;", "&amp;amp;" },
    };
    for (auto const& c : cases)
        EXPECT_EQ(xml_escape(c.text), c.escaped) << c.text;
}

TEST(CellText, DropsWhatXmlCannotHoldAndCutsAtACharacter)
{
    struct Case {
        char const* name;
        std::string text;
        std::string cleaned;
    };
    std::string korean(10'923 * 3, ' '); // 10,923 three-byte characters: 32,769 bytes
    for (size_t i = 0; i < korean.size(); i += 3)
        korean.replace(i, 3, "가");
    Case const cases[] = {
        { "kept as it is", "김치\t2\r\n끝", "김치\t2\r\n끝" },
        { "C0 controls", "a\x01" "b\x1F" "c\x00"s + "d", "abcd" },
        { "DEL and C1 controls", "a\x7F" "b\xC2\x85" "c", "abc" },
        { "invalid UTF-8 bytes", "a\xFF" "b\xC3" "c\xED\xA0\x80" "d", "abcd" },
        { "non-characters U+FFFE and U+FFFF", "a\xEF\xBF\xBE" "b\xEF\xBF\xBF" "c", "abc" },
        { "U+FFFD stays", "\xEF\xBF\xBD", "\xEF\xBF\xBD" },
        { "cut before a character that would pass the limit", korean, korean.substr(0, 10'922 * 3) },
        { "exactly at the limit", std::string(max_cell_text_bytes, 'x'), std::string(max_cell_text_bytes, 'x') },
    };
    for (auto const& c : cases)
        EXPECT_EQ(clean_cell_text(c.text), c.cleaned) << c.name;
}

TEST(CellNames, ColumnLettersAndNumbers)
{
    std::pair<size_t, char const*> const columns[] = {
        { 0, "A" }, { 25, "Z" }, { 26, "AA" }, { 39, "AN" }, { 51, "AZ" }, { 52, "BA" }, { 701, "ZZ" }, { 702, "AAA" },
    };
    for (auto [index, name] : columns)
        EXPECT_EQ(column_name(index), name) << index;

    std::pair<char const*, bool> const numbers[] = {
        { "0", true }, { "123", true }, { "999999999999999", true }, { "1000000000000000", false },
        { "00123", false }, { "01", false }, { "", false }, { "-5", false }, { "+5", false }, { "1,000", false },
        { " 1", false }, { "1.5", false }, { "１２", false },
    };
    for (auto [text, number] : numbers)
        EXPECT_EQ(is_number_text(text), number) << text;
}

TEST(Zip, StoredEntriesInTheStandardLayout)
{
    auto zip = write_zip({ { "a.txt", "123456789" }, { "dir/empty", "" } });
    ASSERT_TRUE(zip.ok());
    auto parts = test::read_zip(zip.value());
    ASSERT_TRUE(parts);
    ASSERT_EQ(parts->size(), 2u);
    EXPECT_EQ((*parts)[0].name, "a.txt");
    EXPECT_EQ((*parts)[0].data, "123456789");
    EXPECT_EQ((*parts)[0].crc, 0xCBF43926u); // the standard CRC-32 check value
    EXPECT_EQ((*parts)[1].name, "dir/empty");
    EXPECT_EQ((*parts)[1].crc, 0u);
    for (auto const& part : *parts) {
        EXPECT_EQ(part.version_needed, 20);
        EXPECT_EQ(part.flags, 0);
        EXPECT_EQ(part.method, 0);
        EXPECT_EQ(part.time, 0);
        EXPECT_EQ(part.date, (1 << 5) | 1); // 1980-01-01
    }
    EXPECT_FALSE(write_zip({ { "", "x" } }).ok());
}

// The six parts of a workbook, by name, in the order they were stored.
std::vector<test::ZipPart> parts_of(Workbook const& workbook)
{
    auto parts = test::read_zip(workbook.bytes);
    EXPECT_TRUE(parts);
    return parts ? *parts : std::vector<test::ZipPart> {};
}

std::string sheet_of(Workbook const& workbook)
{
    for (auto const& part : parts_of(workbook)) {
        if (part.name == "xl/worksheets/sheet1.xml")
            return part.data;
    }
    return {};
}

TEST(Workbook, SixFixedPartsInOrder)
{
    auto workbook = write_workbook({ { "a" }, { "1" } });
    ASSERT_TRUE(workbook.ok());
    auto parts = parts_of(workbook.value());
    std::vector<std::string> names;
    for (auto const& part : parts) {
        names.push_back(part.name);
        EXPECT_EQ(part.crc, crc32(0, reinterpret_cast<Bytef const*>(part.data.data()), static_cast<uInt>(part.data.size())))
            << part.name;
    }
    EXPECT_EQ(names, (std::vector<std::string> { "[Content_Types].xml", "_rels/.rels", "xl/workbook.xml",
                         "xl/_rels/workbook.xml.rels", "xl/styles.xml", "xl/worksheets/sheet1.xml" }));
    EXPECT_NE(parts[2].data.find(R"(<sheet name="발송목록" sheetId="1" r:id="rId1"/>)"), std::string::npos);
    EXPECT_NE(parts[2].data.find(R"(windowWidth="24000" windowHeight="12000")"), std::string::npos);
    EXPECT_NE(parts[4].data.find(R"(<cellXfs count="5">)"), std::string::npos);
    EXPECT_EQ(workbook.value().data_rows, 1u);
}

TEST(Workbook, CellsColumnsAndFrozenHeader)
{
    CsvTable table {
        { "주문번호", "", "수량", "결제금액", "메모" },
        { "00123", "x", "00123", "15000", "_x0041_" },
        { "7", "", "0", "-500", "a&b" },
        { "", "", "123456789012345", "1234567890123456" },
    };
    auto workbook = write_workbook(table);
    ASSERT_TRUE(workbook.ok());
    EXPECT_EQ(workbook.value().data_rows, 3u);
    std::string sheet = sheet_of(workbook.value());

    std::string_view const expected[] = {
        R"(<pane ySplit="1" topLeftCell="A2" activePane="bottomLeft" state="frozen"/>)",
        R"(<selection pane="bottomLeft" activeCell="A2" sqref="A2"/>)",
        R"(<sheetFormatPr defaultRowHeight="15"/>)",
        // Text columns carry the text style; the quantity and amount columns do not.
        R"(<cols><col min="1" max="1" width="20" customWidth="1" style="2"/>)"
        R"(<col min="2" max="2" width="11" customWidth="1" style="2"/>)"
        R"(<col min="3" max="3" width="18" customWidth="1"/>)"
        R"(<col min="4" max="4" width="14" customWidth="1"/>)"
        R"(<col min="5" max="5" width="12" customWidth="1" style="2"/></cols>)",
        // The header: tall, styled, an empty header cell still styled.
        R"(<row r="1" ht="30" customHeight="1"><c r="A1" s="1" t="inlineStr"><is><t xml:space="preserve">주문번호</t></is></c><c r="B1" s="1"/>)",
        // A leading zero stays text even in the quantity column; numbers only there.
        R"(<row r="2"><c r="A2" s="2" t="inlineStr"><is><t xml:space="preserve">00123</t></is></c>)"
        R"(<c r="B2" s="2" t="inlineStr"><is><t xml:space="preserve">x</t></is></c>)"
        R"(<c r="C2" s="2" t="inlineStr"><is><t xml:space="preserve">00123</t></is></c><c r="D2"><v>15000</v></c>)"
        R"(<c r="E2" s="2" t="inlineStr"><is><t xml:space="preserve">_x005F_x0041_</t></is></c></row>)",
        // Empty fields give no cell; a sign makes text.
        R"(<row r="3"><c r="A3" s="2" t="inlineStr"><is><t xml:space="preserve">7</t></is></c><c r="C3"><v>0</v></c>)"
        R"(<c r="D3" s="2" t="inlineStr"><is><t xml:space="preserve">-500</t></is></c>)"
        R"(<c r="E3" s="2" t="inlineStr"><is><t xml:space="preserve">a&amp;b</t></is></c></row>)",
        // Fifteen digits make a number, sixteen would lose one.
        R"(<row r="4"><c r="C4"><v>123456789012345</v></c>)"
        R"(<c r="D4" s="2" t="inlineStr"><is><t xml:space="preserve">1234567890123456</t></is></c></row>)",
        R"(<pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/></worksheet>)",
    };
    for (auto fragment : expected)
        EXPECT_NE(sheet.find(fragment), std::string::npos) << fragment << "\nin\n" << sheet;
}

TEST(Workbook, WidthsPastTheListAndTheColumnLimit)
{
    CsvRow wide;
    for (int i = 0; i < 40; ++i)
        wide.push_back("c" + std::to_string(i));
    auto workbook = write_workbook({ { "h" }, wide });
    ASSERT_TRUE(workbook.ok());
    std::string sheet = sheet_of(workbook.value());
    EXPECT_NE(sheet.find(R"(<col min="14" max="14" width="17" customWidth="1" style="2"/>)"), std::string::npos);
    EXPECT_NE(sheet.find(R"(<col min="15" max="15" width="14" customWidth="1" style="2"/>)"), std::string::npos);
    EXPECT_NE(sheet.find(R"(<col min="40" max="40" width="14")"), std::string::npos);
    EXPECT_NE(sheet.find(R"(<c r="AN2" s="2" t="inlineStr"><is><t xml:space="preserve">c39</t>)"), std::string::npos);
    EXPECT_EQ(sheet.find(R"(min="41")"), std::string::npos);
}

std::string csv_rows(size_t rows, std::string const& field)
{
    std::string text = "주문번호,수량\r\n";
    for (size_t i = 0; i < rows; ++i)
        text += field + ",1\r\n";
    return text;
}

TEST(ShippingList, MessagesOfEachFailure)
{
    std::string forty_one = "h\r\n";
    for (int i = 0; i < 41; ++i)
        forty_one += "x,";
    forty_one.back() = '\n';

    struct Case {
        char const* name;
        std::string csv;
        std::string message;
    };
    Case const cases[] = {
        { "larger than 24 MiB", std::string(max_shipping_list_bytes + 1, 'a'), text::list_too_large },
        { "not decodable", "\xFF\xFF\xFF", text::conversion_failed("글자를 읽지 못했어요") },
        { "41 fields", forty_one, "발송 목록을 엑셀로 바꾸지 못했어요(칸이 너무 많아요). 기간을 나눠 다시 저장해 주세요." },
        { "5,002 rows", csv_rows(5001, "a"), text::conversion_failed(text::too_many_rows) },
        { "no rows", "\r\n\r\n", text::list_empty },
        { "empty", "", text::list_empty },
        // Each "&" grows fivefold in the sheet: 20 MiB of them pass its limit.
        { "sheet data past 96 MiB", csv_rows(5000, std::string(4200, '&')), text::list_too_large },
    };
    for (auto const& c : cases) {
        auto workbook = shipping_list_workbook(c.csv);
        ASSERT_FALSE(workbook.ok()) << c.name;
        EXPECT_EQ(workbook.error().message, c.message) << c.name;
    }
}

TEST(ShippingList, ExcelCodePageListBecomesAWorkbook)
{
    // "주문번호,수량" / "김치,2" in code page 949.
    auto workbook = shipping_list_workbook("\xC1\xD6\xB9\xAE\xB9\xF8\xC8\xA3,\xBC\xF6\xB7\xAE\r\n\xB1\xE8\xC4\xA1,2\r\n"s);
    ASSERT_TRUE(workbook.ok()) << workbook.error().message;
    std::string sheet = sheet_of(workbook.value());
    EXPECT_NE(sheet.find(R"(<t xml:space="preserve">주문번호</t>)"), std::string::npos);
    EXPECT_NE(sheet.find(R"(<c r="B2"><v>2</v></c>)"), std::string::npos);
}

TEST(ShippingList, WhatCountsAsACsvAnswer)
{
    std::pair<std::string, bool> const answers[] = {
        { "주문번호,수량\r\n", true },
        { "\xEF\xBB\xBF주문번호\r\n", true },
        { "\xC1\xD6\xB9\xAE\r\n"s, true },
        { "1,2,3\n", true },
        { "", false },
        { " \r\n\t", false },
        { R"({"resultCode":"9","message":"권한 없음"})", false },
        { "  [1,2]", false },
        { "<!DOCTYPE html><html>502 Bad Gateway</html>", false },
        { "\xEF\xBB\xBF\r\n<?xml version=\"1.0\"?>", false },
        { "PK\x03\x04\x14\x00\x00\x00"s, false },
        { "\xFF\xFF\xFF", false },
    };
    for (auto const& [body, csv] : answers)
        EXPECT_EQ(is_csv_answer(body), csv) << body;
}

TEST(ShippingList, RowsOfAListKeptAsCsv)
{
    EXPECT_EQ(shipping_list_data_rows("주문번호,수량\r\n1,2\r\n\r\n3,4\r\n"), 2u);
    EXPECT_EQ(shipping_list_data_rows("주문번호\r\n"), 0u);
    EXPECT_EQ(shipping_list_data_rows(""), 0u);
    EXPECT_EQ(shipping_list_data_rows("\xFF\xFF"), 0u);
}

TEST(ShippingList, SaveFailuresSayWhatWentWrong)
{
    char pattern[] = "/tmp/tb-save-XXXXXX";
    std::string dir = mkdtemp(pattern);
    EXPECT_TRUE(save_shipping_list(dir + "/발송목록.csv", "a,b\r\n").ok());

    auto missing = save_shipping_list(dir + "/no/such/발송목록.csv", "a");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().message, "파일을 쓰지 못했습니다(열려 있거나 권한이 없음 — 오류 2)");

    std::filesystem::create_directory(dir + "/folder.xlsx");
    auto taken = save_shipping_list(dir + "/folder.xlsx", "a");
    ASSERT_FALSE(taken.ok());
    EXPECT_EQ(taken.error().message, text::file_not_written(EISDIR));
    std::filesystem::remove_all(dir);
}

} // namespace
