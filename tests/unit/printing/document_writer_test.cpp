#include "printing/document_writer.h"
#include "printing/utf8_text.h"

#include <gtest/gtest.h>

using namespace tillbay::printing;

namespace {

PrinterRecord printer(int width)
{
    PrinterRecord record;
    record.width = width;
    return record;
}

TEST(Utf8Text, DisplayWidths)
{
    struct Case {
        std::string text;
        int width;
    };
    std::vector<Case> const cases {
        { "", 0 },
        { "No.123", 6 },
        { "영수증", 6 },
        { "김치찌개 2", 10 },
        { "\xE1\x84\x80", 2 },        // U+1100, the first wide character
        { "\xE1\x83\xBF", 1 },        // U+10FF
        { "·", 1 },
        { "—", 2 },
        { "\xF0\x9F\x98\x80", 2 },    // an emoji
        { "\xFF\xFE" "ab", 4 },       // not UTF-8: one column a byte
        { "\xEC\x98", 2 },            // a cut-off character
    };
    for (auto const& c : cases)
        EXPECT_EQ(display_width(c.text), c.width) << c.text;
    EXPECT_EQ(fit_width("가나다라", 5), 6u) << "a wide character that does not fit stays out";
    EXPECT_EQ(fit_width("ab가", 3), 2u);
}

TEST(Utf8Text, ControlBytesAreRemoved)
{
    char const raw[] = "덜 맵게\x1bp\x00\x19\xfa 부탁\x1dVB\x00\x7f!";
    std::string memo(raw, sizeof raw - 1);
    EXPECT_EQ(without_controls(memo), "덜 맵게p\xfa 부탁VB!");
}

TEST(DocumentWriter, ViewItemsAndFlags)
{
    auto record = printer(80);
    DocumentWriter w(record, receipt_capacity, WithView::Yes);
    w.start();
    w.section("title");
    w.align_center(true);
    w.big(true);
    w.text("영수증");
    w.newline();
    w.big(false);
    w.align_center(false);
    w.newline();
    w.rule('=');
    w.left_right("a\"b", "c\\d");
    w.label_value("상호", "틸베이\x01");
    w.three_columns("1", "2", "3");
    w.two_pairs("l1", "v1", "l2", "v2");
    w.item("01 김치", "9,000", "2", "18,000");
    w.big_line("판매금액", "18,000");
    auto document = w.finish("영수증");
    ASSERT_TRUE(document.ok());
    EXPECT_EQ(document.value().view,
        R"([{"t":"sec","n":"title"},{"t":"tx","s":"영수증","a":1,"z":1,"b":0},{"t":"nl"},{"t":"hr","c":"="},)"
        R"({"t":"kv","l":"a\"b","v":"c\\d"},{"t":"lv","l":"상호","v":"틸베이"},{"t":"c3","a":"1","c":"2","d":"3"},)"
        R"({"t":"p2","l1":"l1","v1":"v1","l2":"l2","v2":"v2"},{"t":"item","n":"01 김치","p":"9,000","q":"2","a":"18,000"},)"
        R"({"t":"kv","l":"판매금액","v":"18,000","a":0,"z":1,"b":0}])");
}

TEST(DocumentWriter, LinesAtTheRecordsWidth)
{
    struct Case {
        int width;
        std::string expected;
    };
    // A left-right line, a label-value line, three columns and two pairs.
    std::vector<Case> const cases {
        { 58, "합계                       1,000\n"
              "상호  : 틸베이\n"
              "           1,000     2     2,000\n"
              "과세금액                   1,000\n"
              "면세금액                       0\n" },
        { 80, "합계                                       1,000\n"
              "상호    : 틸베이\n"
              "                        1,000     2        2,000\n"
              "과세금액         1,000  면세금액               0\n" },
    };
    for (auto const& c : cases) {
        auto record = printer(c.width);
        record.codepage = 65001;
        DocumentWriter w(record, receipt_capacity, WithView::No);
        w.left_right("합계", "1,000");
        w.label_value("상호", "틸베이");
        w.three_columns("1,000", "2", "2,000");
        w.two_pairs("과세금액", "1,000", "면세금액", "0");
        auto document = w.finish("t");
        ASSERT_TRUE(document.ok());
        EXPECT_EQ(document.value().bytes, c.expected) << c.width;
    }
}

TEST(DocumentWriter, WrappedValuesAndRules)
{
    auto record = printer(58);
    record.codepage = 65001;
    DocumentWriter w(record, receipt_capacity, WithView::No);
    w.label_value_wrapped("주소", "서울특별시 마포구 양화로 45 1층 틸베이빌딩");
    w.rule('-');
    auto document = w.finish("t");
    ASSERT_TRUE(document.ok());
    EXPECT_EQ(document.value().bytes, "주소  : 서울특별시 마포구 양화로\n"
                                      " 45 1층 틸베이빌딩\n"
                                      + std::string(32, '-') + "\n");
    PrinterRecord wide = printer(80);
    wide.cols = 96;
    DocumentWriter r(wide, receipt_capacity, WithView::No);
    r.rule('=');
    EXPECT_EQ(r.finish("t").value().bytes, std::string(79, '=') + "\n");
}

TEST(DocumentWriter, TextIsConvertedPerCharacter)
{
    auto record = printer(80);
    DocumentWriter w(record, receipt_capacity, WithView::No);
    w.text("가\xF0\x9F\x98\x80나\x1bp");
    auto document = w.finish("t");
    ASSERT_TRUE(document.ok());
    EXPECT_EQ(document.value().bytes, "\xB0\xA1?\xB3\xAAp") << "an emoji becomes '?', the rest stays code page 949";
    DocumentWriter dash(record, receipt_capacity, WithView::No);
    dash.text("가—나");
    EXPECT_EQ(dash.finish("t").value().bytes, "\xB0\xA1\xA1\xAA\xB3\xAA") << "the em dash prints as the horizontal bar";
    record.codepage = 99999;
    DocumentWriter unknown(record, receipt_capacity, WithView::No);
    unknown.text("가");
    EXPECT_EQ(unknown.finish("t").value().bytes, "가") << "a code page the machine lacks gets UTF-8";
}

TEST(DocumentWriter, ADocumentOverItsCapacityIsRefusedWhole)
{
    auto record = printer(80);
    DocumentWriter w(record, 64, WithView::No);
    for (int i = 0; i < 10; ++i)
        w.text("0123456789");
    auto document = w.finish("영수증");
    ASSERT_FALSE(document.ok());
    EXPECT_EQ(document.error().message, "영수증 내용이 너무 깁니다 (100/64 바이트)");
    DocumentWriter view(record, receipt_capacity, WithView::Yes, 40);
    view.text("0123456789012345678901234567890123456789");
    EXPECT_FALSE(view.finish("영수증").ok());
}

TEST(DocumentWriter, Amounts)
{
    struct Case {
        long long amount;
        std::string text;
    };
    for (auto const& c : std::vector<Case> { { 0, "0" }, { 999, "999" }, { 1000, "1,000" }, { -12000, "-12,000" },
             { 1234567, "1,234,567" }, { INT64_MIN, "-9,223,372,036,854,775,808" } })
        EXPECT_EQ(won(c.amount), c.text) << c.amount;
}

} // namespace
