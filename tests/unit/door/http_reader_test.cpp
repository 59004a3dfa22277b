#include "door/door_token.h"
#include "door/http_request.h"

#include <gtest/gtest.h>

using namespace tillbay::door;
using State = ReadOutcome::State;

namespace {

struct ReaderCase {
    char const* name;
    std::string input;
    bool ended;
    State state;
    ReadFailure failure = ReadFailure::None;
};

class ReaderCases : public ::testing::TestWithParam<ReaderCase> { };

TEST_P(ReaderCases, ReadsOrRefuses)
{
    auto const& c = GetParam();
    ReadOutcome outcome = read_request(c.input, c.ended);
    EXPECT_EQ(outcome.state, c.state) << c.name;
    EXPECT_EQ(outcome.failure, c.failure) << c.name;
}

std::string with_body(std::string const& length, std::string const& body)
{
    return "POST /act HTTP/1.1\r\nContent-Length: " + length + "\r\n\r\n" + body;
}

INSTANTIATE_TEST_SUITE_P(Door, ReaderCases,
    ::testing::Values(ReaderCase { "whole", "GET /state HTTP/1.1\r\nHost: x\r\n\r\n", false, State::Done },
        ReaderCase { "bare LF end", "GET / HTTP/1.0\nHost: x\n\n", false, State::Done },
        ReaderCase { "head still coming", "GET /state HTTP/1.1\r\nHost:", false, State::NeedMore },
        ReaderCase { "head cut by the peer", "GET /state HTTP/1.1\r\nHost:", true, State::Failed, ReadFailure::NoHeaderEnd },
        ReaderCase { "no blank line in 16 KiB", "GET / HTTP/1.1\r\nX: " + std::string(max_head_bytes, 'a'), false,
            State::Failed, ReadFailure::NoHeaderEnd },
        ReaderCase { "blank line just past 16 KiB",
            "GET / HTTP/1.1\r\nX: " + std::string(max_head_bytes - 20, 'a') + "\r\n\r\n", false, State::Failed,
            ReadFailure::NoHeaderEnd },
        ReaderCase { "no space", "GARBAGE\r\n\r\n", false, State::Failed, ReadFailure::NoSpace },
        ReaderCase { "relative target", "GET state HTTP/1.1\r\n\r\n", false, State::Failed, ReadFailure::BadTarget },
        ReaderCase { "asterisk target", "OPTIONS * HTTP/1.1\r\n\r\n", false, State::Failed, ReadFailure::BadTarget },
        ReaderCase { "body 4096", with_body("4096", std::string(4096, 'x')), false, State::Done },
        ReaderCase { "body 4097", with_body("4097", std::string(4097, 'x')), false, State::Failed,
            ReadFailure::BadContentLength },
        ReaderCase { "negative length", with_body("-1", ""), false, State::Failed, ReadFailure::BadContentLength },
        ReaderCase { "huge length", with_body("99999999999999999999", ""), false, State::Failed,
            ReadFailure::BadContentLength },
        ReaderCase { "body still coming", with_body("10", "abc"), false, State::NeedMore },
        ReaderCase { "body cut by the peer", with_body("10", "abc"), true, State::Failed, ReadFailure::ShortBody },
        ReaderCase { "nothing", "", true, State::Failed, ReadFailure::NoHeaderEnd }),
    [](auto const& info) {
        std::string name = info.param.name;
        for (char& c : name)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(DoorReader, SplitsTargetAndKeepsHeaderCaseOnlyInValues)
{
    auto outcome = read_request("GET http://192.168.0.5:8787/state?t=X&z=1 HTTP/1.1\r\n"
                                "If-None-Match: \t\"ABCdef01\" \r\nif-none-match: \"last\"\r\nX-Tilla-Token: AbC\r\n"
                                "no colon line\r\n\r\n",
        false);
    ASSERT_EQ(outcome.state, State::Done);
    EXPECT_EQ(outcome.request.method, "GET");
    EXPECT_EQ(outcome.request.path, "/state");
    EXPECT_EQ(outcome.request.query, "t=X&z=1");
    // A repeated name keeps the last value.
    EXPECT_EQ(outcome.request.header("if-none-match"), "\"last\"");
    EXPECT_EQ(outcome.request.header("x-tilla-token"), "AbC");

    EXPECT_EQ(read_request("GET https://lan HTTP/1.1\r\n\r\n", false).request.path, "/");
    EXPECT_EQ(read_request("GET / HTTP/1.1\r\n\r\n", false).request.query, "");
}

TEST(DoorReader, ReadsTheBodyToItsDeclaredLengthWhateverFollows)
{
    auto outcome = read_request(with_body("9", "cookstart</>1"), false);
    ASSERT_EQ(outcome.state, State::Done);
    EXPECT_EQ(outcome.request.body, "cookstart");
    // A request arriving in pieces is read whole once its last piece is there.
    std::string whole = with_body("13", "cookstart</>1");
    for (size_t cut = 1; cut < whole.size(); ++cut)
        EXPECT_EQ(read_request(whole.substr(0, cut), false).state, State::NeedMore) << cut;
    EXPECT_EQ(read_request(whole, false).request.body, "cookstart</>1");
}

TEST(DoorReader, QueryAndCookieFormsMatchNamesExactly)
{
    EXPECT_EQ(query_parameter("a=1&t=X&t=Y", "t").value_or("-"), "X");
    EXPECT_EQ(query_parameter("tt=1&t", "t").value_or("-"), "-");
    EXPECT_EQ(query_parameter("t=", "t").value_or("-"), "");
    EXPECT_FALSE(query_parameter("", "t"));
    EXPECT_EQ(query_parameter("t=a=b", "t").value_or("-"), "a=b");

    // The name must match whole: "xttk" is not "ttk".
    EXPECT_FALSE(cookie_value("xttk=EVIL", "ttk"));
    EXPECT_EQ(cookie_value("xttk=EVIL; ttk=GOOD", "ttk").value_or("-"), "GOOD");
    EXPECT_EQ(cookie_value("ttk=A;ttk=B", "ttk").value_or("-"), "A");
    EXPECT_EQ(cookie_value("  ttk = V ; other=1", "ttk").value_or("-"), "V");
    EXPECT_FALSE(cookie_value("ttkx=1; ttk", "ttk"));
}

TEST(DoorToken, AuthorisesByQueryHeaderOrExactCookieOnly)
{
    auto request = [](std::string head) { return read_request("GET /state" + head + "\r\n\r\n", false).request; };
    std::string token = "ABCDEFGHJKLM";
    EXPECT_TRUE(is_authorised(request("?t=ABCDEFGHJKLM HTTP/1.1"), token));
    EXPECT_TRUE(is_authorised(request(" HTTP/1.1\r\nX-Tilla-Token: ABCDEFGHJKLM"), token));
    EXPECT_TRUE(is_authorised(request(" HTTP/1.1\r\nCookie: a=b; ttk=ABCDEFGHJKLM"), token));
    EXPECT_FALSE(is_authorised(request(" HTTP/1.1\r\nCookie: xttk=ABCDEFGHJKLM"), token));
    EXPECT_FALSE(is_authorised(request("?t=abcdefghjklm HTTP/1.1"), token));
    EXPECT_FALSE(is_authorised(request("?t=ABCDEFGHJKL HTTP/1.1"), token));
    EXPECT_FALSE(is_authorised(request("?t=ABCDEFGHJKLMN HTTP/1.1"), token));
    // No token authorises nothing, not even an empty one.
    EXPECT_FALSE(is_authorised(request("?t= HTTP/1.1"), ""));
    EXPECT_FALSE(same_token("", ""));
}

TEST(DoorToken, ComesFromTheRandomSourceOrNotAtAll)
{
    uint8_t next = 0;
    auto counting = [&](std::span<uint8_t> out) {
        for (auto& b : out)
            b = next++;
        return true;
    };
    auto token = make_token(counting);
    ASSERT_TRUE(token);
    EXPECT_EQ(*token, "ABCDEFGHJKLM");
    next = 20;
    EXPECT_EQ(make_token(counting)->substr(0, 4), "WXYZ");
    EXPECT_FALSE(make_token([](std::span<uint8_t>) { return false; }));

    EXPECT_TRUE(usable_stored_token("ABCDEFGH"));
    EXPECT_FALSE(usable_stored_token("ABCDEFG"));
    EXPECT_FALSE(usable_stored_token("ABCD;EFGH"));
    EXPECT_FALSE(usable_stored_token(std::string(64, 'A')));
}

} // namespace
