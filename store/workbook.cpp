#include "store/workbook.h"

#include "base/ascii.h"
#include "base/utf8.h"
#include "store/zip.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <new>

namespace tillbay::store {

namespace {

constexpr std::string_view content_types_xml
    = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      "\r\n"
      R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
      R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
      R"(<Default Extension="xml" ContentType="application/xml"/>)"
      R"(<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>)"
      R"(<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>)"
      R"(<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>)"
      R"(</Types>)";

constexpr std::string_view package_rels_xml
    = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      "\r\n"
      R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
      R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>)"
      R"(</Relationships>)";

constexpr std::string_view workbook_xml
    = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      "\r\n"
      R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
      R"(<bookViews><workbookView xWindow="0" yWindow="0" windowWidth="24000" windowHeight="12000"/></bookViews>)"
      R"(<sheets><sheet name="발송목록" sheetId="1" r:id="rId1"/></sheets>)"
      R"(</workbook>)";

constexpr std::string_view workbook_rels_xml
    = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      "\r\n"
      R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
      R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
      R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>)"
      R"(</Relationships>)";

// Fonts: 0 default, 1 header, 2 small grey, 3 grey. Fills: 0 none, 1 the
// gray125 pattern every style sheet must have, 2 the header's. Borders: 0 none,
// 1 the header's bottom line. Cell formats as workbook.h lists them.
constexpr std::string_view styles_xml
    = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      "\r\n"
      R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
      R"(<fonts count="4">)"
      R"(<font><sz val="11"/><name val="맑은 고딕"/><family val="2"/></font>)"
      R"(<font><b/><sz val="11"/><color rgb="FF1D2939"/><name val="맑은 고딕"/><family val="2"/></font>)"
      R"(<font><sz val="9"/><color rgb="FF667085"/><name val="맑은 고딕"/><family val="2"/></font>)"
      R"(<font><sz val="10"/><color rgb="FF667085"/><name val="맑은 고딕"/><family val="2"/></font>)"
      R"(</fonts>)"
      R"(<fills count="3">)"
      R"(<fill><patternFill patternType="none"/></fill>)"
      R"(<fill><patternFill patternType="gray125"/></fill>)"
      R"(<fill><patternFill patternType="solid"><fgColor rgb="FFF5F7FB"/><bgColor indexed="64"/></patternFill></fill>)"
      R"(</fills>)"
      R"(<borders count="2">)"
      R"(<border><left/><right/><top/><bottom/><diagonal/></border>)"
      R"(<border><left/><right/><top/><bottom style="thin"><color rgb="FFD0D5DD"/></bottom><diagonal/></border>)"
      R"(</borders>)"
      R"(<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>)"
      R"(<cellXfs count="5">)"
      R"(<xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>)"
      R"(<xf numFmtId="0" fontId="1" fillId="2" borderId="1" xfId="0" applyFont="1" applyFill="1" applyBorder="1" applyAlignment="1"><alignment horizontal="center" vertical="center"/></xf>)"
      R"(<xf numFmtId="49" fontId="0" fillId="0" borderId="0" xfId="0" quotePrefix="1" applyNumberFormat="1"/>)"
      R"(<xf numFmtId="0" fontId="2" fillId="0" borderId="0" xfId="0" applyFont="1" applyAlignment="1"><alignment vertical="top" wrapText="1"/></xf>)"
      R"(<xf numFmtId="0" fontId="3" fillId="0" borderId="0" xfId="0" applyFont="1" applyAlignment="1"><alignment vertical="center" wrapText="1"/></xf>)"
      R"(</cellXfs>)"
      R"(<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>)"
      R"(<dxfs count="0"/><tableStyles count="0"/>)"
      R"(</styleSheet>)";

constexpr std::string_view sheet_head
    = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      "\r\n"
      R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
      R"(<sheetViews><sheetView tabSelected="1" workbookViewId="0">)"
      R"(<pane ySplit="1" topLeftCell="A2" activePane="bottomLeft" state="frozen"/>)"
      R"(<selection pane="bottomLeft" activeCell="A2" sqref="A2"/>)"
      R"(</sheetView></sheetViews>)"
      R"(<sheetFormatPr defaultRowHeight="15"/>)";

