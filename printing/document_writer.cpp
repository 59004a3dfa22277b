#include "printing/document_writer.h"

#include "foundation/log.h"
#include "os/codepage.h"
#include "printing/utf8_text.h"

#include <algorithm>
#include <cstdio>

namespace tillbay::printing {

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

void append_escaped(std::string& out, std::string_view text)
{
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (byte < 0x20) {
            out += "\\u00";
            out.push_back(hex_digits[byte >> 4]);
            out.push_back(hex_digits[byte & 15]);
        } else {
            out.push_back(c);
        }
    }
}

} // namespace

std::string won(long long amount)
{
    unsigned long long magnitude = amount < 0 ? 0ULL - static_cast<unsigned long long>(amount) : static_cast<unsigned long long>(amount);
    char digits[32];
    int length = std::snprintf(digits, sizeof digits, "%llu", magnitude);
    std::string out;
    if (amount < 0)
        out.push_back('-');
    for (int i = 0; i < length; ++i) {
        if (i > 0 && (length - i) % 3 == 0)
            out.push_back(',');
        out.push_back(digits[i]);
    }
    return out;
}

DocumentWriter::DocumentWriter(PrinterRecord const& record, size_t capacity, WithView with_view, size_t view_capacity)
    : m_record(record)
    , m_columns(printing::columns(record))
    , m_capacity(capacity)
    , m_view_capacity(view_capacity)
    , m_with_view(with_view == WithView::Yes)
{
    m_bytes.reserve(std::min<size_t>(capacity, 8192));
    if (m_with_view) {
        m_view.reserve(std::min<size_t>(view_capacity, 8192));
        m_view.push_back('[');
    }
}

void DocumentWriter::start()
{
    command(escpos::initialise);
    if (m_record.linespacing == 0)
        command(escpos::default_spacing);
    else
        line_spacing(m_record.linespacing);
}

void DocumentWriter::command(std::string_view bytes)
{
    m_bytes.append(bytes);
}

void DocumentWriter::line_spacing(int dots)
{
    char bytes[3] = { 0x1b, '3', static_cast<char>(std::clamp(dots, 0, 255)) };
    command(std::string_view(bytes, 3));
}

void DocumentWriter::feed_dots(int dots)
{
    if (dots <= 0)
        return;
    char bytes[3] = { 0x1b, 'J', static_cast<char>(std::min(dots, 255)) };
    command(std::string_view(bytes, 3));
}

void DocumentWriter::align_center(bool on)
{
    command(on ? escpos::center : escpos::left);
    m_centered = on;
}

void DocumentWriter::big(bool on)
{
    command(on ? escpos::double_size : escpos::normal_size);
    m_big = on;
}

void DocumentWriter::bold(bool on)
{
    char bytes[3] = { 0x1b, 'E', static_cast<char>(on ? 1 : 0) };
    command(std::string_view(bytes, 3));
    m_bold = on;
}

void DocumentWriter::cut()
{
    if (m_record.cut != 0)
        command(escpos::partial_cut);
}

void DocumentWriter::put_text(std::string_view utf8)
{
    std::string clean = without_controls(utf8);
    // Code page 949 has the horizontal bar but not the em dash it looks
    // like; the texts use the em dash, so it prints as the bar.
    if (m_record.codepage == default_codepage) {
        for (size_t at = clean.find("\xE2\x80\x94"); at != std::string::npos; at = clean.find("\xE2\x80\x94", at + 3))
            clean[at + 2] = '\x95';
    }
    // A code page the machine does not know gets the text as it is.
    if (auto converted = os::codepage::from_utf8(m_record.codepage, clean))
        m_bytes.append(*converted);
    else
        m_bytes.append(clean);
}

void DocumentWriter::put_blanks(int count)
{
    if (count > 0)
        m_bytes.append(static_cast<size_t>(count), ' ');
}

void DocumentWriter::put_left_right(std::string_view left, std::string_view right, int width)
{
    std::string l = without_controls(left);
    std::string r = without_controls(right);
    put_text(l);
    put_blanks(std::max(width - display_width(l) - display_width(r), 1));
    put_text(r);
    m_bytes.push_back('\n');
}

void DocumentWriter::open_item(std::string_view type)
{
    if (m_items++ > 0)
        m_view.push_back(',');
    m_view += "{\"t\":\"";
    m_view += type;
    m_view.push_back('"');
}

void DocumentWriter::member(std::string_view key, std::string_view value)
{
    m_view += ",\"";
    m_view += key;
    m_view += "\":\"";
    append_escaped(m_view, without_controls(value));
    m_view.push_back('"');
}

void DocumentWriter::view_item(
    std::string_view type, std::initializer_list<std::pair<std::string_view, std::string_view>> members, Flags flags)
{
    if (!m_with_view)
        return;
    open_item(type);
    for (auto const& [key, value] : members)
        member(key, value);
    close_item(flags);
}

void DocumentWriter::close_item(Flags flags)
{
    if (flags == Flags::Reported && (m_centered || m_big || m_bold)) {
        char flags[40];
        std::snprintf(flags, sizeof flags, ",\"a\":%d,\"z\":%d,\"b\":%d", m_centered ? 1 : 0, m_big ? 1 : 0, m_bold ? 1 : 0);
        m_view += flags;
    }
    m_view.push_back('}');
}

void DocumentWriter::section(std::string_view name)
{
    m_after_text = false;
    view_item("sec", { { "n", name } });
}

