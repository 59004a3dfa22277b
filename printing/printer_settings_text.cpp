#include "printing/printer_settings_text.h"

#include "foundation/json_text.h"
#include "foundation/settings.h"
#include "printing/connection_address.h"
#include "printing/utf8_text.h"

namespace tillbay::printing {

namespace {

std::string member(std::string_view key, std::string_view value_text)
{
    std::string out = "\"";
    out += key;
    out += "\":";
    out += value_text;
    return out;
}

std::string join_members(std::initializer_list<std::string> members)
{
    std::string out = "{";
    bool first = true;
    for (auto const& m : members) {
        if (!first)
            out += ',';
        out += m;
        first = false;
    }
    out += '}';
    return out;
}

std::string num(long long value) { return std::to_string(value); }

} // namespace

std::string print_cfg_json(bool usb_printer_present)
{
    PrinterRecord receipt = read_receipt_record();
    KitchenRecord kitchen = read_kitchen_record();
    Description via = describe(receipt, usb_printer_present);
    Description kvia = describe(kitchen.record, usb_printer_present);
    std::string kname = settings::read_text("KITCHEN", "name", max_name_bytes + 1);
    return join_members({
        member("direct", receipt.connection.empty() ? "0" : "1"),
        member("via", json::quote(via.text)),
        member("name", json::quote(receipt.name)),
        member("width", num(receipt.width)),
        member("cols", num(receipt.cols)),
        member("colsauto", num(auto_columns(receipt.width))),
        member("linespacing", num(receipt.linespacing)),
        member("biggap", num(receipt.biggap)),
        member("codepage", num(receipt.codepage)),
        member("cut", num(receipt.cut)),
        member("drawer", num(receipt.drawer_enable)),
        member("pin", num(receipt.drawer_pin)),
        member("cancelreceipt", receipt.cancel_receipt ? "1" : "0"),
        member("kname", json::quote(kname)),
        member("kvia", json::quote(kvia.text)),
        member("kauto", kitchen.auto_print ? "1" : "0"),
        member("kwidth", num(kitchen.record.width)),
        member("kcols", num(kitchen.record.cols)),
        member("kcolsauto", num(auto_columns(kitchen.record.width))),
    });
}

std::string kitchen_cfg_json(bool usb_printer_present)
{
    KitchenRecord kitchen = read_kitchen_record();
    KitchenStyle style = read_kitchen_style();
    Description via = describe(kitchen.record, usb_printer_present);
    std::string out = "{";
    out += member("direct", kitchen.record.connection.empty() ? "0" : "1");
    out += "," + member("name", json::quote(settings::read_text("KITCHEN", "name", max_name_bytes + 1)));
    out += "," + member("via", json::quote(via.text));
    out += "," + member("auto", kitchen.auto_print ? "1" : "0");
    out += "," + member("width", num(kitchen.record.width));
    out += "," + member("cols", num(kitchen.record.cols));
    out += "," + member("colsauto", num(auto_columns(kitchen.record.width)));
    for (auto const& key : style_keys)
        out += "," + member(key.key, num(style.*key.field));
    // After the listed keys, so the page's set-up panel can show the cut too.
    out += "," + member("cut", num(kitchen.record.cut));
    out += '}';
    return out;
}

bool is_storable_name(std::string_view value)
{
    if (value.size() > max_name_bytes || !is_valid_utf8(value))
        return false;
    for (char c : value) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return false;
    }
    return true;
}

bool is_storable_number(std::string_view value)
{
    if (!value.empty() && value.front() == '-')
        value.remove_prefix(1);
    if (value.empty() || value.size() > 9)
        return false;
    for (char c : value) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

std::optional<CfgKey> print_cfg_key(std::string_view key)
{
    for (char const* printer_key : { "name", "width", "cols", "linespacing", "biggap", "codepage", "cut", "cancelreceipt" }) {
        if (key == printer_key)
            return CfgKey { "PRINTER", std::string(key), key == "name" };
    }
    if (key == "enable" || key == "pin")
        return CfgKey { "DRAWER", std::string(key), false };
    for (char const* kitchen_key : { "kname", "kauto", "kwidth", "kcols", "kcut" }) {
        if (key == kitchen_key)
            return CfgKey { "KITCHEN", std::string(key.substr(1)), key == "kname" };
    }
    return std::nullopt;
}

std::optional<bool> kitchen_cfg_key_is_name(std::string_view key)
{
    if (key == "name")
        return true;
    for (char const* number_key : { "auto", "width", "cols", "cut" }) {
        if (key == number_key)
            return false;
    }
    for (auto const& style : style_keys) {
        if (key == style.key)
            return false;
    }
    return std::nullopt;
}

std::string printer_list_json(std::vector<QueueEntry> const& queues)
{
    std::string out = "[";
    for (size_t i = 0; i < queues.size(); ++i)
        out += std::string(i ? "," : "") + "{\"n\":" + json::quote(queues[i].name) + ",\"p\":" + json::quote(queues[i].kind) + "}";
    out += "]";
    return out;
}

std::string health_json(Health receipt, std::string_view receipt_via, Health kitchen, std::string_view kitchen_via,
    bool kitchen_same)
{
    auto one = [](Health health, std::string_view via) {
        return "{\"state\":" + json::quote(health.word()) + ",\"text\":" + json::quote(health.text())
            + ",\"via\":" + json::quote(via) + "}";
    };
    std::string kitchen_text = one(kitchen, kitchen_via);
    kitchen_text.insert(kitchen_text.size() - 1, std::string(",\"same\":") + (kitchen_same ? "true" : "false"));
    return "{\"receipt\":" + one(receipt, receipt_via) + ",\"kitchen\":" + kitchen_text + "}";
}

} // namespace tillbay::printing
