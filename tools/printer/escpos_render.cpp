#include "tools/printer/escpos_decoder.h"

#include <algorithm>
#include <cstdio>

namespace tillbay::printer {

namespace {

// One dot of a 203 dpi print head on screen; font A is 12 x 24 dots.
constexpr double px_per_dot = 0.75;
constexpr int char_height_dots = 24;
constexpr int default_line_spacing = 30;
// Longer runs of empty lines are drawn at this length: a hostile job must not
// make a preview page kilometres long.
constexpr int max_blank_lines = 40;

std::string html_escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
            break;
        }
    }
    return out;
}

std::string px(double value)
{
    char buffer[32];
    snprintf(buffer, sizeof buffer, "%.2fpx", value);
    return buffer;
}

struct Style {
    int width = 1;
    int height = 1;
    bool bold = false;
    int underline = 0;
    bool reverse = false;

    bool operator==(Style const&) const = default;
};

struct Span {
    Style style;
    std::string text; // already escaped
    size_t columns = 0;
    bool chip = false; // a hex tag, not printed text
};

class HtmlRenderer {
public:
    explicit HtmlRenderer(HtmlOptions const& options)
        : m_options(options)
    {
    }

    std::string run(std::vector<Event> const& events)
    {
        open_paper();
        for (auto const& event : events)
            handle(event);
        if (!m_line.empty())
            flush_line();
        close_paper();
        return page();
    }

private:
    void handle(Event const& event)
    {
        switch (event.kind) {
        case EventKind::Text:
            add_text(event.text);
            break;
        case EventKind::Tab: {
            size_t next = (m_columns / 8 + 1) * 8;
            add_text(std::string(next - m_columns, ' '));
            break;
        }
        case EventKind::Newline:
            flush_line();
            break;
        case EventKind::Initialise:
            m_style = {};
            m_align = 0;
            m_spacing = default_line_spacing;
            break;
        case EventKind::Align:
            m_align = event.n1;
            break;
        case EventKind::PrintMode:
            m_style.width = (event.n1 & 0x20) ? 2 : 1;
            m_style.height = (event.n1 & 0x10) ? 2 : 1;
            m_style.bold = event.n1 & 0x08;
            m_style.underline = (event.n1 & 0x80) ? 1 : 0;
            break;
        case EventKind::CharSize:
            m_style.width = event.n1;
            m_style.height = event.n2;
            break;
        case EventKind::Bold:
            m_style.bold = event.n1;
            break;
        case EventKind::Underline:
            m_style.underline = event.n1;
            break;
        case EventKind::Reverse:
            m_style.reverse = event.n1;
            break;
        case EventKind::LineSpacing:
            m_spacing = event.n1 < 0 ? default_line_spacing : event.n1;
            break;
        case EventKind::FeedLines:
            for (int i = 0; i < std::min(event.n1, max_blank_lines + 1); ++i)
                flush_line();
            break;
        case EventKind::FeedDots:
            if (!m_line.empty())
                flush_line();
            m_body += "<div class=\"gap\" style=\"height:" + px(event.n1 * px_per_dot) + "\"></div>\n";
            break;
        case EventKind::Cut:
            if (!m_line.empty())
                flush_line();
            close_paper();
            m_body += std::string("<div class=\"cut\" title=\"") + html_escape(event.tag) + "\"><span>✂</span><span class=\"cutlabel\">"
                + (event.n1 ? "부분 절단" : "전체 절단") + "</span></div>\n";
            open_paper();
            break;
        case EventKind::DrawerPulse:
            if (!m_line.empty())
                flush_line();
            m_body += "<div class=\"note\">현금서랍 신호 · 핀 " + std::to_string(event.n1) + " · " + std::to_string(event.n2) + " ms</div>\n";
            break;
        case EventKind::QrCode:
            if (!m_line.empty())
                flush_line();
            m_body += block("qr", "QR", event.text);
            break;
        case EventKind::Barcode:
            if (!m_line.empty())
                flush_line();
            m_body += block("barcode", "||| ||| |||", event.text);
            break;
        case EventKind::Image:
            if (!m_line.empty())
                flush_line();
            m_body += block("image", "이미지", event.tag);
            break;
        case EventKind::Hex: {
            Span span;
            span.style = m_style;
            span.text = "[" + html_escape(event.tag) + "]";
            span.chip = true;
            if (m_line.empty())
                m_line_align = m_align;
            m_line.push_back(std::move(span));
            break;
        }
        case EventKind::Setting:
            break;
        }
    }

    std::string block(char const* kind, char const* label, std::string const& data)
    {
        std::string style = m_align == 1 ? "margin:4px auto" : m_align == 2 ? "margin:4px 0 4px auto" : "margin:4px 0";
        return std::string("<div class=\"") + kind + "\" style=\"" + style + "\"><b>" + label + "</b><small>" + html_escape(data) + "</small></div>\n";
    }

    void add_text(std::string const& text)
    {
        if (m_line.empty())
            m_line_align = m_align;
        size_t columns = display_width(text) * static_cast<size_t>(m_style.width);
        m_columns += columns;
        if (!m_line.empty() && !m_line.back().chip && m_line.back().style == m_style) {
            m_line.back().text += html_escape(text);
            m_line.back().columns += display_width(text);
            return;
        }
        Span span;
        span.style = m_style;
        span.text = html_escape(text);
        span.columns = display_width(text);
        m_line.push_back(std::move(span));
    }

