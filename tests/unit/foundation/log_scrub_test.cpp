#include "foundation/log.h"
#include "foundation/log_internal.h"
#include "os/process.h"

#include <gtest/gtest.h>

#include <string>

using namespace tillbay;

namespace {

struct ScrubCase {
    char const* what;
    std::string message;
    std::string expected;
};

std::string const order_list = "window.setOrderList&&setOrderList(";
std::string const receipt_view = "window.setReceiptView&&setReceiptView(";
std::string const merch_state = "window.setMerchState&&setMerchState(";

std::string summary(std::string prefix, std::string const& argument, int count = -1)
{
    prefix += "*** " + std::to_string(argument.size()) + "B";
    if (count >= 0)
        prefix += " n=" + std::to_string(count);
    return prefix + ")";
}

std::string const two_orders = R"([{"orderidx":101,"tel":"010-1234-5678"},{"orderidx":102,"tel":"010-9876-5432"}])";
std::string const escaped_orders = R"("[{\"orderidx\":1},{\"orderidx\":2},{\"orderidx\":3}]")";
std::string const near_misses = R"([{"xorderidx":1,"orderidx" :2,"orderidxs":3,orderidx:4}])";

std::vector<ScrubCase> const scrub_cases = {
    // Bridge commands.
    { "login keeps the user name", "login</>kim</>pa55word", "login</>kim</>***" },
    { "login with only a user name", "login</>kim", "login</>kim" },
    { "login with an empty password field", "login</></>", "login</></>***" },
    { "setpin hides everything", "setpin</>1234", "setpin</>***" },
    { "setpin with more fields", "setpin</>1234</>5678", "setpin</>***" },
    { "mallshipcsv keeps three arguments", "mallshipcsv</>a</>b</>c</>d</>e", "mallshipcsv</>a</>b</>c</>***" },
    { "mallshipcsv with exactly three arguments", "mallshipcsv</>a</>b</>c", "mallshipcsv</>a</>b</>c" },
    { "savedelivery keeps two arguments", "savedelivery</>1</>2</>서울시 강남구</>010-1111-2222",
        "savedelivery</>1</>2</>***" },
    { "modifybank", "modifybank</>국민은행</>123-45-6789</>김철수", "modifybank</>***" },
    { "command name without separator", "setpin", "setpin" },
    { "command name is case-sensitive", "Login</>kim</>pw", "Login</>kim</>pw" },
    { "command name must be exact", "xlogin</>kim</>pw", "xlogin</>kim</>pw" },
    { "command name with a blank", "login </>kim</>pw", "login </>kim</>pw" },
    { "command only as a later field", "viewinfo</>login</>kim</>pw", "viewinfo</>login</>kim</>pw" },
    { "commands outside the table stay", "cancelorders</>1</>2", "cancelorders</>1</>2" },
    { "already hidden command", "login</>kim</>***", "login</>kim</>***" },

    // Callbacks whose argument is hidden.
    { "owner auth", R"(window.setOwnerAuth&&setOwnerAuth({"key":"c2VjcmV0","iv":"aXY="}))",
        "window.setOwnerAuth&&setOwnerAuth(***)" },
    { "hidden prefix with nothing after it", "window.setTabletCfg&&setTabletCfg(",
        "window.setTabletCfg&&setTabletCfg(***)" },
    { "photo upload", "window.setProductPhotoUp&&setProductPhotoUp(1,\"/home/u/a.jpg\")",
        "window.setProductPhotoUp&&setProductPhotoUp(***)" },

    // Callbacks whose data is summarised.
    { "order list with two orders", order_list + two_orders + ")", summary(order_list, two_orders, 2) },
    { "order list with keys inside a string literal", order_list + escaped_orders + ")",
        summary(order_list, escaped_orders, 3) },
    { "keys that only look like the counting key", order_list + near_misses + ")", summary(order_list, near_misses, 0) },
    { "order list cut before its end", order_list + "[{\"orderidx\":1,\"tel\":\"01",
        summary(order_list, "[{\"orderidx\":1,\"tel\":\"01", 1) },
    { "empty argument", "window.setData&&setData()", "window.setData&&setData(*** 0B)" },
    { "prefix alone", "window.setData&&setData(", "window.setData&&setData(*** 0B)" },
    { "row without a counting key", "window.setTodaySummary&&setTodaySummary({\"total\":12000})",
        "window.setTodaySummary&&setTodaySummary(*** 15B)" },
    { "receipt view keeps its number", receipt_view + "12,\"<div>김철수</div>\")",
        receipt_view + "12,*** " + std::to_string(std::string("\"<div>김철수</div>\"").size()) + "B)" },
    { "receipt view without a number", receipt_view + "x12,\"a\")", receipt_view + "*** 7B)" },
    { "receipt view number without a comma", receipt_view + "12)", receipt_view + "*** 2B)" },
    { "receipt view with an empty first argument", receipt_view + ",1)", receipt_view + "*** 2B)" },
    { "merch state keeps two numbers", merch_state + "1,2,3)", merch_state + "1,2,*** 1B)" },
    { "merch state stops at the first non-number", merch_state + "1,abc,2)", merch_state + "1,*** 5B)" },
    { "merch state with a negative number", merch_state + "-1,2)", merch_state + "*** 4B)" },
    { "already summarised", order_list + "*** 120B n=2)", order_list + "*** 120B n=2)" },
    { "already summarised after kept numbers", receipt_view + "12,*** 40B)", receipt_view + "12,*** 40B)" },
    { "callback prefix is case-sensitive", "window.setorderlist&&setorderlist([1])",
        "window.setorderlist&&setorderlist([1])" },
    { "SetMessageView keeps its capital", "window.SetMessageView&&SetMessageView({\"m\":1})",
        "window.SetMessageView&&SetMessageView(*** 7B)" },
    { "callback not at the start", " window.setOrderList&&setOrderList([1])", " window.setOrderList&&setOrderList([1])" },

    // Everything else, hostile input included.
    { "plain line", "주문 목록 새로 고침", "주문 목록 새로 고침" },
    { "empty", "", "" },
    { "separator alone", "</>", "</>" },
    { "separators only", "</></></>", "</></></>" },
    { "embedded NUL", std::string("login\0</>a</>b", 14), std::string("login\0</>a</>b", 14) },
    { "NUL inside a hidden command", std::string("login</>a\0b</>c\0d", 17), std::string("login</>a\0b</>***", 17) },
    { "invalid UTF-8", "setpin</>\xff\xfe\x80", "setpin</>***" },
    { "half a separator", "login</a</>b", "login</a</>b" },
};

TEST(LogScrub, Table)
{
    for (auto const& c : scrub_cases) {
        auto scrubbed = log::scrub(c.message);
        EXPECT_EQ(scrubbed, c.expected) << c.what;
        // A scrubbed message is a fixed point, which makes rescrubbing safe.
        EXPECT_EQ(log::scrub(scrubbed), scrubbed) << c.what;
    }
}

TEST(LogScrub, LargeArgumentIsSummarisedWithItsFullLength)
{
    std::string argument = "[";
    for (int i = 0; i < 20'000; ++i)
        argument += "{\"orderidx\":" + std::to_string(i) + ",\"memo\":\"맵게 해 주세요\"},";
    argument.back() = ']';
    EXPECT_EQ(log::scrub(order_list + argument + ")"), summary(order_list, argument, 20'000));
}

TEST(LogScrub, RescrubText)
{
    std::string const old_log = "==== 2023-01-01 09:00 켬  v1.3.100 ====\r\n" // header written without a tag
                                "09:00:01.000 ---- ==== 2023-01-01 09:00 켬  v1.3.100 ====\r\n"
                                "09:00:02.000 JS>> login</>kim</>pa55word\r\n"
                                "09:00:03.000 <<UI "
        + order_list + two_orders
        + ")\r\n"
          "09:00:04.000 JS>> setpin</>1234\n" // LF only
          "09:00:05.000 UI \r\n" // empty message
          "nospaces\r\n"
          "\r\n"
          "09:00:06.000 JS>> setpin</>9999"; // last line without a line end

    auto first = log::detail::rescrub_text(old_log);
    EXPECT_EQ(first.changed_lines, 4);
    std::string const expected = "==== 2023-01-01 09:00 켬  v1.3.100 ====\r\n"
                                 "09:00:01.000 ---- ==== 2023-01-01 09:00 켬  v1.3.100 ====\r\n"
                                 "09:00:02.000 JS>> login</>kim</>***\r\n"
                                 "09:00:03.000 <<UI "
        + summary(order_list, two_orders, 2)
        + "\r\n"
          "09:00:04.000 JS>> setpin</>***\n"
          "09:00:05.000 UI \r\n"
          "nospaces\r\n"
          "\r\n"
          "09:00:06.000 JS>> setpin</>***";
    EXPECT_EQ(first.content, expected);

    auto second = log::detail::rescrub_text(first.content);
    EXPECT_EQ(second.changed_lines, 0);
    EXPECT_EQ(second.content, first.content);
}

TEST(LogScrub, RescrubKeepsAMessageWithACarriageReturnInside)
{
    // Only trailing CR and LF belong to the line end.
    std::string const line = "09:00:00.000 JS>> setpin</>1\r2\r\r\n";
    auto result = log::detail::rescrub_text(line);
    EXPECT_EQ(result.content, "09:00:00.000 JS>> setpin</>***\r\r\n");
    EXPECT_EQ(result.changed_lines, 1);
}

TEST(LogScrub, CrashModuleName)
{
    struct Case {
        std::string path;
        std::string expected;
    };
    std::string const long_name(70, 'a');
    std::vector<Case> const cases = {
        { "/usr/lib/x86_64-linux-gnu/libc.so.6", "libc.so.6" },
        { "/opt/가게/tillbay", "tillbay" },
        { "/opt/x/틸베이", std::string(9, '?') },
        { "/lib/" + long_name, std::string(60, 'a') },
        { "[vdso]", "[vdso]" },
        { "/usr/lib/", "" },
        { "", "" },
    };
    for (auto const& c : cases) {
        char out[60];
        size_t n = os::process::crash_module_name(c.path.data(), c.path.size(), out);
        EXPECT_EQ(std::string(out, n), c.expected) << c.path;
    }
}

} // namespace
