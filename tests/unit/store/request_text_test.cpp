// The request texts of the back-office commands: values that would cut the
// text or add a parameter travel encoded, control bytes are refused, and the
// pattern's placeholders take the arguments the way each command needs.

#include "store/request_text.h"

#include <gtest/gtest.h>

using namespace tillbay;
using store::ValueEncoding;

TEST(RequestValue, EncodesWhatWouldChangeTheRequestAndRefusesControlBytes)
{
    struct Case {
        std::string value;
        ValueEncoding encoding;
        std::string sent; // empty: refused
    } const cases[] = {
        { "김치찌개", ValueEncoding::Safe, "김치찌개" },
        { "a&b=c", ValueEncoding::Safe, "a%26b%3Dc" },
        { "&storeidx=2", ValueEncoding::Safe, "%26storeidx%3D2" },
        { "100% +1 #2", ValueEncoding::Safe, "100%25 %2B1 %232" },
        { "줄\n바꿈\r\t끝", ValueEncoding::Safe, "줄%0A바꿈%0D%09끝" },
        { std::string("nul\0x", 5), ValueEncoding::Safe, "" },
        { "bell\x07", ValueEncoding::Safe, "" },
        { "del\x7f", ValueEncoding::Safe, "" },
        { "맵게", ValueEncoding::EveryByte, "%EB%A7%B5%EA%B2%8C" },
        { "a&\n", ValueEncoding::EveryByte, "%61%26%0A" },
        // Already encoded by the page: escapes kept, anything unsafe encoded.
        { "%EC%BF%A0%ED%8F%B0", ValueEncoding::PageEncoded, "%EC%BF%A0%ED%8F%B0" },
        { "50%&x=1", ValueEncoding::PageEncoded, "50%25%26x%3D1" },
        { "%4", ValueEncoding::PageEncoded, "%254" },
    };
    for (auto const& c : cases) {
        auto encoded = store::encode_value(c.value, c.encoding);
        if (c.sent.empty()) {
            ASSERT_FALSE(encoded.ok()) << c.value;
            EXPECT_EQ(encoded.error().message, store::text_bad_value);
        } else {
            ASSERT_TRUE(encoded.ok()) << c.value;
            EXPECT_EQ(encoded.value(), c.sent) << c.value;
        }
    }
}

TEST(RequestPattern, PlaceholdersTakeTheArguments)
{
    struct Case {
        std::string pattern;
        std::vector<std::string> fields;
        std::string sent; // empty: refused
    } const cases[] = {
        { "cmd=34&storeidx={s}&ctname={1}", { "addcategory", "국 & 탕" }, "cmd=34&storeidx=7&ctname=국 %26 탕" },
        { "cmd=10&storeidx={s}&categoryidx={1}", { "getmenulist" }, "cmd=10&storeidx=7&categoryidx=" },
        { "cmd=113&storeidx={s}&orderidx={#1}&tablenum={#2}", { "movetable", "12", "3" }, "cmd=113&storeidx=7&orderidx=12&tablenum=3" },
        { "cmd=113&storeidx={s}&orderidx={#1}", { "movetable", "12&x=1" }, "" },
        { "cmd=113&storeidx={s}&orderidx={#1}", { "movetable", "" }, "" },
        { "cmd=113&storeidx={s}&orderidx={#1}", { "movetable", "1234567890123" }, "" },
        { "cmd=71&storeidx={s}&value={%1}", { "saveaisetting", "a b" }, "cmd=71&storeidx=7&value=%61%20%62" },
        // Free text keeps a field separator it held.
        { "cmd=75&reviewidx={1}&reply={*2}", { "reviewreply", "5", "좋아요 </", "> 또 오세요" }, "cmd=75&reviewidx=5&reply=좋아요 </</>> 또 오세요" },
        { "cmd=75&reviewidx={1}&reply={*2}", { "reviewreply", "5" }, "cmd=75&reviewidx=5&reply=" },
        // The store is the session's, whatever the page sends.
        { "cmd=9&storeidx={s}", { "menuready", "storeidx=99" }, "cmd=9&storeidx=7" },
    };
    for (auto const& c : cases) {
        auto filled = store::fill_request(c.pattern, bridge::Command { c.fields, 1, false }, 7);
        if (c.sent.empty()) {
            EXPECT_FALSE(filled.ok()) << c.pattern;
        } else {
            ASSERT_TRUE(filled.ok()) << c.pattern;
            EXPECT_EQ(filled.value().str(), c.sent) << c.pattern;
        }
    }
}
