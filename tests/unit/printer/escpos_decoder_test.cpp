#include "tools/printer/escpos_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tillbay::printer;
using namespace std::string_literals;

namespace {

// "영수증" and "김밥" in code page 949.
std::string const receipt_cp949 = "\xbf\xb5\xbc\xf6\xc1\xf5";
std::string const gimbap_cp949 = "\xb1\xe8\xb9\xe4";

std::string text_of(std::string const& bytes)
{
    return render_text(decode(bytes));
}

struct Case {
    char const* name;
    std::string bytes;
    std::string expected;
};

} // namespace

TEST(EscposDecoder, CommandsTheProgramSendsBecomeReadableTags)
{
    std::vector<Case> cases = {
        { "initialise and text", "\x1b@" + receipt_cp949 + "\n", "[initialise]영수증\n" },
        { "alignment", "\x1b" "a\x01" "c\n\x1b" "a\x02r\x1b" "a0l\x1b" "a1", "[align center]c\n[align right]r[align left]l[align center]" },
        { "print mode", "\x1b!\x30" "A\x1b!\x38" "B\x1b!\x00"s, "[print mode 0x30 (size 2x2)]A[print mode 0x38 (size 2x2, bold)]B[print mode 0x00 (normal)]" },
        { "character size", "\x1d!\x11" "x\x1d!\x22y\x1d!\x00"s, "[size 2x2]x[size 3x3]y[size 1x1]" },
        { "bold", "\x1b" "E\x01on\x1b" "E\x00off"s, "[bold on]on[bold off]off" },
        { "line spacing", "\x1b" "2\x1b" "3\x1e", "[line spacing default][line spacing 30]" },
        { "feeds", "\x1b" "d\x03\x1bJ\x18", "[feed 3 lines][feed 24 dots]" },
        { "partial cut with feed", "\x1dVB\x00"s, "[cut partial after feed 0]\n" },
        { "full cut", "\x1dV\x00"s, "[cut full]\n" },
        { "drawer pin 5", "\x1bp\x01\x19\xfa", "[drawer pulse pin 5 on 50 ms off 500 ms]" },
        { "drawer pin 2", "\x1bp\x00\x19\xfa"s, "[drawer pulse pin 2 on 50 ms off 500 ms]" },
        { "code page selection", "\x1bt\x0d\x1c&\x1c.", "[code table 13][double-byte mode on][double-byte mode off]" },
        { "qr code", "\x1d(k\x04\x00" "1A2\x00" "\x1d(k\x03\x00" "1C\x06" "\x1d(k\x03\x00" "1E1" "\x1d(k\x08\x00" "1P0https" "\x1d(k\x03\x00" "1Q0"s,
            "[qr model 2][qr module size 6][qr error level M][qr data \"https\"][qr print]" },
        { "barcode", "\x1dk\x49\x03" "abc" "\x1dk\x04" "12\x00"s, "[barcode CODE128 \"abc\"][barcode CODE39 \"12\"]" },
        { "raster image skipped whole", "\x1dv0\x00\x02\x00\x02\x00" "ABCD" "after"s, "[raster image 16x2]after" },
        { "carriage return is silent", "a\r\nb", "a\nb" },
        { "tab", "a\tb", "a\tb" },
    };
    for (auto const& c : cases)
        EXPECT_EQ(text_of(c.bytes), c.expected) << c.name;
}

TEST(EscposDecoder, Cp949TextAndBrokenSequences)
{
    std::vector<Case> cases = {
        { "mixed Korean and ASCII", "No." + gimbap_cp949 + " 2", "No.김밥 2" },
        { "lead byte without trail before LF", "\xb1\n", "[hex B1]\n" },
        { "invalid lead byte", "a\xff" "b", "a[hex FF]b" },
        { "lead byte 0x80", "\x80x", "[hex 80]x" },
        { "lead byte with a trail outside the code page", "\x81 x", "[hex 81] x" },
        { "text split by a command", "\xb1\xe8\x1b" "E\x01\xb9\xe4", "김[bold on]밥" },
    };
    for (auto const& c : cases)
        EXPECT_EQ(text_of(c.bytes), c.expected) << c.name;
}