void DocumentWriter::text(std::string_view utf8)
{
    put_text(utf8);
    m_after_text = true;
    view_item("tx", { { "s", utf8 } });
}

void DocumentWriter::newline()
{
    m_bytes.push_back('\n');
    if (m_after_text) {
        m_after_text = false;
        return;
    }
    view_item("nl", {});
}

void DocumentWriter::rule(char c)
{
    m_after_text = false;
    m_bytes.append(static_cast<size_t>(std::min(m_columns, 79)), c);
    m_bytes.push_back('\n');
    view_item("hr", { { "c", std::string_view(&c, 1) } });
}

void DocumentWriter::left_right(std::string_view left, std::string_view right)
{
    m_after_text = false;
    put_left_right(left, right, m_columns);
    view_item("kv", { { "l", left }, { "v", right } });
}

void DocumentWriter::label_value(std::string_view label, std::string_view value)
{
    m_after_text = false;
    std::string l = without_controls(label);
    put_text(l);
    put_blanks(label_width() - display_width(l));
    m_bytes += ": ";
    put_text(value);
    m_bytes.push_back('\n');
    view_item("lv", { { "l", label }, { "v", value } });
}

void DocumentWriter::label_value_wrapped(std::string_view label, std::string_view value)
{
    m_after_text = false;
    std::string l = without_controls(label);
    std::string v = without_controls(value);
    put_text(l);
    put_blanks(label_width() - display_width(l));
    m_bytes += ": ";
    std::string_view rest = v;
    int width = std::max(m_columns - label_width() - 2, 8);
    do {
        size_t piece = fit_width(rest, width);
        if (piece == 0)
            piece = std::min<size_t>(rest.size(), 1);
        put_text(rest.substr(0, piece));
        m_bytes.push_back('\n');
        rest.remove_prefix(piece);
        width = m_columns;
    } while (!rest.empty());
    view_item("lv", { { "l", label }, { "v", value } });
}

void DocumentWriter::three_columns(std::string_view a, std::string_view c, std::string_view d)
{
    m_after_text = false;
    int amount_width = m_columns >= 40 ? 13 : 10;
    int unit_width = m_columns >= 40 ? 12 : 9;
    std::string first = without_controls(a);
    std::string second = without_controls(c);
    std::string third = without_controls(d);
    put_blanks(std::max(m_columns - amount_width - 6 - unit_width, 0));
    put_blanks(unit_width - display_width(first));
    put_text(first);
    put_blanks(6 - display_width(second));
    put_text(second);
    put_blanks(amount_width - display_width(third));
    put_text(third);
    m_bytes.push_back('\n');
    view_item("c3", { { "a", a }, { "c", c }, { "d", d } }, Flags::Left);
}

void DocumentWriter::two_pairs(std::string_view label1, std::string_view value1, std::string_view label2,
    std::string_view value2)
{
    m_after_text = false;
    if (m_columns < 40) {
        put_left_right(label1, value1, m_columns);
        put_left_right(label2, value2, m_columns);
    } else {
        std::string l1 = without_controls(label1), v1 = without_controls(value1);
        std::string l2 = without_controls(label2), v2 = without_controls(value2);
        int half = m_columns / 2;
        put_text(l1);
        put_blanks(std::max(half - display_width(l1) - display_width(v1) - 2, 1));
        put_text(v1);
        put_blanks(2);
        put_text(l2);
        put_blanks(std::max(m_columns - half - display_width(l2) - display_width(v2), 1));
        put_text(v2);
        m_bytes.push_back('\n');
    }
    view_item("p2", { { "l1", label1 }, { "v1", value1 }, { "l2", label2 }, { "v2", value2 } });
}

void DocumentWriter::big_line(std::string_view left, std::string_view right)
{
    m_after_text = false;
    big(true);
    put_left_right(left, right, m_columns / 2);
    view_item("kv", { { "l", left }, { "v", right } });
    big(false);
    feed_dots(m_record.biggap);
}

void DocumentWriter::centered_line(std::string_view line)
{
    align_center(true);
    text(line);
    newline();
    align_center(false);
}

void DocumentWriter::item(std::string_view name_line, std::string_view price, std::string_view quantity,
    std::string_view amount)
{
    bool view = m_with_view;
    m_with_view = false;
    text(name_line);
    newline();
    three_columns(price, quantity, amount);
    m_with_view = view;
    view_item("item", { { "n", name_line }, { "p", price }, { "q", quantity }, { "a", amount } }, Flags::Left);
}

Result<Document> DocumentWriter::finish(std::string_view what)
{
    if (m_with_view)
        m_view.push_back(']');
    size_t size = m_bytes.size();
    bool view_over = m_with_view && m_view.size() > m_view_capacity;
    if (size > m_capacity || view_over) {
        char message[160];
        if (size > m_capacity)
            std::snprintf(message, sizeof message, "%.*s 내용이 너무 깁니다 (%zu/%zu 바이트)", static_cast<int>(what.size()),
                what.data(), size, m_capacity);
        else
            std::snprintf(message, sizeof message, "%.*s 화면 내용이 너무 깁니다 (%zu/%zu 바이트)",
                static_cast<int>(what.size()), what.data(), m_view.size(), m_view_capacity);
        log::bridge("PRT", message);
        return Error::with_message(message, "document over capacity");
    }
    return Document { std::move(m_bytes), std::move(m_view) };
}

} // namespace tillbay::printing
