#include "printing/printer_settings.h"

#include "foundation/settings.h"

namespace tillbay::printing {

std::array<StyleKey, 16> const style_keys { {
    { "when", 1, 1, &KitchenStyle::when },
    { "font", 1, 3, &KitchenStyle::font },
    { "top", 1, 2, &KitchenStyle::top },
    { "bottom", 1, 2, &KitchenStyle::bottom },
    { "order", 0, 1, &KitchenStyle::order },
    { "lsp", 0, 2, &KitchenStyle::lsp },
    { "szname", 0, 2, &KitchenStyle::szname },
    { "bname", 1, 1, &KitchenStyle::bname },
    { "szopt", 0, 2, &KitchenStyle::szopt },
    { "bopt", 0, 1, &KitchenStyle::bopt },
    { "szno", 0, 2, &KitchenStyle::szno },
    { "bno", 1, 1, &KitchenStyle::bno },
    { "sztotal", 0, 2, &KitchenStyle::sztotal },
    { "btotal", 1, 1, &KitchenStyle::btotal },
    { "szmemo", 0, 2, &KitchenStyle::szmemo },
    { "bmemo", 0, 1, &KitchenStyle::bmemo },
} };

int clamp_style(int value, int max) { return value < 0 ? 0 : (value > max ? max : value); }

int width_rule(int width) { return width == 58 || width == 80 ? width : default_width; }
int cols_rule(int cols) { return cols < min_cols || cols > max_cols ? 0 : cols; }
int linespacing_rule(int value) { return value < 0 || value > 255 ? 0 : value; }
int biggap_rule(int value) { return value < 0 || value > 100 ? default_biggap : value; }
int pin_rule(int pin) { return pin == 5 ? 5 : 2; }

namespace {

std::string connection_text(std::string_view section)
{
    std::string connection = settings::read_text(section, "connection", max_connection_bytes + 1);
    return connection == "legacy" ? std::string {} : connection;
}

} // namespace

PrinterRecord read_receipt_record()
{
    PrinterRecord record;
    record.name = settings::read_text("PRINTER", "name", max_name_bytes + 1);
    record.connection = connection_text("PRINTER");
    record.width = width_rule(settings::read_int("PRINTER", "width", default_width));
    record.cols = cols_rule(settings::read_int("PRINTER", "cols", 0));
    record.linespacing = linespacing_rule(settings::read_int("PRINTER", "linespacing", 0));
    record.biggap = biggap_rule(settings::read_int("PRINTER", "biggap", default_biggap));
    record.codepage = settings::read_int("PRINTER", "codepage", default_codepage);
    record.cut = settings::read_int("PRINTER", "cut", 1);
    record.drawer_enable = settings::read_int("DRAWER", "enable", 1);
    record.drawer_pin = pin_rule(settings::read_int("DRAWER", "pin", 2));
    record.cancel_receipt = settings::read_int("PRINTER", "cancelreceipt", 1) > 0;
    return record;
}

KitchenRecord read_kitchen_record()
{
    KitchenRecord kitchen;
    PrinterRecord& record = kitchen.record;
    record = read_receipt_record();
    record.drawer_enable = 0;
    std::string connection = settings::read_text("KITCHEN", "connection", max_connection_bytes + 1);
    if (connection == "inherit") {
        // The receipt printer's connection and name stay.
    } else if (!connection.empty() && connection != "legacy") {
        record.connection = connection;
    } else {
        std::string name = settings::read_text("KITCHEN", "name", max_name_bytes + 1);
        if (!name.empty()) {
            record.name = name;
            record.connection.clear();
        }
    }
    record.width = width_rule(settings::read_int("KITCHEN", "width", record.width));
    record.cols = cols_rule(settings::read_int("KITCHEN", "cols", record.cols));
    record.cut = settings::read_int("KITCHEN", "cut", record.cut);
    record.codepage = settings::read_int("KITCHEN", "codepage", record.codepage);
    kitchen.auto_print = settings::read_int("KITCHEN", "auto", 0) > 0;
    return kitchen;
}

KitchenStyle read_kitchen_style()
{
    KitchenStyle style;
    for (auto const& key : style_keys)
        style.*key.field = clamp_style(settings::read_int("KITCHEN", key.key, key.default_value), key.max);
    return style;
}

} // namespace tillbay::printing
