#include "tools/printer/escpos_decoder.h"

#include "foundation/json_text.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <iconv.h>

namespace tillbay::printer {

namespace {

constexpr uint8_t ESC = 0x1B;
constexpr uint8_t GS = 0x1D;
constexpr uint8_t FS = 0x1C;
constexpr uint8_t DLE = 0x10;

// Longest data shown inside a tag (QR and barcode contents); the whole data
// stays in the event's text.
constexpr size_t max_tag_data = 200;
// Longest run of bytes shown in one incomplete-command tag.
constexpr size_t max_hex_tag_bytes = 32;

std::string hex_bytes(std::string_view bytes)
{
    std::string out;
    size_t shown = bytes.size() < max_hex_tag_bytes ? bytes.size() : max_hex_tag_bytes;
    for (size_t i = 0; i < shown; ++i) {
        char piece[4];
        snprintf(piece, sizeof piece, "%02X", static_cast<unsigned char>(bytes[i]));
        if (i)
            out += ' ';
        out += piece;
    }
    if (shown < bytes.size())
        out += " …";
    return out;
}

std::string quoted_data(std::string_view data)
{
    if (data.size() > max_tag_data)
        return tillbay::json::quote(data.substr(0, max_tag_data)) + "…";
    return tillbay::json::quote(data);
}

std::string on_off(int n)
{
    return (n & 1) ? "on" : "off";
}

class Iconv {
public:
    explicit Iconv(std::string const& encoding)
        : m_handle(iconv_open("UTF-8", encoding.c_str()))
    {
    }
    ~Iconv()
    {
        if (ok())
            iconv_close(m_handle);
    }
    Iconv(Iconv const&) = delete;
    Iconv& operator=(Iconv const&) = delete;

    bool ok() const { return m_handle != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle() const { return m_handle; }

private:
    iconv_t m_handle;
};

class Decoder {
public:
    Decoder(std::string_view bytes, DecodeOptions const& options)
        : m_bytes(bytes)
        , m_iconv(options.encoding)
    {
    }

    std::vector<Event> run()
    {
        while (m_pos < m_bytes.size()) {
            uint8_t byte = at(m_pos);
            if (is_text_byte(byte)) {
                text_run();
                continue;
            }
            switch (byte) {
            case 0x0A:
                push(EventKind::Newline);
                ++m_pos;
                break;
            case 0x0D:
                // Carriage return only moves the head back; LF does the printing.
                ++m_pos;
                break;
            case 0x09:
                push(EventKind::Tab);
                ++m_pos;
                break;
            case 0x0C:
                setting(1, "form feed");
                break;
            case ESC:
                esc();
                break;
            case GS:
                gs();
                break;
            case FS:
                fs();
                break;
            case DLE:
                dle();
                break;
            default:
                hex(1);
                break;
            }
        }
        return std::move(m_events);
    }

private:
    static bool is_text_byte(uint8_t byte) { return byte >= 0x20 && byte != 0x7F; }

    uint8_t at(size_t index) const { return static_cast<uint8_t>(m_bytes[index]); }
    size_t left() const { return m_bytes.size() - m_pos; }

    Event& push(EventKind kind, std::string tag = {})
    {
        Event event;
        event.kind = kind;
        event.tag = std::move(tag);
        m_events.push_back(std::move(event));
        return m_events.back();
    }

    // A command of `length` bytes with a tag and nothing visible.
    void setting(size_t length, std::string tag)
    {
        push(EventKind::Setting, std::move(tag));
        m_pos += length;
    }

    void hex(size_t length)
    {
        push(EventKind::Hex, "hex " + hex_bytes(m_bytes.substr(m_pos, length)));
        m_pos += length;
    }

    // The command announced at m_pos needs `length` bytes in all; when the
    // stream ends before that, the rest is shown as an incomplete command.
    bool need(size_t length)
    {
        if (left() >= length)
            return true;
        push(EventKind::Hex, "incomplete " + hex_bytes(m_bytes.substr(m_pos)));
        m_pos = m_bytes.size();
        return false;
    }

