// A counter in miniature for the crash test: it signs in, does what the
// order-entry page does after a start (sends again the order the journal
// still holds, and forgets it once placed), then places one new order under
// the given key and forgets it. The test kills it at any moment.
//
//   order_taking_driver POS_DIR JOURNAL_DIR STAFF_ID STAFF_PASSWORD [KEY]
//   order_taking_driver POS_DIR JOURNAL_DIR STAFF_ID STAFF_PASSWORD --loop PREFIX COUNT
//
// The second form is one of two counters on one PC: it places COUNT orders
// (keys PREFIX-0000-..., one after the other) and, while the other
// counter's order is in flight, waits and tries again.
//
// Exit codes: 0 done, 2 no sign-in, 3 the journal was unreadable, 4 an order
// was not placed.

#include "foundation/paths.h"
#include "foundation/settings.h"
#include "orders/order_taking.h"
#include "server/signin.h"
#include "server/transport.h"
#include "session/session.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

using namespace tillbay;

namespace {

class OutcomePage final : public bridge::Page {
public:
    void callback(std::string_view name, std::string_view args) override
    {
        if (name == "orderRequestResult") {
            size_t comma = args.find(',');
            orderidx = std::atoi(std::string(args.substr(comma + 1)).c_str());
            refused_by_journal = args.find(orders::taking_text::journal_refused) != std::string_view::npos;
        }
    }
    void status(std::string_view) override { }
    int orderidx = 0;
    bool refused_by_journal = false;
};

bool place(orders::OrderTakingFamily& family, std::string const& json, std::string const& key, std::string const& context,
    bool wait_for_others = false)
{
    OutcomePage page;
    for (int attempt = 0;; ++attempt) {
        page = OutcomePage();
        (void)family.handle(bridge::Command { { "placeorder", json, key, context }, 1, false }, page);
        if (!wait_for_others || !page.refused_by_journal || attempt > 2000)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (page.orderidx < 1)
        return false;
    (void)family.handle(bridge::Command { { "orderrequestforget", key }, 1, false }, page);
    std::printf("placed %s %d\n", key.c_str(), page.orderidx);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5)
        return 64;
    // As the program does: a peer that went away is an error, not a death.
    std::signal(SIGPIPE, SIG_IGN);
    std::string journal_dir = std::string(argv[2]) + "/";
    paths::set_exe_dir_for_testing(std::string(argv[1]) + "/");
    settings::read_server_settings();
    auto const& server = settings::server();
    transport::configure(server.tls, server.tlsfp, server.host);
    auto staff = signin::staff(api::configured_endpoint(), argv[3], argv[4]);
    if (!staff.ok())
        return 2;
    session::set_staff(staff.value().storeidx, staff.value().useridx, staff.value().shop_name, false);

    auto hooks = orders::TakingHooks::standard();
    hooks.journal = [&](int storeidx) { return orders::OrderJournal(journal_dir, server.host, storeidx); };
    hooks.refresh_orders = [](bridge::Page&) { };
    orders::OrderTakingFamily family(std::move(hooks));

    auto order_json = [](std::string const& key) {
        return R"({"tablenum":1,"requestmemo":")" + key + R"(","items":[{"menuidx":108,"qty":1}]})";
    };
    if (argc > 7 && std::strcmp(argv[5], "--loop") == 0) {
        for (int i = 0; i < std::atoi(argv[7]); ++i) {
            char key[60];
            std::snprintf(key, sizeof key, "%s-%04d-abcdefghijkl", argv[6], i);
            if (!place(family, order_json(key), key, "driver", true))
                return 4;
        }
        return 0;
    }

    auto pending = orders::OrderJournal(journal_dir, server.host, session::storeidx()).read();
    if (pending.state == orders::JournalState::Unreadable)
        return 3;
    if (pending.state == orders::JournalState::Pending && !place(family, pending.order_json, pending.key, pending.context))
        return 4;
    if (argc > 5) {
        // Signed in and settled: the test times its kill from here.
        std::printf("ready\n");
        std::fflush(stdout);
        std::string key = argv[5];
        if (!place(family, order_json(key), key, "driver"))
            return 4;
    }
    return 0;
}
