#pragma once

// The printer commands of the `pc` family: reading and changing the printer
// settings (getprintcfg, setprintcfg, getkitchencfg, setkitchencfg,
// setprintlink), the print queues this PC has (listprinters),
// the set-up prints (printtest, printruler, printsettings, printspacing)
// and the printers' health (printerstatus). Every one of them touches the
// settings file, a device or a printer, so all run on the command lane.

#include "base/result.h"
#include "bridge/family.h"
#include "printing/printer_health.h"
#include "printing/printer_settings.h"
#include "printing/printer_settings_text.h"

#include <functional>
#include <string_view>

namespace tillbay::printing {

struct PrinterSetupHooks {
    std::function<bool()> usb_printer_present;
    std::function<Status(PrinterRecord const&, std::string_view bytes, long long tag)> print;
    std::function<Health(PrinterRecord const&)> health;

    // The machine's printers, the program's print queue and the real status questions.
    static PrinterSetupHooks standard();
};

class PrinterSetupFamily final : public bridge::Family {
public:
    explicit PrinterSetupFamily(PrinterSetupHooks hooks = PrinterSetupHooks::standard());

    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;
    bridge::Runs runs(std::string_view name) const override;

private:
    void get_print_cfg(bridge::Page& page);
    void set_print_cfg(bridge::Command const& command, bridge::Page& page);
    void get_kitchen_cfg(bridge::Page& page);
    void set_kitchen_cfg(bridge::Command const& command, bridge::Page& page);
    void set_print_link(bridge::Command const& command, bridge::Page& page);
    void print_test(std::string_view name, bridge::Page& page);
    void print_spacing(bridge::Page& page);
    void printer_status(bridge::Page& page);

    PrinterSetupHooks m_hooks;
};

} // namespace tillbay::printing