    int arg(size_t offset) const { return at(m_pos + offset); }
    int arg16(size_t offset) const { return at(m_pos + offset) | (at(m_pos + offset + 1) << 8); }

    void text_run()
    {
        size_t end = m_pos;
        while (end < m_bytes.size() && is_text_byte(at(end)))
            ++end;
        convert(m_bytes.substr(m_pos, end - m_pos));
        m_pos = end;
    }

    void push_text(std::string text)
    {
        if (text.empty())
            return;
        if (!m_events.empty() && m_events.back().kind == EventKind::Text) {
            m_events.back().text += text;
            return;
        }
        push(EventKind::Text).text = std::move(text);
    }

    // Converts one run of text bytes; a byte the code page rejects becomes a
    // hex tag and conversion resumes right after it.
    void convert(std::string_view run)
    {
        if (!m_iconv.ok()) {
            for (char c : run) {
                if (static_cast<uint8_t>(c) < 0x80)
                    push_text(std::string(1, c));
                else
                    push(EventKind::Hex, "hex " + hex_bytes(std::string_view(&c, 1)));
            }
            return;
        }
        std::string out;
        char buffer[1024];
        size_t index = 0;
        iconv(m_iconv.handle(), nullptr, nullptr, nullptr, nullptr);
        while (index < run.size()) {
            char* in = const_cast<char*>(run.data() + index);
            size_t in_left = run.size() - index;
            char* out_ptr = buffer;
            size_t out_left = sizeof buffer;
            size_t result = iconv(m_iconv.handle(), &in, &in_left, &out_ptr, &out_left);
            int error = errno;
            out.append(buffer, static_cast<size_t>(out_ptr - buffer));
            index = run.size() - in_left;
            if (result != static_cast<size_t>(-1))
                continue;
            if (error == E2BIG)
                continue;
            // EILSEQ or EINVAL (a lead byte cut off at the end of the run).
            push_text(std::move(out));
            out.clear();
            push(EventKind::Hex, "hex " + hex_bytes(run.substr(index, 1)));
            ++index;
            iconv(m_iconv.handle(), nullptr, nullptr, nullptr, nullptr);
        }
        push_text(std::move(out));
    }