constexpr std::string_view sheet_tail
    = R"(<pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/>)"
      R"(</worksheet>)";

// Column widths in characters; columns past the list are default_width wide.
constexpr std::array<int, 14> column_widths { 20, 11, 18, 14, 12, 16, 10, 32, 22, 22, 7, 11, 14, 17 };
constexpr int default_width = 14;

constexpr std::array<std::string_view, 2> number_headers { "수량", "결제금액" };

void append_number(std::string& out, size_t value)
{
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, static_cast<size_t>(end - digits));
}

// Whether one character survives clean_cell_text.
bool is_kept(char32_t c)
{
    bool control = (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || (c >= 0x7F && c <= 0x9F);
    return !control && c != 0xFFFE && c != 0xFFFF;
}

// Whether clean_cell_text would return the text unchanged.
bool is_clean(std::string_view text)
{
    if (text.size() > max_cell_text_bytes)
        return false;
    for (size_t i = 0; i < text.size();) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            ++i;
            continue;
        }
        auto sequence = utf8::sequence_at(text, i);
        if (sequence.length == 0 || !is_kept(sequence.value))
            return false;
        i += sequence.length;
    }
    return true;
}

void append_escaped(std::string& out, std::string_view text)
{
    size_t done = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        std::string_view replacement;
        switch (text[i]) {
        case '&':
            replacement = "&amp;";
            break;
        case '<':
            replacement = "&lt;";
            break;
        case '>':
            replacement = "&gt;";
            break;
        case '_': {
            bool escape_sequence = i + 6 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')
                && text[i + 6] == '_';
            for (size_t k = i + 2; escape_sequence && k < i + 6; ++k)
                escape_sequence = ascii::hex_digit_value(text[k]) >= 0;
            if (!escape_sequence)
                continue;
            replacement = "_x005F_";
            break;
        }
        default:
            continue;
        }
        out.append(text.substr(done, i - done));
        out.append(replacement);
        done = i + 1;
    }
    out.append(text.substr(done));
}

// Appends the cleaned and escaped text.
void append_text(std::string& out, std::string_view text)
{
    if (is_clean(text))
        append_escaped(out, text);
    else
        append_escaped(out, clean_cell_text(text));
}

class SheetWriter {
public:
    explicit SheetWriter(CsvTable const& table)
        : m_table(table)
    {
        for (auto const& row : table)
            m_columns = std::max(m_columns, std::min(row.size(), max_workbook_columns));
        for (size_t i = 0; i < m_columns; ++i)
            m_names.push_back(column_name(i));
        m_numeric.assign(m_columns, false);
        for (size_t i = 0; i < std::min(table.front().size(), m_columns); ++i) {
            auto const& header = table.front()[i];
            m_numeric[i] = std::find(number_headers.begin(), number_headers.end(), header) != number_headers.end();
        }
    }

    // Appends the sheet's XML to out; false when it would pass
    // max_sheet_data_bytes.
    bool write(std::string& out)
    {
        size_t start = out.size();
        size_t estimate = sheet_head.size() + sheet_tail.size() + m_columns * 80;
        for (auto const& row : m_table) {
            for (auto const& field : row)
                estimate += field.size() + 64;
        }
        out.reserve(start + std::min(estimate, max_sheet_data_bytes + 1024));
        out.append(sheet_head);
        write_columns(out);
        out.append("<sheetData>");
        for (size_t r = 0; r < m_table.size(); ++r) {
            write_row(out, r);
            if (out.size() - start > max_sheet_data_bytes)
                return false;
        }
        out.append("</sheetData>");
        out.append(sheet_tail);
        return out.size() - start <= max_sheet_data_bytes;
    }

private:
    void write_columns(std::string& out) const
    {
        out.append("<cols>");
        for (size_t i = 0; i < m_columns; ++i) {
            int width = i < column_widths.size() ? column_widths[i] : default_width;
            out.append(R"(<col min=")");
            append_number(out, i + 1);
            out.append(R"(" max=")");
            append_number(out, i + 1);
            out.append(R"(" width=")");
            append_number(out, static_cast<size_t>(width));
            out.append(R"(" customWidth="1")");
            if (!m_numeric[i])
                out.append(R"( style="2")");
            out.append("/>");
        }
        out.append("</cols>");
    }

