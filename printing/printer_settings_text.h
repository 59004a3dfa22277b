#pragma once

// The settings commands' texts for the page: the setPrintCfg and
// setKitchenCfg objects, the setPrinterList of the print queues this PC has,
// the printers' health, and the checks every value from a page passes before it is written
// into the settings file.

#include "printing/local_printers.h"
#include "printing/printer_health.h"
#include "printing/printer_settings.h"

#include <optional>
#include <string>
#include <string_view>

namespace tillbay::printing {

// The receipt and kitchen settings as the page's JSON object.
std::string print_cfg_json(bool usb_printer_present);
std::string kitchen_cfg_json(bool usb_printer_present);

// What a page may store: a name (valid UTF-8, no control bytes, at most
// 127 bytes) or a whole number (optional "-", at most nine digits).
bool is_storable_name(std::string_view value);
bool is_storable_number(std::string_view value);

// A key of setprintcfg: its section and the key as stored, and whether its
// value is a name. Nothing for a key outside the list.
struct CfgKey {
    char const* section;
    std::string key;
    bool is_name;
};
std::optional<CfgKey> print_cfg_key(std::string_view key);
// Whether setkitchencfg takes the key, and whether its value is a name.
std::optional<bool> kitchen_cfg_key_is_name(std::string_view key);

std::string printer_list_json(std::vector<QueueEntry> const& queues);

// {"receipt":{…},"kitchen":{…}} for setPrinterHealth.
std::string health_json(Health receipt, std::string_view receipt_via, Health kitchen, std::string_view kitchen_via,
    bool kitchen_same);

} // namespace tillbay::printing
