#include "orders/kitchen_filter.h"

#include <gtest/gtest.h>

using tillbay::orders::kitchen_filter;

namespace {

std::string list(std::string const& objects) { return "{\"orders\":[" + objects + "],\"storeidx\":7}"; }

constexpr char const* paid_table
    = R"({"orderidx":1,"tablenum":3,"status":1,"paystatus":1,"prepay":1,"ordersrc":"table","menucount":1,"items":[{"mname":"비빔밥","qty":1,"comment":""}]})";
constexpr char const* plainpay
    = R"({"orderidx":2,"tablenum":0,"status":1,"paystatus":1,"prepay":1,"ordersrc":"plainpay","menucount":0,"items":[]})";
constexpr char const* unpaid_prepaid
    = R"({"orderidx":3,"tablenum":0,"status":0,"paystatus":0,"prepay":1,"ordersrc":"map_takeout","menucount":1,"items":[{"mname":"김밥","qty":2}]})";
constexpr char const* unpaid_deferred
    = R"({"orderidx":4,"tablenum":5,"status":1,"paystatus":0,"prepay":0,"ordersrc":"table","menucount":1,"items":[{"mname":"라면","qty":1}]})";
constexpr char const* no_pay_fields = R"({"orderidx":5,"tablenum":2,"ordersrc":"table","items":[{"mname":"떡볶이","qty":1}]})";
constexpr char const* empty_lines = R"({"orderidx":6,"tablenum":0,"paystatus":1,"ordersrc":"pos","menucount":0,"items":[]})";
constexpr char const* zero_count_with_lines
    = R"({"orderidx":7,"tablenum":0,"paystatus":1,"ordersrc":"pos","menucount":0,"items":[{"mname":"커피","qty":1}]})";
constexpr char const* cancelled = R"({"orderidx":8,"tablenum":4,"status":4,"paystatus":1,"ordersrc":"table","items":[{"mname":"국수","qty":1}]})";
constexpr char const* quoted_numbers
    = R"({"orderidx":"9","tablenum":"0","status":"0","paystatus":"0","prepay":"2","ordersrc":"map_takeout","items":[{"mname":"떡","qty":1}]})";
// Braces, brackets, quotes and backslashes inside string values must not end the object.
constexpr char const* tricky_memo
    = R"({"orderidx":10,"tablenum":1,"paystatus":1,"ordersrc":"table","requestmemo":"맵게 {x]} \"}]\" \\","items":[{"mname":"찌개","qty":1,"comment":"}{["}]})";

TEST(KitchenFilter, ListWithNothingDroppedIsKeptByteForByte)
{
    for (std::string text : { list(paid_table), list(std::string(paid_table) + "," + unpaid_deferred + "," + no_pay_fields),
             list(""), list(tricky_memo), list(zero_count_with_lines) }) {
        SCOPED_TRACE(text);
        EXPECT_EQ(kitchen_filter(text), text);
    }
}

TEST(KitchenFilter, DroppedOrdersLeaveOnlyTheKeptObjects)
{
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        { list(std::string(plainpay) + "," + paid_table), std::string("{\"orders\":[") + paid_table + "]}" },
        { list(std::string(paid_table) + "," + unpaid_prepaid + "," + unpaid_deferred),
            std::string("{\"orders\":[") + paid_table + "," + unpaid_deferred + "]}" },
        { list(std::string(empty_lines) + "," + tricky_memo), std::string("{\"orders\":[") + tricky_memo + "]}" },
        { list(std::string(cancelled) + "," + no_pay_fields), std::string("{\"orders\":[") + no_pay_fields + "]}" },
        { list(quoted_numbers), "{\"orders\":[]}" },
        { list(std::string(plainpay) + "," + empty_lines), "{\"orders\":[]}" },
        // Blanks and line breaks between objects do not matter; only the objects are copied.
        { "{\"orders\" : [\n " + std::string(plainpay) + " ,\n " + paid_table + "\n]}", std::string("{\"orders\":[") + paid_table + "]}" },
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(kitchen_filter(c.in), c.out);
    }
}

TEST(KitchenFilter, TextsWithoutAnOrderArrayPassUnchanged)
{
    for (std::string text : { std::string(""), std::string("{}"), std::string("{\"orders\":null}"), std::string("not json"),
             std::string("{\"orders\"") }) {
        SCOPED_TRACE(text);
        EXPECT_EQ(kitchen_filter(text), text);
    }
}

TEST(KitchenFilter, TruncatedOrBrokenListsNeverReadPastTheText)
{
    std::string full = list(std::string(plainpay) + "," + paid_table);
    for (size_t cut = 0; cut <= full.size(); ++cut) {
        std::string out = kitchen_filter(full.substr(0, cut));
        // Either unchanged or a rebuilt list; the plain payment never survives a rebuild.
        if (out != full.substr(0, cut)) {
            EXPECT_EQ(out.find("plainpay"), std::string::npos) << cut;
        }
    }
    // A stray closing brace before the first object is skipped, not taken as an end.
    std::string stray = "{\"orders\":[}," + std::string(plainpay) + "," + paid_table + "]}";
    EXPECT_EQ(kitchen_filter(stray), std::string("{\"orders\":[") + paid_table + "]}");
}

} // namespace
