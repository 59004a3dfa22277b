#pragma once

// What a command handler sees and answers. Store calls (grade 5) and owner
// calls (grades 1, 3 and 7) have separate tables: the same number means
// different things on the two paths (cmd=2 reads menus for staff but renames
// the shop for the owner).

#include "tools/platform/platform.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tillbay::platform {

enum class CallKind { Store, Owner };

struct Call {
    Platform& platform;
    CallKind kind;
    int grade = 0;
    long long useridx = 0;
    int cmd = 0;
    std::string text;                         // the whole command text
    std::map<std::string, std::string> form;  // its pairs (first one wins)
    // Who is calling: the token's holder for store calls, the owner for owner calls.
    long long caller = 0;
    long long storeidx = 0;
    std::string role;                         // "staff" or "owner"
    std::vector<OrderEvent> events;           // raised after the transaction commits

    Db& db() { return platform.db(); }
    bool has(std::string const& name) const { return form.contains(name); }
    std::string str(std::string const& name, std::string const& fallback = "") const;
    long long num(std::string const& name, long long fallback = 0) const;
    void raise(long long orderidx, std::string event) { events.push_back({ storeidx, orderidx, std::move(event) }); }
};

struct Reply {
    std::string code = "0";
    std::string message;
    Json data;          // answered as JSON text inside resultData
    std::string text;   // answered as it is when data is null
    bool is_text = false;

    static Reply ok(Json data) { Reply r; r.data = std::move(data); return r; }
    static Reply ok_text(std::string text) { Reply r; r.text = std::move(text); r.is_text = true; return r; }
    static Reply refuse(std::string message, std::string code = "1") { Reply r; r.code = std::move(code); r.message = std::move(message); r.is_text = true; return r; }
};

using Handler = std::function<Reply(Call&)>;

struct CommandTables {
    std::map<int, Handler> store;
    std::map<int, Handler> owner;
};

void register_login_commands(CommandTables& t);
void register_order_commands(CommandTables& t);
void register_menu_commands(CommandTables& t);
void register_store_commands(CommandTables& t);
void register_sales_commands(CommandTables& t);

CommandTables const& command_tables();

// Shared helpers of the command files.
long long now_seconds();
std::string local_time_text(long long seconds, char const* format = "%Y-%m-%d %H:%M:%S");
// Splits "a=1&b=2"; a pair without "=" gets an empty value. Names and
// values are percent-decoded the way a web server decodes a form, so a
// client that sends "&", "=" or a line break as %26, %3D or %0A gets it
// through intact. A "%" not followed by two hexadecimal digits stays as it
// is, and so does "+": the POS sends values as they are, and a "+" in a
// telephone number or an option name is meant literally.
std::map<std::string, std::string> parse_form(std::string_view text);
std::string percent_decode(std::string_view text);

} // namespace tillbay::platform

namespace tillbay::platform {
// The two owner commands that live outside the tables: the sign-in (grade 1,
// encrypted with the application key) and the password change (grade 7).
Reply owner_sign_in(Call& call);
Reply owner_password_change(Call& call);
} // namespace tillbay::platform
