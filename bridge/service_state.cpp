#include "bridge/service_state.h"

#include "foundation/json_text.h"
#include "foundation/log.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>


namespace tillbay::bridge {

namespace {

constexpr size_t message_size = 200; // 199 bytes and the terminator the block once had
constexpr size_t notice_size = 400;
constexpr uint64_t minute_ms = 60'000;

// A text cut to a byte count may end inside a character; the page must get
// valid UTF-8, so the broken tail goes.
void drop_partial_character(std::string& text)
{
    size_t i = text.size();
    size_t back = 0;
    while (i > 0 && back < 4 && (static_cast<unsigned char>(text[i - 1]) & 0xC0) == 0x80) {
        --i;
        ++back;
    }
    if (i == 0)
        return;
    auto lead = static_cast<unsigned char>(text[i - 1]);
    size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (need > 1 && back + 1 < need)
        text.resize(i - 1);
}

int threshold_from_environment()
{
    char const* value = std::getenv("TILLBAY_DOWNMIN");
    if (value && value[0] >= '1' && value[0] <= '9')
        return value[0] - '0';
    return 3;
}

} // namespace

ServiceBlock parse_service_block(std::string_view text)
{
    ServiceBlock block;
    block.merchant = json::int_field(text, "merchant", 0);
    block.food = json::int_field(text, "food", 0);
    block.shop = json::int_field(text, "shop", 0);
    block.pos = json::int_field(text, "pos", 0);
    if (!json::text_field(text, "message", block.message, message_size))
        block.message.clear();
    if (!json::text_field(text, "notice", block.notice, notice_size))
        block.notice.clear();
    drop_partial_character(block.message);
    drop_partial_character(block.notice);
    if (block.message.empty())
        block.message = default_service_message;
    return block;
}

std::string service_block_script(ServiceBlock const& block)
{
    return "window.setServiceBlock&&setServiceBlock(" + std::to_string(block.merchant) + ","
        + std::to_string(block.food) + "," + std::to_string(block.shop) + "," + json::quote(block.message) + ","
        + json::quote(block.notice) + "," + std::to_string(block.pos) + ")";
}

uint64_t tick_now()
{
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
    return std::max<uint64_t>(1, static_cast<uint64_t>(ms.count()));
}

ServiceBlock ServiceState::block() const
{
    std::lock_guard lock(m_lock);
    return m_block;
}

bool ServiceState::store_block(ServiceBlock const& block)
{
    std::lock_guard lock(m_lock);
    bool changed = !(block == m_block);
    m_block = block;
    return changed;
}

void ServiceState::set_channel_state(bool connected, uint64_t now)
{
    if (connected) {
        m_channel_connected.store(true);
        m_channel_down_since.store(0);
        return;
    }
    if (m_channel_connected.load()) {
        uint64_t expected = 0;
        m_channel_down_since.compare_exchange_strong(expected, std::max<uint64_t>(1, now));
    }
}

void ServiceState::web_unreachable(uint64_t now)
{
    uint64_t expected = 0;
    m_web_down_since.compare_exchange_strong(expected, std::max<uint64_t>(1, now));
}

std::string ServiceState::server_down_script(uint64_t now, int threshold_minutes) const
{
    if (threshold_minutes <= 0)
        threshold_minutes = threshold_from_environment();
    auto minutes = [now](uint64_t since) -> uint64_t { return since == 0 || now < since ? 0 : (now - since) / minute_ms; };
    uint64_t channel = minutes(m_channel_down_since.load());
    uint64_t web = minutes(m_web_down_since.load());
    auto threshold = static_cast<uint64_t>(threshold_minutes);
    std::string names;
    if (m_channel_down_since.load() != 0 && channel >= threshold)
        names = "주문 서버";
    if (m_web_down_since.load() != 0 && web >= threshold) {
        if (!names.empty())
            names += "·";
        names += "웹서버";
    }
    uint64_t reported = names.empty() ? 0 : std::max(channel, web);
    return "window.setServerDown&&setServerDown(" + std::to_string(reported) + "," + json::quote(names) + ")";
}

} // namespace tillbay::bridge
