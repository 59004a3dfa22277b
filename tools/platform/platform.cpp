#include "tools/platform/platform.h"

#include "os/fs.h"
#include "tools/platform/pcrypto.h"

#include <algorithm>
#include <unistd.h>

namespace tillbay::platform {

bool load_or_create_secrets(std::string const& data_dir, Secrets& out, std::string& error)
{
    std::string path = data_dir + "/secrets.json";
    if (os::file_exists(path)) {
        auto text = os::read_file(path, 64 * 1024);
        Json j = text.ok() ? Json::parse(text.value(), nullptr, false) : Json();
        if (j.is_object() && j.value("appkey", "").size() == 64 && j.value("appiv", "").size() == 32
            && !j.value("serverheader", "").empty() && !j.value("relayheader", "").empty()) {
            out.app_key = j["appkey"];
            out.app_iv = j["appiv"];
            out.server_header = j["serverheader"];
            out.relay_header = j["relayheader"];
            return true;
        }
        error = "unreadable " + path + " (remove it to make new keys)";
        return false;
    }
    out.app_key = random_hex(32);
    out.app_iv = random_hex(16);
    out.server_header = "TWPOS-" + random_token(21);
    out.relay_header = "TWRELAY-" + random_token(28);
    Json j = { { "appkey", out.app_key }, { "appiv", out.app_iv }, { "serverheader", out.server_header },
        { "relayheader", out.relay_header } };
    if (!os::write_file_atomic(path, j.dump(2) + "\n").ok()) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

Platform::Platform(ServeOptions options)
    : m_options(std::move(options))
{
}

bool Platform::open(std::string& error)
{
    if (!os::make_dir(m_options.data_dir).ok()) {
        error = "cannot create the data folder " + m_options.data_dir;
        return false;
    }
    os::make_dir(m_options.data_dir + "/photos").ok();
    os::make_dir(m_options.data_dir + "/published").ok();
    if (!load_or_create_secrets(m_options.data_dir, m_secrets, error))
        return false;
    if (!ensure_certificate(m_options.data_dir, m_cert, error))
        return false;
    if (!m_signer.open(m_options.data_dir, error))
        return false;
    if (!m_db.open(m_options.data_dir + "/platform.db", error))
        return false;
    try {
        Db::Transaction tx(m_db);
        create_schema(m_db);
        seed_demo_data(m_db);
        tx.commit();
    } catch (std::exception const& e) {
        error = e.what();
        return false;
    }
    return true;
}

long long Platform::log_request(std::string listener, int grade, long long useridx, std::string header, std::string command)
{
    std::lock_guard lock(m_mutex);
    RequestRecord record { m_next_seq++, std::move(listener), grade, useridx, std::move(header), std::move(command) };
    m_requests.push_back(std::move(record));
    if (m_requests.size() > k_request_log_limit)
        m_requests.pop_front();
    return m_requests.back().seq;
}

std::vector<RequestRecord> Platform::requests_after(long long seq)
{
    std::lock_guard lock(m_mutex);
    std::vector<RequestRecord> out;
    for (auto const& r : m_requests)
        if (r.seq > seq)
            out.push_back(r);
    return out;
}

void Platform::add_fault(Fault fault)
{
    std::lock_guard lock(m_mutex);
    m_faults.push_back(std::move(fault));
}

std::optional<Fault> Platform::take_fault(std::string const& listener, int cmd)
{
    std::lock_guard lock(m_mutex);
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        if (it->listener != listener || (it->cmd >= 0 && it->cmd != cmd))
            continue;
        Fault f = *it;
        if (--it->count <= 0)
            m_faults.erase(it);
        return f;
    }
    return std::nullopt;
}

ServiceBlock Platform::service()
{
    std::lock_guard lock(m_mutex);
    return m_service;
}

void Platform::set_service(ServiceBlock block)
{
    std::lock_guard lock(m_mutex);
    m_service = std::move(block);
}

void Platform::subscribe(std::shared_ptr<RelaySubscriber> const& sub)
{
    std::lock_guard lock(m_mutex);
    m_subscribers.push_back(sub);
}

void Platform::unsubscribe(RelaySubscriber* sub)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_subscribers, [&](auto const& s) { return s.get() == sub; });
}

int Platform::subscriber_count(long long storeidx)
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count_if(m_subscribers.begin(), m_subscribers.end(),
        [&](auto const& s) { return s->storeidx == storeidx && !s->gone; }));
}

void Platform::raise(OrderEvent const& event)
{
    std::string text = "storeidx=" + std::to_string(event.storeidx) + "&orderidx=" + std::to_string(event.orderidx)
        + "&event=" + event.event;
    std::lock_guard lock(m_mutex);
    for (auto const& sub : m_subscribers) {
        if (sub->storeidx != event.storeidx || sub->gone)
            continue;
        {
            std::lock_guard sub_lock(sub->mutex);
            sub->outbox.push_back(text);
        }
        char one = 1;
        [[maybe_unused]] auto n = ::write(sub->wake_fd[1], &one, 1);
    }
}

std::map<std::string, std::string> Platform::published_files()
{
    std::lock_guard lock(m_mutex);
    return m_published_files;
}

std::string Platform::published_ui_version()
{
    std::lock_guard lock(m_mutex);
    return m_ui_version;
}

void Platform::publish_ui(std::string version, std::map<std::string, std::string> files)
{
    std::lock_guard lock(m_mutex);
    m_ui_version = std::move(version);
    for (auto& [name, content] : files)
        m_published_files[name] = std::move(content);
}

std::optional<PublishedApp> Platform::published_app()
{
    std::lock_guard lock(m_mutex);
    return m_app;
}

void Platform::publish_app(PublishedApp app)
{
    std::lock_guard lock(m_mutex);
    m_app = std::move(app);
}

void Platform::clear_published()
{
    std::lock_guard lock(m_mutex);
    m_ui_version.clear();
    m_published_files.clear();
    m_app.reset();
    m_faults.clear();
    m_service = ServiceBlock {};
}

} // namespace tillbay::platform