    void esc()
    {
        if (!need(2))
            return;
        uint8_t command = at(m_pos + 1);
        switch (command) {
        case '@':
            push(EventKind::Initialise, "initialise");
            m_pos += 2;
            return;
        case 'a': {
            if (!need(3))
                return;
            int n = arg(2);
            int align = (n == 0 || n == '0') ? 0 : (n == 1 || n == '1') ? 1 : (n == 2 || n == '2') ? 2 : -1;
            if (align < 0) {
                setting(3, "align ? " + std::to_string(n));
                return;
            }
            static char const* names[] = { "left", "center", "right" };
            push(EventKind::Align, std::string("align ") + names[align]).n1 = align;
            m_pos += 3;
            return;
        }
        case '!': {
            if (!need(3))
                return;
            int n = arg(2);
            char hexcode[8];
            snprintf(hexcode, sizeof hexcode, "0x%02X", n);
            std::string tag = std::string("print mode ") + hexcode + " (";
            std::string flags;
            auto add = [&](std::string const& flag) {
                if (!flags.empty())
                    flags += ", ";
                flags += flag;
            };
            if (n & 0x01)
                add("font B");
            if (n & 0x30)
                add("size " + std::to_string((n & 0x20) ? 2 : 1) + "x" + std::to_string((n & 0x10) ? 2 : 1));
            if (n & 0x08)
                add("bold");
            if (n & 0x80)
                add("underline");
            tag += flags.empty() ? "normal" : flags;
            tag += ")";
            push(EventKind::PrintMode, tag).n1 = n;
            m_pos += 3;
            return;
        }
        case 'E':
            if (!need(3))
                return;
            push(EventKind::Bold, "bold " + on_off(arg(2))).n1 = arg(2) & 1;
            m_pos += 3;
            return;
        case 'G':
            if (!need(3))
                return;
            setting(3, "double strike " + on_off(arg(2)));
            return;
        case '-': {
            if (!need(3))
                return;
            int n = arg(2);
            int dots = (n == 1 || n == '1') ? 1 : (n == 2 || n == '2') ? 2 : 0;
            push(EventKind::Underline, dots ? "underline " + std::to_string(dots) + " dot" + (dots > 1 ? "s" : "") : "underline off").n1 = dots;
            m_pos += 3;
            return;
        }
        case '2':
            push(EventKind::LineSpacing, "line spacing default").n1 = -1;
            m_pos += 2;
            return;
        case '3':
            if (!need(3))
                return;
            push(EventKind::LineSpacing, "line spacing " + std::to_string(arg(2))).n1 = arg(2);
            m_pos += 3;
            return;
        case 'd':
            if (!need(3))
                return;
            push(EventKind::FeedLines, "feed " + std::to_string(arg(2)) + " lines").n1 = arg(2);
            m_pos += 3;
            return;
        case 'J':
            if (!need(3))
                return;
            push(EventKind::FeedDots, "feed " + std::to_string(arg(2)) + " dots").n1 = arg(2);
            m_pos += 3;
            return;
        case 'e':
            if (!need(3))
                return;
            setting(3, "reverse feed " + std::to_string(arg(2)) + " lines");
            return;
        case 'K':
            if (!need(3))
                return;
            setting(3, "reverse feed " + std::to_string(arg(2)) + " dots");
            return;
        case 'p': {
            if (!need(5))
                return;
            int m = arg(2);
            if (m != 0 && m != 1 && m != '0' && m != '1') {
                setting(5, "drawer pulse ? " + std::to_string(m));
                return;
            }
            int pin = (m == 1 || m == '1') ? 5 : 2;
            int on_ms = arg(3) * 2;
            int off_ms = arg(4) * 2;
            auto& event = push(EventKind::DrawerPulse,
                "drawer pulse pin " + std::to_string(pin) + " on " + std::to_string(on_ms) + " ms off " + std::to_string(off_ms) + " ms");
            event.n1 = pin;
            event.n2 = on_ms;
            event.n3 = off_ms;
            m_pos += 5;
            return;
        }
        case 'i':
            push(EventKind::Cut, "cut full").n1 = 0;
            m_pos += 2;
            return;
        case 'm':
            push(EventKind::Cut, "cut partial").n1 = 1;
            m_pos += 2;
            return;
        case 't':
            if (!need(3))
                return;
            setting(3, "code table " + std::to_string(arg(2)));
            return;
        case 'R':
            if (!need(3))
                return;
            setting(3, "character set " + std::to_string(arg(2)));
            return;
        case 'M':
            if (!need(3))
                return;
            setting(3, "font " + std::to_string(arg(2)));
            return;
        case ' ':
            if (!need(3))
                return;
            setting(3, "right spacing " + std::to_string(arg(2)));
            return;
        case '{':
            if (!need(3))
                return;
            setting(3, "upside down " + on_off(arg(2)));
            return;
        case 'V':
            if (!need(3))
                return;
            setting(3, "rotate " + on_off(arg(2)));
            return;
        case 'U':
            if (!need(3))
                return;
            setting(3, "unidirectional " + on_off(arg(2)));
            return;
        case '=':
            if (!need(3))
                return;
            setting(3, "peripheral " + std::to_string(arg(2)));
            return;
        case '%':
            if (!need(3))
                return;
            setting(3, "user characters " + on_off(arg(2)));
            return;
        case '?':
            if (!need(3))
                return;
            setting(3, "cancel user character " + std::to_string(arg(2)));
            return;
        case 'r':
            if (!need(3))
                return;
            setting(3, "colour " + std::to_string(arg(2)));
            return;
        case 'T':
            if (!need(3))
                return;
            setting(3, "page direction " + std::to_string(arg(2)));
            return;
        case 'L':
            setting(2, "page mode");
            return;
        case 'S':
            setting(2, "standard mode");
            return;
        case 'W':
            if (!need(10))
                return;
            setting(10, "page area");
            return;
        case '$':
            if (!need(4))
                return;
            setting(4, "position " + std::to_string(arg16(2)));
            return;
        case '\\':
            if (!need(4))
                return;
            setting(4, "relative position " + std::to_string(static_cast<int16_t>(arg16(2))));
            return;
        case 'B':
            if (!need(4))
                return;
            setting(4, "beep " + std::to_string(arg(2)) + " times");
            return;
        case 'c': {
            if (!need(4))
                return;
            int sub = arg(2);
            if (sub == '3' || sub == '4' || sub == '5') {
                setting(4, std::string("paper sensor ") + static_cast<char>(sub) + " " + std::to_string(arg(3)));
                return;
            }
            hex(2);
            return;
        }
        case 'D': {
            // Tab stops: up to 32 positions ended by NUL.
            size_t end = m_pos + 2;
            while (end < m_bytes.size() && at(end) != 0 && end - m_pos - 2 < 32)
                ++end;
            if (end >= m_bytes.size()) {
                need(end - m_pos + 1);
                return;
            }
            if (at(end) == 0)
                ++end;
            setting(end - m_pos, "tab stops");
            return;
        }
        case '*': {
            if (!need(5))
                return;
            int mode = arg(2);
            int count = arg16(3);
            size_t data = (mode == 32 || mode == 33) ? 3 * static_cast<size_t>(count) : static_cast<size_t>(count);
            if (mode != 0 && mode != 1 && mode != 32 && mode != 33) {
                hex(2);
                return;
            }
            if (!need(5 + data))
                return;
            auto& event = push(EventKind::Image, "bit image mode " + std::to_string(mode) + " width " + std::to_string(count));
            event.n1 = count;
            event.n2 = (mode >= 32) ? 24 : 8;
            m_pos += 5 + data;
            return;
        }
        case '&': {
            // User-defined characters: y, c1, c2, then for each character a
            // width x and y * x bytes of dots.
            if (!need(5))
                return;
            int y = arg(2);
            int first = arg(3);
            int last = arg(4);
            if (y < 1 || y > 3 || first > last) {
                hex(2);
                return;
            }
            size_t offset = 5;
            for (int c = first; c <= last; ++c) {
                if (!need(offset + 1))
                    return;
                size_t width = arg(offset);
                if (!need(offset + 1 + width * static_cast<size_t>(y)))
                    return;
                offset += 1 + width * static_cast<size_t>(y);
            }
            setting(offset, "define user characters");
            return;
        }
        default:
            hex(2);
            return;
        }
    }