    void flush_line()
    {
        if (m_line.empty()) {
            if (++m_blank_run > max_blank_lines)
                return;
        } else {
            m_blank_run = 0;
        }
        int tallest = 1;
        for (auto const& span : m_line)
            tallest = std::max(tallest, span.style.height);
        int dots = m_line.empty() ? m_spacing : std::max(m_spacing, tallest * char_height_dots);
        static char const* aligns[] = { "left", "center", "right" };
        m_body += std::string("<div class=\"l\" style=\"text-align:") + aligns[std::clamp(m_line_align, 0, 2)] + ";height:" + px(dots * px_per_dot)
            + ";line-height:" + px(dots * px_per_dot) + "\">";
        for (auto const& span : m_line)
            m_body += render_span(span);
        m_body += "</div>\n";
        m_line.clear();
        m_columns = 0;
        m_line_align = m_align;
    }

    std::string render_span(Span const& span)
    {
        if (span.chip)
            return "<span class=\"hex\">" + span.text + "</span>";
        std::string style;
        auto const& s = span.style;
        if (s.height != 1)
            style += "font-size:" + std::to_string(s.height) + "em;";
        if (s.width != s.height) {
            // The glyphs are stretched sideways to the printer's width factor;
            // the margin gives back the room the stretch takes in the line.
            double factor = static_cast<double>(s.width) / s.height;
            char buffer[128];
            snprintf(buffer, sizeof buffer, "display:inline-block;transform:scaleX(%.3f);transform-origin:left;margin-right:%.2fch;", factor,
                static_cast<double>(span.columns) * (factor - 1));
            style += buffer;
        }
        if (s.bold)
            style += "font-weight:bold;";
        if (s.underline)
            style += "text-decoration:underline;";
        if (s.reverse)
            style += "background:#111;color:#fffdf6;";
        if (style.empty())
            return "<span>" + span.text + "</span>";
        return "<span style=\"" + style + "\">" + span.text + "</span>";
    }

    void open_paper()
    {
        m_paper_start = m_body.size();
        m_body += "<section class=\"paper\">\n";
    }

    // A paper piece with nothing on it is left out, so that a cut at the end
    // of the job does not draw an empty slip.
    void close_paper()
    {
        static std::string const opening = "<section class=\"paper\">\n";
        if (m_body.size() == m_paper_start + opening.size()) {
            m_body.resize(m_paper_start);
            return;
        }
        m_body += "</section>\n";
    }

    std::string page()
    {
        int columns = std::clamp(m_options.columns, 16, 80);
        std::string out = "<!doctype html>\n<html lang=\"ko\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + html_escape(m_options.title) + "</title>\n<style>\n";
        out += "body{margin:0;padding:24px 0;background:#59636b;font-family:\"NanumGothicCoding\",\"D2Coding\",\"Noto Sans Mono CJK KR\",monospace;}\n";
        out += ".roll{width:calc(" + std::to_string(columns) + "ch + 32px);margin:0 auto;font-size:15px;}\n";
        out += ".paper{background:#fffdf6;color:#1b1b1b;padding:18px 16px;box-shadow:0 2px 8px rgba(0,0,0,.45);overflow:hidden;}\n";
        out += ".l{white-space:pre;overflow:visible}\n.gap{}\n";
        out += ".cut{position:relative;margin:10px 0;border-top:2px dashed #e6e1d4;height:14px;color:#e6e1d4;font-size:12px}\n";
        out += ".cut span{position:relative;top:-10px;background:#59636b;padding:0 4px}\n.cut .cutlabel{float:right}\n";
        out += ".note{margin:6px 0;padding:3px 8px;border-left:4px solid #2f7de1;background:#eaf2fd;color:#1d4f91;font-family:sans-serif;font-size:12px;white-space:normal}\n";
        out += ".qr,.barcode,.image{display:block;width:9em;padding:6px;border:3px double #333;text-align:center;white-space:normal;word-break:break-all}\n";
        out += ".qr{height:9em}\n.qr b,.barcode b,.image b{display:block;font-size:1.3em}\n.qr small,.barcode small,.image small{font-size:10px;color:#555}\n";
        out += ".hex{color:#b3261e;font-size:11px;background:#fde7e4;border-radius:3px}\n";
        out += "</style>\n</head>\n<body>\n<main class=\"roll\">\n";
        out += m_body;
        out += "</main>\n</body>\n</html>\n";
        return out;
    }

    HtmlOptions m_options;
    std::string m_body;
    size_t m_paper_start = 0;
    std::vector<Span> m_line;
    size_t m_columns = 0;
    Style m_style;
    int m_align = 0;
    int m_line_align = 0;
    int m_spacing = default_line_spacing;
    int m_blank_run = 0;
};

} // namespace

std::string render_text(std::vector<Event> const& events)
{
    std::string out;
    for (auto const& event : events) {
        switch (event.kind) {
        case EventKind::Text:
            out += event.text;
            break;
        case EventKind::Newline:
            out += '\n';
            break;
        case EventKind::Tab:
            out += '\t';
            break;
        case EventKind::Cut:
            out += "[" + event.tag + "]\n";
            break;
        default:
            out += "[" + event.tag + "]";
            break;
        }
    }
    return out;
}

std::string render_html(std::vector<Event> const& events, HtmlOptions const& options)
{
    return HtmlRenderer(options).run(events);
}

} // namespace tillbay::printer
