#include "printing/printer_setup_family.h"

#include "base/ascii.h"
#include "foundation/json_text.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "os/codepage.h"
#include "printing/connection_address.h"
#include "printing/delivery.h"
#include "printing/print_queue.h"
#include "printing/test_pages.h"

#include <array>

namespace tillbay::printing {

namespace {

constexpr std::array<std::string_view, 11> command_names { "getprintcfg", "setprintcfg", "getkitchencfg",
    "setkitchencfg", "setprintlink", "listprinters", "printtest", "printruler", "printsettings", "printspacing",
    "printerstatus" };

constexpr char const* text_saved = "저장했습니다";
constexpr char const* text_not_saved = "설정을 저장하지 못했습니다";
constexpr char const* text_not_all_saved = "설정을 다 저장하지 못했습니다";

bool value_is_storable(std::string_view value, bool is_name) { return is_name ? is_storable_name(value) : is_storable_number(value); }

} // namespace

PrinterSetupHooks PrinterSetupHooks::standard()
{
    PrinterSetupHooks hooks;
    hooks.usb_printer_present = [] { return !usb_printers().empty(); };
    hooks.print = [](PrinterRecord const& record, std::string_view bytes, long long tag) { return printing::print(record, bytes, tag); };
    hooks.health = check_health;
    return hooks;
}

PrinterSetupFamily::PrinterSetupFamily(PrinterSetupHooks hooks)
    : m_hooks(std::move(hooks))
{
}

bridge::Runs PrinterSetupFamily::runs(std::string_view name) const
{
    for (auto known : command_names) {
        if (name == known)
            return bridge::Runs::OnLane;
    }
    return bridge::Runs::OnUiThread;
}

bridge::Handled PrinterSetupFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    std::string_view name = command.name();
    if (name == "getprintcfg")
        get_print_cfg(page);
    else if (name == "setprintcfg")
        set_print_cfg(command, page);
    else if (name == "getkitchencfg")
        get_kitchen_cfg(page);
    else if (name == "setkitchencfg")
        set_kitchen_cfg(command, page);
    else if (name == "setprintlink")
        set_print_link(command, page);
    else if (name == "listprinters") {
        auto queues = print_queues();
        page.callback("setPrinterList", printer_list_json(queues.ok() ? queues.value() : std::vector<QueueEntry> {}));
    } else if (name == "printtest" || name == "printruler" || name == "printsettings")
        print_test(name, page);
    else if (name == "printspacing")
        print_spacing(page);
    else if (name == "printerstatus")
        printer_status(page);
    else
        return bridge::Handled::No;
    return bridge::Handled::Yes;
}

void PrinterSetupFamily::get_print_cfg(bridge::Page& page)
{
    page.callback("setPrintCfg", print_cfg_json(m_hooks.usb_printer_present()));
}

void PrinterSetupFamily::get_kitchen_cfg(bridge::Page& page)
{
    page.callback("setKitchenCfg", kitchen_cfg_json(m_hooks.usb_printer_present()));
}

void PrinterSetupFamily::set_print_cfg(bridge::Command const& command, bridge::Page& page)
{
    if (command.arg_count() < 2)
        return;
    auto key = print_cfg_key(command.arg(1));
    if (!key)
        return;
    std::string_view value = command.arg(2);
    bool ok = value_is_storable(value, key->is_name);
    if (ok && key->section == std::string_view("PRINTER") && key->key == "codepage")
        ok = os::codepage::supported(ascii::leading_int(value));
    if (ok)
        ok = settings::write_line_preserving(key->section, key->key, value);
    else
        log::bridge("PRT", "설정 값 거절: " + std::string(command.arg(1)));
    page.status(ok ? text_saved : text_not_saved);
    get_print_cfg(page);
}

void PrinterSetupFamily::set_kitchen_cfg(bridge::Command const& command, bridge::Page& page)
{
    std::string_view pairs = command.arg(1);
    int written = 0;
    int failed = 0;
    size_t at = 0;
    while (at < pairs.size()) {
        size_t end = pairs.find('&', at);
        std::string_view pair = pairs.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        at = end == std::string_view::npos ? pairs.size() : end + 1;
        size_t equals = pair.find('=');
        if (equals == std::string_view::npos)
            continue;
        std::string_view key = pair.substr(0, equals);
        auto is_name = kitchen_cfg_key_is_name(key);
        if (!is_name)
            continue;
        std::string value = json::percent_decode(pair.substr(equals + 1));
        if (value_is_storable(value, *is_name) && settings::write_line_preserving("KITCHEN", key, value)) {
            ++written;
        } else {
            log::bridge("PRT", "주방 설정 값 거절: " + std::string(key));
            ++failed;
        }
    }
    if (failed > 0)
        page.status(text_not_all_saved);
    else
        page.status(written > 0 ? text_saved : text_not_saved);
    get_kitchen_cfg(page);
}

void PrinterSetupFamily::set_print_link(bridge::Command const& command, bridge::Page& page)
{
    std::string_view target = command.arg(1);
    if (target != "r" && target != "k")
        return;
    bool saved = save_address(target == "r" ? SaveTarget::Receipt : SaveTarget::Kitchen, command.arg(2));
    page.callback("printLinkSaved", saved ? "true" : "false");
    if (!saved)
        return;
    get_print_cfg(page);
    get_kitchen_cfg(page);
}

void PrinterSetupFamily::print_test(std::string_view name, bridge::Page& page)
{
    PrinterRecord record = read_receipt_record();
    auto document = build_test_page(record);
    Status printed = document.ok() ? m_hooks.print(record, document.value().bytes, 0) : Status(document.release_error());
    if (!printed.ok())
        page.status("시험 인쇄 실패 — " + printed.error().message);
    else if (name != "printsettings")
        page.status("시험 인쇄를 보냈습니다");
}

void PrinterSetupFamily::print_spacing(bridge::Page& page)
{
    PrinterRecord record = read_receipt_record();
    auto document = build_spacing_sample(record);
    Status printed = document.ok() ? m_hooks.print(record, document.value().bytes, 0) : Status(document.release_error());
    page.status(printed.ok() ? std::string("줄간격 견본을 보냈습니다") : "인쇄 실패 — " + printed.error().message);
}

void PrinterSetupFamily::printer_status(bridge::Page& page)
{
    bool usb = m_hooks.usb_printer_present();
    PrinterRecord receipt = read_receipt_record();
    PrinterRecord kitchen = read_kitchen_record().record;
    bool same = kitchen.connection == receipt.connection && kitchen.name == receipt.name;
    Health receipt_health = m_hooks.health(receipt);
    Health kitchen_health = same ? receipt_health : m_hooks.health(kitchen);
    page.callback("setPrinterHealth",
        health_json(receipt_health, describe(receipt, usb).text, kitchen_health, describe(kitchen, usb).text, same));
}

} // namespace tillbay::printing
