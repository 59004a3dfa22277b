#include "session/session.h"

#include <atomic>
#include <mutex>
#include <shared_mutex>

namespace tillbay::session {

namespace {

std::atomic<int> g_storeidx { 0 };
std::atomic<int> g_useridx { 0 };
std::atomic<bool> g_staff { false };
std::atomic<bool> g_owner_made { false };

// The texts and the owner record: larger than a word, so they have a lock.
// Sends made for a sign-in hold it shared (send_if_current), so a change of
// sign-in waits for a send already under way and every later send sees it.
std::shared_mutex g_lock;
// Raised by every change of who is signed in or of the token.
std::atomic<uint64_t> g_epoch { 1 };
std::string g_shop_name;
SecretString g_token;
SecretString g_saved_token;
OwnerRecord g_owner;

std::string cut(std::string_view text, size_t limit) { return std::string(text.substr(0, limit)); }

void clear_record(OwnerRecord& record)
{
    record.devkey.clear();
    record.deviv.clear();
    record.idx = 0;
    record.storeidx = 0;
    record.name.clear();
    record.nickname.clear();
}

} // namespace

int storeidx() { return g_storeidx.load(); }
int useridx() { return g_useridx.load(); }
bool staff_signed_in() { return g_staff.load(); }

std::string shop_name()
{
    std::shared_lock guard(g_lock);
    return g_shop_name;
}

StaffState staff()
{
    std::shared_lock guard(g_lock);
    return StaffState { g_staff.load(), g_storeidx.load(), g_useridx.load(), g_shop_name, g_owner_made.load() };
}

bool owner_signed_in()
{
    std::shared_lock guard(g_lock);
    return g_owner.signed_in();
}

OwnerRecord owner()
{
    std::shared_lock guard(g_lock);
    return g_owner;
}

SecretString access_token()
{
    std::shared_lock guard(g_lock);
    return g_token;
}

void set_access_token(std::optional<std::string_view> token)
{
    std::unique_lock guard(g_lock);
    g_token.clear();
    if (token && !token->empty())
        g_token.str().assign(token->substr(0, max_token));
    g_epoch.fetch_add(1);
}

void set_staff(int storeidx, int useridx, std::string_view shop_name, bool owner_made)
{
    std::unique_lock guard(g_lock);
    g_shop_name = cut(shop_name, max_shop_name);
    g_storeidx = storeidx;
    g_useridx = useridx;
    g_owner_made = owner_made;
    g_staff = true;
    g_epoch.fetch_add(1);
}

void set_shop_name(std::string_view shop_name)
{
    std::unique_lock guard(g_lock);
    g_shop_name = cut(shop_name, max_shop_name);
}

void clear_staff()
{
    std::unique_lock guard(g_lock);
    g_staff = false;
    g_owner_made = false;
    g_storeidx = 0;
    g_useridx = 0;
    g_shop_name.clear();
    g_token.clear();
    g_saved_token.clear();
    g_epoch.fetch_add(1);
}

void set_owner(OwnerRecord const& record)
{
    std::unique_lock guard(g_lock);
    g_owner = record;
    g_owner.name = cut(g_owner.name, max_owner_name);
    g_owner.nickname = cut(g_owner.nickname, max_owner_name);
    g_epoch.fetch_add(1);
}

void clear_owner()
{
    std::unique_lock guard(g_lock);
    clear_record(g_owner);
    g_epoch.fetch_add(1);
}

SecretString saved_staff_token()
{
    std::shared_lock guard(g_lock);
    return g_saved_token;
}

void set_saved_staff_token(std::optional<std::string_view> token)
{
    std::unique_lock guard(g_lock);
    g_saved_token.clear();
    if (token && !token->empty())
        g_saved_token.str().assign(token->substr(0, max_token));
}

uint64_t epoch() { return g_epoch.load(); }

Snapshot snapshot()
{
    std::shared_lock guard(g_lock);
    Snapshot now;
    now.epoch = g_epoch.load();
    now.staff_signed_in = g_staff.load();
    now.storeidx = g_storeidx.load();
    now.useridx = g_useridx.load();
    now.token = g_token;
    return now;
}

bool send_if_current(uint64_t epoch, std::function<bool()> const& send, bool& sent)
{
    std::shared_lock guard(g_lock);
    if (g_epoch.load() != epoch)
        return false;
    sent = send();
    return true;
}

void reset()
{
    clear_staff();
    clear_owner();
}

} // namespace tillbay::session