TEST(EscposDecoder, UnknownAndTruncatedCommandsNeverStopDecoding)
{
    std::vector<Case> cases = {
        { "unknown ESC", "\x1b~x", "[hex 1B 7E]x" },
        { "unknown GS", "\x1d\xffx", "[hex 1D FF]x" },
        { "unknown FS", "\x1cZx", "[hex 1C 5A]x" },
        { "lone control bytes", "\x01\x07\x7f" "a"s, "[hex 01][hex 07][hex 7F]a" },
        { "NUL", "\x00" "a"s, "[hex 00]a" },
        { "ESC at the end", "a\x1b", "a[incomplete 1B]" },
        { "ESC a at the end", "\x1b" "a", "[incomplete 1B 61]" },
        { "drawer pulse cut short", "\x1bp\x01", "[incomplete 1B 70 01]" },
        { "QR length beyond the end", "\x1d(k\xff\xff" "1P0abc", "[incomplete 1D 28 6B FF FF 31 50 30 61 62 63]" },
        { "raster image larger than the job", "\x1dv0\x00\xff\xff\xff\xff" "x"s, "[incomplete 1D 76 30 00 FF FF FF FF 78]" },
        { "barcode without its NUL", "\x1dk\x04" "123", "[incomplete 1D 6B 04 31 32 33]" },
        { "cut with unknown mode", "\x1dV\x05x", "[hex 1D 56][hex 05]x" },
    };
    for (auto const& c : cases)
        EXPECT_EQ(text_of(c.bytes), c.expected) << c.name;

    // A long incomplete tail is shown shortened.
    std::string tail = "\x1d(k\xff\x7f" + std::string(100, 'z');
    EXPECT_NE(text_of(tail).find("…]"), std::string::npos);
}

TEST(EscposDecoder, EventsCarryTheValuesTheHtmlNeeds)
{
    auto events = decode("\x1b" "a\x01\x1d!\x10\x1bp\x01\x32\x64\x1dVA\x05"s);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].kind, EventKind::Align);
    EXPECT_EQ(events[0].n1, 1);
    EXPECT_EQ(events[1].kind, EventKind::CharSize);
    EXPECT_EQ(events[1].n1, 2);
    EXPECT_EQ(events[1].n2, 1);
    EXPECT_EQ(events[2].kind, EventKind::DrawerPulse);
    EXPECT_EQ(events[2].n1, 5);
    EXPECT_EQ(events[2].n2, 100);
    EXPECT_EQ(events[2].n3, 200);
    EXPECT_EQ(events[3].kind, EventKind::Cut);
    EXPECT_EQ(events[3].n1, 0);
    EXPECT_EQ(events[3].n2, 5);
}

TEST(EscposHtml, LooksLikeAPaperReceipt)
{
    std::string job = "\x1b@\x1b" "a\x01\x1b!\x30" + receipt_cp949 + "\n\x1b!\x00\x1b" "a\x00" "<b>&amp;</b>\n"s
        + "\x1b" "E\x01" "bold\x1b" "E\x00\n\x1bp\x01\x19\xfa\x1dVB\x00" "second slip\n\x1dVB\x00\xff"s;
    std::string html = render_html(decode(job));

    EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(html.find("text-align:center"), std::string::npos);
    EXPECT_NE(html.find("font-size:2em;\">영수증</span>"), std::string::npos);
    EXPECT_NE(html.find("&lt;b&gt;&amp;amp;&lt;/b&gt;"), std::string::npos);
    EXPECT_EQ(html.find("<b>&amp;</b>"), std::string::npos);
    EXPECT_NE(html.find("font-weight:bold;\">bold</span>"), std::string::npos);
    EXPECT_NE(html.find("class=\"note\">현금서랍 신호 · 핀 5"), std::string::npos);
    // Two cuts: three paper pieces, the last holding only the hex tag of the stray byte.
    size_t cuts = 0;
    for (size_t at = html.find("class=\"cut\""); at != std::string::npos; at = html.find("class=\"cut\"", at + 1))
        ++cuts;
    EXPECT_EQ(cuts, 2u);
    size_t papers = 0;
    for (size_t at = html.find("<section class=\"paper\">"); at != std::string::npos; at = html.find("<section class=\"paper\">", at + 1))
        ++papers;
    EXPECT_EQ(papers, 3u);
    EXPECT_NE(html.find("[hex FF]"), std::string::npos);

    // A cut at the very end leaves no empty slip behind it.
    std::string ends_with_cut = render_html(decode("a\n\x1dVB\x00"s));
    EXPECT_EQ(ends_with_cut.find("<section class=\"paper\">"), ends_with_cut.rfind("<section class=\"paper\">"));

    // A huge feed is drawn shortened instead of as thousands of empty lines.
    std::string feeds;
    for (int i = 0; i < 100; ++i)
        feeds += "\x1b" "d\xff";
    EXPECT_LT(render_html(decode(feeds)).size(), 200000u);
}

TEST(EscposDecoder, DisplayWidthCountsWideCharactersTwice)
{
    EXPECT_EQ(display_width("abc"), 3u);
    EXPECT_EQ(display_width("영수증"), 6u);
    EXPECT_EQ(display_width("a한b"), 4u);
    EXPECT_EQ(display_width("\xff\xfe"), 2u);
    EXPECT_EQ(display_width("\xea"), 1u);
}
