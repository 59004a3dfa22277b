#pragma once

// The receipt document: the sale receipt, the cancel receipt and the card
// sales voucher, built by the document writer into the printer's bytes and,
// when asked for, the on-screen view of the same lines. Also the smaller
// rules the receipt prints by: the business number's check digit, the
// telephone grouping and the VAT split.

#include "base/result.h"
#include "printing/document_writer.h"
#include "printing/printer_settings.h"
#include "printing/receipt_record.h"

#include <optional>
#include <string>
#include <string_view>

namespace tillbay::printing {

// "123-45-67890" when the digits of the text are a valid Korean business
// registration number (ten digits, the last the check digit); nothing otherwise.
std::optional<std::string> business_number_text(std::string_view stored);

// The digits grouped the Korean way (010-1234-5678, 02-123-4567, …); any
// other count of digits stays as stored.
std::string telephone_text(std::string_view stored);

// The supply value and the VAT within an amount paid (VAT 1/11 of it).
struct VatSplit {
    long long supply = 0;
    long long vat = 0;
};
VatSplit vat_split(long long paid);

// The unit price a menu line shows.
std::string unit_price_text(MenuLine const& line);

// The pay method as the receipt names it.
std::string pay_method_name(std::string_view paymethod);

Result<Document> build_receipt(ReceiptRecord const& receipt, PrinterRecord const& printer, WithView with_view);

} // namespace tillbay::printing
