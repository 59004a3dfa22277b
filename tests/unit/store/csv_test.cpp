#include "store/csv.h"

#include <gtest/gtest.h>

using namespace tillbay;
using namespace tillbay::store;

namespace {

TEST(CsvReader, ReadsWhatSpreadsheetProgramsWrite)
{
    struct Case {
        char const* name;
        std::string text;
        CsvTable table;
    };
    Case const cases[] = {
        { "empty", "", {} },
        { "CR LF rows", "a,b\r\n1,2\r\n", { { "a", "b" }, { "1", "2" } } },
        { "LF and lone CR rows", "a\nb\rc", { { "a" }, { "b" }, { "c" } } },
        { "no line end at the end", "a,b", { { "a", "b" } } },
        { "byte order mark skipped", "\xEF\xBB\xBFid,name\n", { { "id", "name" } } },
        { "empty fields kept", ",a,,\n", { { "", "a", "", "" } } },
        { "blank lines dropped", "a\n\n\r\n\rb\n", { { "a" }, { "b" } } },
        { "quoted empty row dropped too", "a\n\"\"\nb", { { "a" }, { "b" } } },
        { "a blank field is not a blank line", "a\n \nb", { { "a" }, { " " }, { "b" } } },
        { "quoted comma, line end and quote", "\"x,y\",\"1\r\n2\",\"say \"\"hi\"\"\"\n",
            { { "x,y", "1\r\n2", "say \"hi\"" } } },
        { "quoted field at the end of the text", "a,\"b\"", { { "a", "b" } } },
        { "unclosed quote runs to the end", "a,\"b,c\nd", { { "a", "b,c\nd" } } },
        { "text after a closing quote joins", "\"ab\"c,d", { { "abc", "d" } } },
        { "a quote inside a bare field is literal", "5\"3,x", { { "5\"3", "x" } } },
        { "Korean", "상품명,수량\r\n김치,2\r\n", { { "상품명", "수량" }, { "김치", "2" } } },
    };
    for (auto const& c : cases) {
        auto table = read_csv(c.text);
        ASSERT_TRUE(table.ok()) << c.name << ": " << table.error().detail;
        EXPECT_EQ(table.value(), c.table) << c.name;
    }
}

std::string row_of(size_t fields)
{
    std::string row;
    for (size_t i = 0; i < fields; ++i)
        row += (i ? "," : "") + std::to_string(i);
    return row;
}

std::string rows_of(size_t rows)
{
    std::string text;
    for (size_t i = 0; i < rows; ++i)
        text += std::to_string(i) + ",x\r\n";
    return text;
}

TEST(CsvReader, RefusesTablesBeyondTheLimits)
{
    struct Case {
        char const* name;
        std::string text;
        char const* message; // nullptr: accepted
    };
    Case const cases[] = {
        { "40 fields", row_of(40) + "\n", nullptr },
        { "41 fields", row_of(41) + "\n", text::too_many_fields },
        { "41 fields, the last one empty", row_of(40) + ",\n", text::too_many_fields },
        { "41 fields in a later row", "a\n" + row_of(41), text::too_many_fields },
        { "40 fields, the last a quoted list with a comma", row_of(39) + ",\"a,b\"\n", nullptr },
        { "5,001 rows", rows_of(5001), nullptr },
        { "5,002 rows", rows_of(5002), text::too_many_rows },
        { "5,002 rows without the last line end", rows_of(5001) + "last", text::too_many_rows },
        { "5,001 rows and blank lines", rows_of(5001) + "\r\n\r\n\n", nullptr },
    };
    for (auto const& c : cases) {
        auto table = read_csv(c.text);
        if (!c.message) {
            EXPECT_TRUE(table.ok()) << c.name << ": " << table.error().detail;
            continue;
        }
        ASSERT_FALSE(table.ok()) << c.name;
        EXPECT_EQ(table.error().message, c.message) << c.name;
    }
}

TEST(CsvWriter, QuotesOnlyWhatNeedsItAndReadsBack)
{
    CsvTable table {
        { "상품명", "수량", "메모" },
        { "a,b", "say \"hi\"", "line\r\nbreak" },
        { "", "plain", "" },
        { " lead", "tail ", "\n" },
    };
    std::string text = write_csv(table);
    EXPECT_EQ(text,
        "상품명,수량,메모\r\n"
        "\"a,b\",\"say \"\"hi\"\"\",\"line\r\nbreak\"\r\n"
        ",plain,\r\n"
        " lead,tail ,\"\n\"\r\n");
    auto back = read_csv(text);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.value(), table);

    // A first cell that opens with U+FEFF must not read back as a byte order mark.
    CsvTable opening_mark { { "\xEF\xBB\xBF?", "" } };
    EXPECT_EQ(read_csv(write_csv(opening_mark)).value(), opening_mark);
    EXPECT_EQ(read_csv(write_csv(opening_mark, ByteOrderMark::Utf8)).value(), opening_mark);

    std::string marked = write_csv({ { "a" } }, ByteOrderMark::Utf8);
    EXPECT_EQ(marked, "\xEF\xBB\xBF" "a\r\n");
    EXPECT_EQ(read_csv(marked).value(), (CsvTable { { "a" } }));
}

} // namespace
