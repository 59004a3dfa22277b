#pragma once

// The pages staff print while setting a printer up: the test page (paper
// width, code page, a ruler over the line, left-right alignment) and the
// line-spacing sample they choose `linespacing` from.

#include "base/result.h"
#include "printing/document_writer.h"
#include "printing/printer_settings.h"

namespace tillbay::printing {

inline constexpr int max_ruler_columns = 120;
inline constexpr int spacing_samples[] = { 0, 36, 42, 48, 54, 60 };

Result<Document> build_test_page(PrinterRecord const& printer);
Result<Document> build_spacing_sample(PrinterRecord const& printer);

} // namespace tillbay::printing