    void gs()
    {
        if (!need(2))
            return;
        uint8_t command = at(m_pos + 1);
        switch (command) {
        case '!': {
            if (!need(3))
                return;
            int n = arg(2);
            int width = ((n >> 4) & 7) + 1;
            int height = (n & 7) + 1;
            auto& event = push(EventKind::CharSize, "size " + std::to_string(width) + "x" + std::to_string(height));
            event.n1 = width;
            event.n2 = height;
            m_pos += 3;
            return;
        }
        case 'V': {
            if (!need(3))
                return;
            int m = arg(2);
            if (m == 0 || m == '0' || m == 1 || m == '1') {
                bool partial = m == 1 || m == '1';
                push(EventKind::Cut, partial ? "cut partial" : "cut full").n1 = partial;
                m_pos += 3;
                return;
            }
            if (m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104) {
                if (!need(4))
                    return;
                bool partial = m == 66 || m == 98 || m == 104;
                int feed = arg(3);
                auto& event = push(EventKind::Cut, std::string(partial ? "cut partial" : "cut full") + " after feed " + std::to_string(feed));
                event.n1 = partial;
                event.n2 = feed;
                m_pos += 4;
                return;
            }
            hex(2);
            return;
        }
        case 'B':
            if (!need(3))
                return;
            push(EventKind::Reverse, "reverse " + on_off(arg(2))).n1 = arg(2) & 1;
            m_pos += 3;
            return;
        case 'L':
            if (!need(4))
                return;
            setting(4, "left margin " + std::to_string(arg16(2)));
            return;
        case 'W':
            if (!need(4))
                return;
            setting(4, "print width " + std::to_string(arg16(2)));
            return;
        case 'P':
            if (!need(4))
                return;
            setting(4, "motion units " + std::to_string(arg(2)) + " " + std::to_string(arg(3)));
            return;
        case '$':
            if (!need(4))
                return;
            setting(4, "vertical position " + std::to_string(arg16(2)));
            return;
        case 'H':
            if (!need(3))
                return;
            setting(3, "barcode text position " + std::to_string(arg(2)));
            return;
        case 'h':
            if (!need(3))
                return;
            setting(3, "barcode height " + std::to_string(arg(2)));
            return;
        case 'w':
            if (!need(3))
                return;
            setting(3, "barcode width " + std::to_string(arg(2)));
            return;
        case 'f':
            if (!need(3))
                return;
            setting(3, "barcode text font " + std::to_string(arg(2)));
            return;
        case 'a':
            if (!need(3))
                return;
            setting(3, "automatic status " + std::to_string(arg(2)));
            return;
        case 'r':
            if (!need(3))
                return;
            setting(3, "status request " + std::to_string(arg(2)));
            return;
        case 'I':
            if (!need(3))
                return;
            setting(3, "printer id request " + std::to_string(arg(2)));
            return;
        case 'b':
            if (!need(3))
                return;
            setting(3, "smoothing " + on_off(arg(2)));
            return;
        case '/':
            if (!need(3))
                return;
            push(EventKind::Image, "print downloaded image").n1 = 0;
            m_pos += 3;
            return;
        case 'k':
            barcode();
            return;
        case 'v':
            raster_image();
            return;
        case '(':
            extended();
            return;
        default:
            hex(2);
            return;
        }
    }

