#pragma once

// A QR matrix as an SVG picture that pages can show directly (the payment
// code on the POS and the customer display, the tablet pairing code): one
// path of dark runs over a white square, crisp at any size.

#include "os/qr.h"

#include <string>

namespace tillbay::qr_svg {

// The SVG text, margin light modules around the code; the picture's own unit
// is one module, so the page chooses the size.
std::string svg(os::qr::Matrix const& matrix, int margin = os::qr::quiet_zone);

// "data:image/svg+xml;base64," + the SVG, for an img element's src.
std::string data_url(os::qr::Matrix const& matrix, int margin = os::qr::quiet_zone);

} // namespace tillbay::qr_svg
