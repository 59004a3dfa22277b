// The back-office commands that send nothing to a server: they open a page,
// an address or the print dialog, ask the page for a value, or answer from
// what the POS knows. They run on the UI thread.

#include "store/local_commands.h"

#include "base/ascii.h"
#include "foundation/json_text.h"
#include "foundation/log.h"
#include "session/session.h"
#include "store/request_text.h"

namespace tillbay::store {

namespace {

constexpr char const* text_cannot_open = "이 화면에서는 열 수 없습니다";
// The longest web address handed to the desktop.
constexpr size_t max_address = 2048;

void route(Context& context, bridge::Page& page, std::string const& name)
{
    if (context.hooks.route_page)
        context.hooks.route_page(name);
    else
        page.status(text_cannot_open);
}

// viewphoto / openpdf: only web addresses go to the desktop's handler.
void open_web_address(bridge::Command const& command, bridge::Page& page, Context& context)
{
    std::string_view address = command.arg(1);
    if (address.empty()) {
        page.status("아직 등록된 것이 없습니다");
        return;
    }
    bool web = ascii::starts_with_ignoring_case(address, "http://") || ascii::starts_with_ignoring_case(address, "https://");
    bool clean = address.size() <= max_address;
    for (char c : address)
        clean = clean && static_cast<unsigned char>(c) > 32 && c != 127;
    if (!web || !clean) {
        page.status("사진과 PDF는 웹 주소로만 열 수 있습니다");
        return;
    }
    if (!context.hooks.open_address || !context.hooks.open_address(std::string(address)))
        page.status("주소를 열지 못했습니다");
}

void open_qr_card(bridge::Command const&, bridge::Page& page, Context&)
{
    page.status("이 상품의 주문·결제는 사장님 휴대폰의 틸웨앱에서 하실 수 있습니다");
}

// applybiz: the page holds the value; it is asked for it and answers with
// applybizval, the value percent-encoded.
void apply_biz(bridge::Command const& command, bridge::Page& page, Context& context)
{
    if (!is_digits(command.arg(1), 9)) {
        page.status(text_bad_number);
        return;
    }
    std::string mode = std::to_string(ascii::leading_int(command.arg(1)));
    std::string script = "(function(){try{var v=getBizValue(" + mode + ");tillwave.viewinfo('applybizval</>" + mode
        + "</>'+encodeURIComponent(String(v)));}catch(e){}})()";
    if (context.hooks.run_script)
        context.hooks.run_script(page, script);
    else
        page.status(text_cannot_open);
}

void print_a4(bridge::Command const&, bridge::Page& page, Context& context)
{
    if (context.hooks.print_page && context.hooks.print_page())
        return;
    if (context.hooks.run_script)
        context.hooks.run_script(page, "try{window.print()}catch(e){}");
}

void menu_add(bridge::Command const& command, bridge::Page& page, Context& context)
{
    // The category the new menu goes into, when the page names one.
    context.edit.set({}, is_digits(command.arg(1)) ? std::string(command.arg(1)) : std::string());
    route(context, page, "menu-edit.html?mode=add");
}

void menu_edit(bridge::Command const& command, bridge::Page& page, Context& context)
{
    if (!is_digits(command.arg(1))) {
        page.status(text_bad_number);
        return;
    }
    context.edit.set(std::string(command.arg(1)), {});
    route(context, page, "menu-edit.html?mode=edit");
}

void store_goods(bridge::Command const&, bridge::Page& page, Context& context) { route(context, page, "storegood.html"); }
void product_add(bridge::Command const&, bridge::Page& page, Context& context) { route(context, page, "productadd.html"); }

void product_edit(bridge::Command const& command, bridge::Page& page, Context& context)
{
    route(context, page, is_digits(command.arg(1)) ? "productmodify.html?productidx=" + std::string(command.arg(1)) : "productmodify.html");
}

void merch_state(bridge::Command const&, bridge::Page& page, Context&)
{
    bool owner = session::owner_signed_in();
    page.callback("setMerchState",
        std::string(owner ? "1" : "0") + "," + std::to_string(owner ? session::storeidx() : 0) + "," + json::quote(owner ? session::shop_name() : ""));
}

// Page text without its control bytes: a line break in a page's detail
// must not start a forged log line.
std::string log_text(std::string_view text)
{
    std::string out;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        out += byte < 32 || byte == 127 ? ' ' : c;
    }
    return out;
}

// pcfix: a page reports whether its adaptation found its place.
void pc_fix(bridge::Command const& command, bridge::Page&, Context&)
{
    bool missed = command.arg(2) == "miss" || command.arg(2) == "err";
    log::bridge("PCFIX", log_text(command.arg(1)) + " " + log_text(command.arg(3))
            + (missed ? " — 자리를 못 찾았습니다(화면 구조가 바뀐 듯합니다)" : " — 기록"));
}

constexpr LocalCommand commands[] = {
    { "viewphoto", Slot::Menu, open_web_address },
    { "openpdf", Slot::Menu, open_web_address },
    { "openqrcard", Slot::Store, open_qr_card },
    { "applybiz", Slot::Store, apply_biz },
    { "printa4", Slot::Store, print_a4 },
    { "menuadd", Slot::Product, menu_add },
    { "editmenu", Slot::Product, menu_edit },
    { "storegood", Slot::Pc, store_goods },
    { "productadd", Slot::Pc, product_add },
    { "editproduct", Slot::Pc, product_edit },
    { "merchstate", Slot::Sales, merch_state },
    { "pcfix", Slot::Sales, pc_fix },
};

} // namespace

LocalCommand const* find_local_command(Slot slot, std::string_view name)
{
    for (auto const& c : commands)
        if (c.slot == slot && c.name == name)
            return &c;
    return nullptr;
}

std::span<LocalCommand const> local_commands() { return commands; }

} // namespace tillbay::store