    void barcode()
    {
        if (!need(3))
            return;
        int m = arg(2);
        static char const* names[] = { "UPC-A", "UPC-E", "EAN13", "EAN8", "CODE39", "ITF", "CODABAR", "CODE93", "CODE128", "GS1-128" };
        std::string data;
        size_t length = 0;
        if (m <= 6) {
            size_t end = m_pos + 3;
            while (end < m_bytes.size() && at(end) != 0)
                ++end;
            if (end >= m_bytes.size()) {
                need(end - m_pos + 1);
                return;
            }
            data = std::string(m_bytes.substr(m_pos + 3, end - m_pos - 3));
            length = end - m_pos + 1;
        } else if (m >= 65 && m <= 79) {
            if (!need(4))
                return;
            size_t n = arg(3);
            if (!need(4 + n))
                return;
            data = std::string(m_bytes.substr(m_pos + 4, n));
            length = 4 + n;
        } else {
            hex(2);
            return;
        }
        int kind = m <= 6 ? m : m - 65;
        std::string name = kind < 10 ? names[kind] : "type " + std::to_string(m);
        auto& event = push(EventKind::Barcode, "barcode " + name + " " + quoted_data(data));
        event.text = std::move(data);
        m_pos += length;
    }

    void raster_image()
    {
        if (!need(8))
            return;
        if (arg(2) != '0') {
            hex(2);
            return;
        }
        size_t width_bytes = arg16(4);
        size_t height = arg16(6);
        size_t data = width_bytes * height;
        if (!need(8 + data))
            return;
        auto& event = push(EventKind::Image, "raster image " + std::to_string(width_bytes * 8) + "x" + std::to_string(height));
        event.n1 = static_cast<int>(width_bytes * 8);
        event.n2 = static_cast<int>(height);
        m_pos += 8 + data;
    }

    // GS ( X pL pH data: the function is X, the data has pL + pH * 256 bytes.
    void extended()
    {
        if (!need(5))
            return;
        uint8_t function = at(m_pos + 2);
        size_t length = arg16(3);
        if (!need(5 + length))
            return;
        std::string_view data = m_bytes.substr(m_pos + 5, length);
        size_t total = 5 + length;
        if (function == 'k' && length >= 2 && static_cast<uint8_t>(data[0]) == 49) {
            qr(data, total);
            return;
        }
        setting(total, std::string("extended command GS ( ") + static_cast<char>(function >= 0x20 && function < 0x7F ? function : '?') + " " + std::to_string(length) + " bytes");
    }

