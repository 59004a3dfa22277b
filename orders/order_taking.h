#pragma once

// Taking orders at the counter: the menu reads that feed the order-entry
// screen, placing an order under a request key with the order recovery
// journal, and the payment QR commands. They form a second family of the
// `order` slot; every command asks the server, so all of them run on the
// command lane.
//
//   menucats, menulist              the menu, answered as the server's JSON
//   placeorder, orderrequestforget  an order kept in the journal until the
//                                   page knows its outcome
//   payqrmake                       an order and its payment token at once
//   payqrfor, payqrall              a token for existing orders (one QR may
//                                   pay several)
//   qrextend, qrwait                a token's validity and the wait switch

#include "bridge/family.h"
#include "orders/order_journal.h"
#include "server/api.h"

#include <functional>
#include <string>
#include <string_view>

namespace tillbay::orders {

namespace taking_text {
inline constexpr char const* page_outdated_toast = "프로그램과 화면을 갱신한 뒤 주문을 넣어 주세요";
inline constexpr char const* page_outdated = "프로그램과 화면을 갱신한 뒤 다시 확인해 주세요";
inline constexpr char const* sign_in_again = "다시 로그인한 뒤 같은 주문을 확인해 주세요";
inline constexpr char const* journal_refused
    = "주문 복구 기록을 저장하지 못해 전송하지 않았습니다. 앞선 주문과 저장 공간을 확인해 주세요";
inline constexpr char const* no_answer = "서버 응답을 받지 못했습니다. 같은 주문으로 다시 확인할 수 있습니다";
inline constexpr char const* unknown_result = "주문 결과를 확인하지 못했습니다. 다시 확인하거나 주문 목록·이력을 확인해 주세요";
inline constexpr char const* menu_cats_failed = "메뉴 분류를 받지 못했습니다";
inline constexpr char const* menus_failed = "메뉴를 받지 못했습니다";
inline constexpr char const* options_failed = "메뉴 옵션을 받지 못했습니다";
inline constexpr char const* qr_order_failed = "주문을 넣지 못해 결제 QR 을 만들지 못했습니다";
inline constexpr char const* qr_no_orderidx = "주문번호를 받지 못했습니다";
inline constexpr char const* qr_failed = "결제 QR 을 만들지 못했습니다";
inline constexpr char const* merged_old_server = "옛 서버라 주문 %d건을 하나로 합쳤습니다";
inline constexpr char const* grouped = "주문 %ld건을 한 QR 로 묶었습니다 — 결제되면 하나로 합쳐집니다";
inline constexpr char const* merge_unreachable = "서버에 닿지 못했습니다";
inline constexpr char const* merge_refused = "주문을 합치지 못했습니다";
} // namespace taking_text

// The failure form of setPayQr.
inline constexpr std::string_view pay_qr_failure = "{\"ok\":0}";
// The other orders of payqrfor, reduced to digits and commas.
inline constexpr size_t max_other_orders = 400;
// An order list argument: comma-separated orderidx values; values that are
// not positive are skipped, and at most this many are kept.
inline constexpr size_t max_order_list = 20;

struct MergeOutcome {
    int orderidx = 0; // the merged order
    int mixed = 0;    // the server's mixed value: paid and unpaid orders were merged
};

struct TakingHooks {
    // Sends a store command; fails with the user's text when no answer came.
    std::function<Result<api::StoreResult>(std::string_view command)> store_call;
    // The journal of the configured server and this store.
    std::function<OrderJournal(int storeidx)> journal;
    // The configured server host, for the page's request context.
    std::function<std::string()> server_host;
    // Reloads the order board.
    std::function<void(bridge::Page&)> refresh_orders;
    // Merges the other orders into the first; the error's message is the reason.
    std::function<Result<MergeOutcome>(int target, std::string_view others)> merge_orders;

    // The real API call, the per-user folder, the settings' host and the
    // merge request; refresh_orders is left to the caller.
    static TakingHooks standard();
};

// The order merge as the server takes it: cmd=138 with the first order as
// target and the others as sources.
Result<MergeOutcome> merge_orders_request(
    std::function<Result<api::StoreResult>(std::string_view)> const& store_call, int target, std::string_view others);

class OrderTakingFamily final : public bridge::Family {
public:
    explicit OrderTakingFamily(TakingHooks hooks = TakingHooks::standard());

    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;
    bridge::Runs runs(std::string_view name) const override;

    // After a page has loaded: setOrderRequestContext with what the journal
    // of the signed-in store holds.
    void send_request_context(bridge::Page& page);

    TakingHooks& hooks() { return m_hooks; }

private:
    void menu_categories(bridge::Page& page);
    void menu_list(std::string_view category, bridge::Page& page);
    void place_order(bridge::Command const& command, bridge::Page& page);
    void forget_request(std::string_view key, bridge::Page& page);
    void pay_qr_make(bridge::Command const& command, bridge::Page& page);
    void pay_qr_for(int orderidx, bool mixed, std::string others, bool extend, bridge::Page& page);
    void pay_qr_all(std::string_view list, bridge::Page& page);
    void qr_extend(int orderidx, bridge::Page& page);
    void qr_wait(int orderidx, std::string_view state, bridge::Page& page);
    void refresh(bridge::Page& page);

    TakingHooks m_hooks;
};

} // namespace tillbay::orders
