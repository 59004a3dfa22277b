#pragma once

// The two logical printers as the settings file describes them: the receipt
// printer (which also opens the cash drawer) and the kitchen printer (by
// default the receipt printer itself), and the kitchen ticket's style. The
// records are read fresh from the file for every print job and every
// settings query, so a change applies to the next job without any notice.
// Out-of-range values are replaced, never reported.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace tillbay::printing {

inline constexpr size_t max_name_bytes = 127;
inline constexpr size_t max_connection_bytes = 1023;

inline constexpr int default_width = 80;
inline constexpr int default_biggap = 10;
inline constexpr int default_codepage = 949;
inline constexpr int min_cols = 20;
inline constexpr int max_cols = 96;

struct PrinterRecord {
    std::string name;       // the print queue used when there is no connection address
    std::string connection; // the connection address; "legacy" reads as ""
    int width = default_width;
    int cols = 0; // 0: automatic
    int linespacing = 0;
    int biggap = default_biggap;
    int codepage = default_codepage;
    int cut = 1;
    int drawer_enable = 1;
    int drawer_pin = 2;
    bool cancel_receipt = true;
};

// Characters per line when cols is automatic: 32 on 58 mm paper, 48 on 80 mm.
constexpr int auto_columns(int width) { return width == 58 ? 32 : 48; }
// The record's characters per line.
constexpr int columns(PrinterRecord const& record) { return record.cols > 0 ? record.cols : auto_columns(record.width); }

struct KitchenRecord {
    PrinterRecord record;
    bool auto_print = false; // new orders are printed without anyone asking
};

// The sixteen kitchen ticket style values.
struct KitchenStyle {
    int when = 1;
    int font = 1;
    int top = 1;
    int bottom = 1;
    int order = 0;
    int lsp = 0;
    int szname = 0;
    int bname = 1;
    int szopt = 0;
    int bopt = 0;
    int szno = 0;
    int bno = 1;
    int sztotal = 0;
    int btotal = 1;
    int szmemo = 0;
    int bmemo = 0;
};

struct StyleKey {
    char const* key;
    int default_value;
    int max;
    int KitchenStyle::*field;
};
// In the order the settings commands list them.
extern std::array<StyleKey, 16> const style_keys;

// Clamps: a negative value becomes 0, a value above the range its maximum.
int clamp_style(int value, int max);

// The record rules, for values however they were read.
int width_rule(int width);
int cols_rule(int cols);
int linespacing_rule(int value);
int biggap_rule(int value);
int pin_rule(int pin);

PrinterRecord read_receipt_record();
KitchenRecord read_kitchen_record();
KitchenStyle read_kitchen_style();

} // namespace tillbay::printing