    void qr(std::string_view data, size_t total)
    {
        uint8_t function = static_cast<uint8_t>(data[1]);
        int value = data.size() >= 3 ? static_cast<uint8_t>(data[2]) : 0;
        switch (function) {
        case 65:
            setting(total, "qr model " + std::to_string(value - 48));
            return;
        case 67:
            setting(total, "qr module size " + std::to_string(value));
            return;
        case 69: {
            static char const* levels = "LMQH";
            std::string level = (value >= 48 && value <= 51) ? std::string(1, levels[value - 48]) : std::to_string(value);
            setting(total, "qr error level " + level);
            return;
        }
        case 80: {
            std::string stored = data.size() > 3 ? std::string(data.substr(3)) : std::string();
            m_qr_data = stored;
            setting(total, "qr data " + quoted_data(stored));
            return;
        }
        case 81: {
            auto& event = push(EventKind::QrCode, "qr print");
            event.text = m_qr_data;
            m_pos += total;
            return;
        }
        default:
            setting(total, "qr function " + std::to_string(function));
            return;
        }
    }

    void fs()
    {
        if (!need(2))
            return;
        uint8_t command = at(m_pos + 1);
        switch (command) {
        case '&':
            setting(2, "double-byte mode on");
            return;
        case '.':
            setting(2, "double-byte mode off");
            return;
        case '!':
            if (!need(3))
                return;
            setting(3, "double-byte print mode " + std::to_string(arg(2)));
            return;
        case '-':
            if (!need(3))
                return;
            setting(3, "double-byte underline " + std::to_string(arg(2)));
            return;
        case 'C':
            if (!need(3))
                return;
            setting(3, "double-byte code system " + std::to_string(arg(2)));
            return;
        case 'W':
            if (!need(3))
                return;
            setting(3, "double-byte quadruple size " + on_off(arg(2)));
            return;
        case 'S':
            if (!need(4))
                return;
            setting(4, "double-byte spacing " + std::to_string(arg(2)) + " " + std::to_string(arg(3)));
            return;
        case 'p':
            if (!need(4))
                return;
            push(EventKind::Image, "print stored image " + std::to_string(arg(2))).n1 = 0;
            m_pos += 4;
            return;
        default:
            hex(2);
            return;
        }
    }

    void dle()
    {
        if (!need(2))
            return;
        uint8_t command = at(m_pos + 1);
        if (command == 0x04 || command == 0x05) {
            if (!need(3))
                return;
            setting(3, std::string(command == 0x04 ? "status request " : "real-time request ") + std::to_string(arg(2)));
            return;
        }
        if (command == 0x14) {
            if (!need(3))
                return;
            if (arg(2) == 1) {
                if (!need(5))
                    return;
                int m = arg(3);
                int pin = m == 1 ? 5 : 2;
                auto& event = push(EventKind::DrawerPulse,
                    "drawer pulse pin " + std::to_string(pin) + " on " + std::to_string(arg(4) * 100) + " ms off " + std::to_string(arg(4) * 100) + " ms");
                event.n1 = pin;
                event.n2 = arg(4) * 100;
                event.n3 = arg(4) * 100;
                m_pos += 5;
                return;
            }
            hex(3);
            return;
        }
        hex(1);
    }

    std::string_view m_bytes;
    size_t m_pos = 0;
    Iconv m_iconv;
    std::vector<Event> m_events;
    std::string m_qr_data;
};

} // namespace

std::vector<Event> decode(std::string_view bytes, DecodeOptions const& options)
{
    return Decoder(bytes, options).run();
}

size_t display_width(std::string_view utf8)
{
    size_t width = 0;
    size_t i = 0;
    while (i < utf8.size()) {
        uint8_t lead = static_cast<uint8_t>(utf8[i]);
        size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 1;
        if (i + length > utf8.size())
            length = 1;
        uint32_t code = lead;
        if (length > 1) {
            code = lead & (0x7F >> length);
            for (size_t k = 1; k < length; ++k)
                code = (code << 6) | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
        }
        width += code >= 0x1100 ? 2 : 1;
        i += length;
    }
    return width;
}

} // namespace tillbay::printer
