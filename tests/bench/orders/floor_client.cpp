#include "floor_client.h"

#include "foundation/paths.h"
#include "foundation/settings.h"
#include "server/api.h"
#include "server/signin.h"
#include "server/transport.h"
#include "session/session.h"

namespace bench {

void FloorWorker::start(std::function<void(long long orderidx)> work)
{
    m_work = std::move(work);
    m_worker = std::thread([this] { run(); });
}

void FloorWorker::add(long long orderidx)
{
    std::lock_guard lock(m_lock);
    m_orders.push_back(orderidx);
    m_wake.notify_one();
}

void FloorWorker::stop()
{
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
        m_wake.notify_one();
    }
    if (m_worker.joinable())
        m_worker.join();
}

void FloorWorker::run()
{
    for (;;) {
        long long orderidx;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [&] { return m_stopping || !m_orders.empty(); });
            if (m_stopping)
                return;
            orderidx = m_orders.front();
            m_orders.pop_front();
        }
        m_work(orderidx);
    }
}

bool sign_in_floor_client(Rig& rig)
{
    tillbay::paths::set_exe_dir_for_testing(rig.pos + "/");
    tillbay::settings::read_server_settings();
    auto const& server = tillbay::settings::server();
    tillbay::transport::configure(server.tls, server.tlsfp, server.host);
    auto staff = tillbay::signin::staff(tillbay::api::configured_endpoint(), "tillbay01", "pos1234!");
    if (!staff.ok())
        return rig.fail("the floor client could not sign in: " + staff.error().message);
    tillbay::session::set_staff(staff.value().storeidx, staff.value().useridx, staff.value().shop_name, false);
    return true;
}

} // namespace bench