    void open_cell(std::string& out, size_t column, size_t row_number) const
    {
        out.append(R"(<c r=")");
        out.append(m_names[column]);
        append_number(out, row_number);
        out.push_back('"');
    }

    void write_row(std::string& out, size_t r) const
    {
        auto const& row = m_table[r];
        size_t number = r + 1;
        size_t cells = std::min(row.size(), m_columns);
        out.append(R"(<row r=")");
        append_number(out, number);
        out.append(r == 0 ? R"(" ht="30" customHeight="1">)" : R"(">)");
        for (size_t c = 0; c < cells; ++c) {
            auto const& field = row[c];
            if (r == 0) {
                open_cell(out, c, number);
                if (field.empty()) {
                    out.append(R"( s="1"/>)");
                    continue;
                }
                out.append(R"( s="1" t="inlineStr"><is><t xml:space="preserve">)");
                append_text(out, field);
                out.append("</t></is></c>");
                continue;
            }
            if (field.empty())
                continue;
            open_cell(out, c, number);
            if (m_numeric[c] && is_number_text(field)) {
                out.append("><v>");
                out.append(field);
                out.append("</v></c>");
                continue;
            }
            out.append(R"( s="2" t="inlineStr"><is><t xml:space="preserve">)");
            append_text(out, field);
            out.append("</t></is></c>");
        }
        out.append("</row>");
    }

    CsvTable const& m_table;
    size_t m_columns = 0;
    std::vector<std::string> m_names;
    std::vector<bool> m_numeric;
};

Error failure(WorkbookFailure kind, std::string detail)
{
    return Error::from_detail(std::move(detail), static_cast<int>(kind));
}

} // namespace

std::string clean_cell_text(std::string_view text)
{
    std::string out;
    out.reserve(std::min(text.size(), max_cell_text_bytes));
    for (size_t i = 0; i < text.size();) {
        auto sequence = utf8::sequence_at(text, i);
        if (sequence.length == 0) {
            ++i;
            continue;
        }
        if (is_kept(sequence.value)) {
            if (out.size() + sequence.length > max_cell_text_bytes)
                break;
            out.append(text.substr(i, sequence.length));
        }
        i += sequence.length;
    }
    return out;
}

std::string xml_escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    append_escaped(out, text);
    return out;
}

std::string column_name(size_t index)
{
    std::string name;
    for (size_t n = index + 1; n > 0; n = (n - 1) / 26)
        name.insert(name.begin(), static_cast<char>('A' + (n - 1) % 26));
    return name;
}

bool is_number_text(std::string_view field)
{
    if (field.empty() || field.size() > max_number_digits)
        return false;
    if (field.size() > 1 && field[0] == '0')
        return false;
    return std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; });
}

Result<Workbook> write_workbook(CsvTable const& table)
{
    if (table.empty())
        return failure(WorkbookFailure::Package, "workbook: no rows");
    try {
        // The sheet is written straight into the archive, the last of the parts.
        ZipWriter zip;
        (void)zip.add("[Content_Types].xml", content_types_xml);
        (void)zip.add("_rels/.rels", package_rels_xml);
        (void)zip.add("xl/workbook.xml", workbook_xml);
        (void)zip.add("xl/_rels/workbook.xml.rels", workbook_rels_xml);
        (void)zip.add("xl/styles.xml", styles_xml);
        if (!SheetWriter(table).write(zip.begin_entry("xl/worksheets/sheet1.xml")))
            return failure(WorkbookFailure::SheetTooLarge,
                "workbook: sheet data larger than " + std::to_string(max_sheet_data_bytes) + " bytes");
        (void)zip.end_entry();
        auto archive = zip.finish();
        if (!archive)
            return failure(WorkbookFailure::Package, archive.error().detail);
        return Workbook { archive.release_value(), table.size() - 1 };
    } catch (std::bad_alloc const&) {
        return failure(WorkbookFailure::Package, "workbook: out of memory");
    }
}

} // namespace tillbay::store
