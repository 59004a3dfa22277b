#include "store/csv.h"

namespace tillbay::store {

namespace {

constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";

// The first comma, CR or LF at or after from; size() when there is none.
size_t field_end(std::string_view text, size_t from)
{
    for (size_t i = from; i < text.size(); ++i) {
        char c = text[i];
        if (c == ',' || c == '\n' || c == '\r')
            return i;
    }
    return text.size();
}

class Reader {
public:
    explicit Reader(std::string_view text)
        : m_text(text)
    {
    }

    Result<CsvTable> read()
    {
        size_t n = m_text.size();
        size_t i = 0;
        while (i < n) {
            if (m_text[i] == '"')
                i = quoted_part(i + 1);
            size_t stop = field_end(m_text, i);
            m_field.append(m_text.substr(i, stop - i));
            i = stop;
            if (i < n && m_text[i] == ',') {
                if (!end_field())
                    return too_many_fields();
                ++i;
                if (i == n && !end_field()) // a last field after the comma, empty
                    return too_many_fields();
                continue;
            }
            if (!end_field())
                return too_many_fields();
            if (!end_row())
                return Error::with_message(text::too_many_rows, "more than " + std::to_string(max_csv_rows) + " rows");
            if (i < n)
                i += (m_text[i] == '\r' && i + 1 < n && m_text[i + 1] == '\n') ? 2 : 1;
        }
        if (!m_row.empty() && !end_row())
            return Error::with_message(text::too_many_rows, "more than " + std::to_string(max_csv_rows) + " rows");
        return std::move(m_table);
    }

private:
    // Reads the inside of a quoted field from just after its opening quote;
    // returns the position after the closing quote.
    size_t quoted_part(size_t i)
    {
        while (true) {
            size_t quote = m_text.find('"', i);
            if (quote == std::string_view::npos) {
                m_field.append(m_text.substr(i));
                return m_text.size();
            }
            m_field.append(m_text.substr(i, quote - i));
            if (quote + 1 < m_text.size() && m_text[quote + 1] == '"') {
                m_field.push_back('"');
                i = quote + 2;
                continue;
            }
            return quote + 1;
        }
    }

    bool end_field()
    {
        if (m_row.size() == max_csv_fields)
            return false;
        m_row.push_back(std::move(m_field));
        m_field.clear();
        return true;
    }

    bool end_row()
    {
        CsvRow row = std::move(m_row);
        m_row.clear();
        if (row.size() == 1 && row[0].empty())
            return true;
        if (m_table.size() == max_csv_rows)
            return false;
        m_table.push_back(std::move(row));
        return true;
    }

    Error too_many_fields() const
    {
        return Error::with_message(text::too_many_fields,
            "row " + std::to_string(m_table.size() + 1) + " has more than " + std::to_string(max_csv_fields)
                + " fields");
    }

    std::string_view m_text;
    CsvTable m_table;
    CsvRow m_row;
    std::string m_field;
};

bool needs_quotes(std::string_view field)
{
    for (char c : field) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n')
            return true;
    }
    return false;
}

} // namespace

Result<CsvTable> read_csv(std::string_view text)
{
    if (text.starts_with(utf8_bom))
        text.remove_prefix(utf8_bom.size());
    return Reader(text).read();
}

std::string write_csv(CsvTable const& table, ByteOrderMark bom)
{
    std::string out;
    if (bom == ByteOrderMark::Utf8)
        out.append(utf8_bom);
    for (auto const& row : table) {
        for (size_t i = 0; i < row.size(); ++i) {
            if (i > 0)
                out.push_back(',');
            auto const& field = row[i];
            // A text that opens with U+FEFF would read as a byte order mark
            // and lose it; in quotes it stays.
            bool opens_file = &row == &table.front() && i == 0 && bom == ByteOrderMark::None;
            if (!needs_quotes(field) && !(opens_file && field.starts_with(utf8_bom))) {
                out.append(field);
                continue;
            }
            out.push_back('"');
            for (char c : field) {
                if (c == '"')
                    out.push_back('"');
                out.push_back(c);
            }
            out.push_back('"');
        }
        out.append("\r\n");
    }
    return out;
}

} // namespace tillbay::store
