// The `sales` family (sales figures and the page-ready preloads) and the
// `history` family's server commands (the receipt history on the server,
// moving and swapping tables).

#include "foundation/json_text.h"
#include "store/request_text.h"
#include "store/rows.h"

#include <algorithm>

namespace tillbay::store {

namespace {

// A day argument: exactly eight characters (YYYYMMDD).
bool is_day(std::string_view text) { return text.size() == 8 && is_digits(text, 8); }

bool wants_rank(RowRun& run) { return run.arg(3) == "product"; }

// getbuysales: the period when both days are given; the product ranking
// with its count when the third argument asks for it.
Result<SecretString> build_mall_sales(RowRun& run)
{
    std::string pattern = is_day(run.arg(1)) && is_day(run.arg(2)) ? "cmd=64&storeidx={s}&startday={1}&endday={2}" : "cmd=64&storeidx={s}";
    if (wants_rank(run)) {
        int top = is_digits(run.arg(4), 2) ? std::stoi(std::string(run.arg(4))) : 0;
        pattern += "&group=product&top=" + std::to_string(top >= 1 && top <= 30 ? top : 10);
    }
    return run.fill(pattern);
}

void finish_mall_sales(RowRun& run, Outcome const& outcome)
{
    if (!wants_rank(run)) {
        run.answer(outcome);
        return;
    }
    if (outcome.accepted()) {
        run.callback("setBuyProductRank", json::quote(outcome.payload.str()));
    } else {
        run.status(run.failure_text(outcome, "판매 순위를 받지 못했습니다"));
        run.callback("setBuyProductRank", "{\"pcerr\":1}");
    }
}

void fail_mall_sales(RowRun& run, std::string_view message, bool)
{
    run.status(message);
    if (wants_rank(run))
        run.callback("setBuyProductRank", "{\"pcerr\":1}");
}

// getsales: the period, the page of the order list and the flags: "y" adds
// yesterday's figures, "m" marks a further page of the list.
Result<SecretString> build_sales(RowRun& run)
{
    std::string pattern = is_day(run.arg(1)) && is_day(run.arg(2)) ? "cmd=54&storeidx={s}&startday={1}&endday={2}" : "cmd=54&storeidx={s}";
    if (is_digits(run.arg(3), 6))
        pattern += "&offset={3}";
    if (is_digits(run.arg(4), 3))
        pattern += "&limit={4}";
    std::string_view flags = run.arg(5).size() <= 4 ? run.arg(5) : std::string_view {};
    if (flags.find('y') != std::string_view::npos)
        pattern += "&yday=1";
    return run.fill(pattern);
}

void finish_sales(RowRun& run, Outcome const& outcome)
{
    bool more = run.arg(5).size() <= 4 && run.arg(5).find('m') != std::string_view::npos;
    if (outcome.accepted())
        run.callback(more ? "setSaleMore" : "setSaleSummary", json::quote(outcome.payload.str()));
    else
        run.fail(run.failure_text(outcome, "매출을 받지 못했습니다"), outcome.kind == Outcome::Kind::NoAnswer);
}

// histsrv: "6201" means this user may not see the history.
void finish_history(RowRun& run, Outcome const& outcome)
{
    if (outcome.accepted()) {
        run.callback("setHistServer", json::quote(outcome.payload.str()));
    } else if (outcome.code == "6201") {
        run.status("점주 로그인이 필요합니다");
        run.callback("histDenied", "");
    } else {
        run.fail(run.failure_text(outcome, "영수증 내역을 받지 못했습니다"), outcome.kind == Outcome::Kind::NoAnswer);
    }
}

// A table move: its text, then the order board as the server now has it.
void finish_table_move(RowRun& run, Outcome const& outcome)
{
    run.answer(outcome);
    if (outcome.answered() && run.context().hooks.refresh_order_board)
        run.context().hooks.refresh_order_board(run.page());
}

constexpr Row rows[] = {
    { .name = "getbuysales", .slot = Slot::Sales, .build = build_mall_sales, .on_ok = "setBuySaleSummary",
        .fail_text = "판매 내역을 받지 못했습니다", .finish = finish_mall_sales, .fail_shape = fail_mall_sales },
    { .name = "getsales", .slot = Slot::Sales, .build = build_sales, .on_ok = "setSaleSummary", .on_fail = "setSaleError",
        .finish = finish_sales },
    { .name = "merchready", .slot = Slot::Sales, .min_args = 1, .custom = run_page_preloads },
    { .name = "histsrv", .slot = Slot::History, .min_args = 3, .path = Path::Staff,
        .request = "cmd=134&storeidx={s}&from={1}&to={2}&page={#3}&size=200", .on_fail = "setHistServer", .fail_args = "null",
        .finish = finish_history },
    { .name = "movetable", .slot = Slot::History, .min_args = 2, .path = Path::Staff,
        .request = "cmd=113&storeidx={s}&orderidx={#1}&tablenum={#2}", .ok_text = "자리를 옮겼습니다", .fail_text = "자리를 옮기지 못했습니다",
        .finish = finish_table_move },
    { .name = "swaptable", .slot = Slot::History, .min_args = 2, .path = Path::Staff,
        .request = "cmd=114&storeidx={s}&orderidxa={#1}&orderidxb={#2}", .ok_text = "자리를 바꿨습니다", .fail_text = "자리를 바꾸지 못했습니다",
        .finish = finish_table_move },
};

} // namespace

std::span<Row const> sales_rows() { return rows; }

} // namespace tillbay::store
