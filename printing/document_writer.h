#pragma once

// The one writer every printed document is built with. It has two outputs:
// the ESC/POS byte stream for the printer, and, when asked for, the view: a
// JSON array of line items the page draws as an on-screen copy of the same
// paper. Every text passes through here, so control bytes from outside
// never reach the printer and every text is converted to the printer's code
// page in one place.
//
// Line forms, at C columns (the record's characters per line):
//   left-right     left, blanks (at least one), right, filling the width
//   label-value    label padded to L columns (8 from 40 columns up, else 6), ": ", value
//   three columns  blanks, then values right-aligned in U, 6 and A columns
//   two pairs      "label value  label value" in two halves (two lines below 40 columns)
//   rule           min(C, 79) copies of one character
//   big line       a left-right line at C/2 in double size, then the big gap
//
// View items: {"t":"sec","n":…}, {"t":"tx","s":…}, {"t":"nl"}, {"t":"hr","c":…},
// {"t":"kv","l":…,"v":…}, {"t":"lv","l":…,"v":…}, {"t":"c3","a":…,"c":…,"d":…},
// {"t":"p2","l1":…,"v1":…,"l2":…,"v2":…}, {"t":"item","n":…,"p":…,"q":…,"a":…};
// an item written while centred, big or bold ends with ,"a":1,"z":0,"b":0 and so on
// (except "c3" and "item", whose "a" is a value).

#include "base/result.h"
#include "printing/printer_settings.h"

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace tillbay::printing {

inline constexpr size_t receipt_capacity = 32768;
inline constexpr size_t test_page_capacity = 2048;
inline constexpr size_t spacing_sample_capacity = 4096;
inline constexpr size_t receipt_view_capacity = 32768;

namespace escpos {
// Sized views: several commands end in a NUL byte.
inline constexpr std::string_view initialise { "\x1b@", 2 };
inline constexpr std::string_view default_spacing { "\x1b" "2", 2 };
inline constexpr std::string_view center { "\x1b" "a\x01", 3 };
inline constexpr std::string_view left { "\x1b" "a\x00", 3 };
inline constexpr std::string_view double_size { "\x1b!\x30", 3 };
inline constexpr std::string_view normal_size { "\x1b!\x00", 3 };
inline constexpr std::string_view partial_cut { "\x1dVB\x00", 4 };
} // namespace escpos

// What a finished document is: the bytes, and the view when one was wanted.
struct Document {
    std::string bytes;
    std::string view;
};

enum class WithView {
    No,
    Yes,
};

class DocumentWriter {
public:
    DocumentWriter(PrinterRecord const& record, size_t capacity, WithView with_view,
        size_t view_capacity = receipt_view_capacity);

    int columns() const { return m_columns; }
    int label_width() const { return m_columns >= 40 ? 8 : 6; }

    // ESC @ and the record's line spacing (ESC 2, or ESC 3 n).
    void start();
    // Printer commands, written as they are; they never show in the view.
    void command(std::string_view bytes);
    void line_spacing(int dots);
    void feed_dots(int dots);
    void align_center(bool on);
    void big(bool on);
    void bold(bool on);
    // GS V 66 0 when the record cuts.
    void cut();

    void section(std::string_view name);
    // A text run; a newline right after it belongs to it in the view.
    void text(std::string_view utf8);
    void newline();
    void rule(char c);
    void left_right(std::string_view left, std::string_view right);
    void label_value(std::string_view label, std::string_view value);
    // The value cut by width: the first piece beside the label, the rest
    // from the left margin.
    void label_value_wrapped(std::string_view label, std::string_view value);
    void three_columns(std::string_view a, std::string_view c, std::string_view d);
    void two_pairs(std::string_view label1, std::string_view value1, std::string_view label2, std::string_view value2);
    void big_line(std::string_view left, std::string_view right);
    void centered_line(std::string_view text);
    // A receipt's menu line: the name line, then unit price, quantity and
    // amount in three columns; one view item for the two.
    void item(std::string_view name_line, std::string_view price, std::string_view quantity, std::string_view amount);

    // The document, or the "too long" failure (logged) when the bytes or the
    // view outgrew their capacity: a document is never sent with its end cut off.
    Result<Document> finish(std::string_view what);

private:
    void put_text(std::string_view utf8);
    void put_left_right(std::string_view left, std::string_view right, int width);
    void put_blanks(int count);
    // The column items ("c3", "item") have a field named "a" of their own,
    // so the flags are left off them; they are never centred or enlarged.
    enum class Flags {
        Reported,
        Left,
    };
    void open_item(std::string_view type);
    void member(std::string_view key, std::string_view value);
    void close_item(Flags flags = Flags::Reported);
    // One view item with its members; nothing when the view is not kept.
    void view_item(std::string_view type, std::initializer_list<std::pair<std::string_view, std::string_view>> members,
        Flags flags = Flags::Reported);

    PrinterRecord const& m_record;
    int m_columns = 48;
    size_t m_capacity = 0;
    size_t m_view_capacity = 0;
    bool m_with_view = false;
    std::string m_bytes;
    std::string m_view;
    size_t m_items = 0;
    bool m_centered = false;
    bool m_big = false;
    bool m_bold = false;
    bool m_after_text = false;
};

// Amounts as whole won with a comma every three digits and a leading "-".
std::string won(long long amount);

} // namespace tillbay::printing
