#include "foundation/qr_svg.h"

#include "foundation/json_text.h"

namespace tillbay::qr_svg {

std::string svg(os::qr::Matrix const& matrix, int margin)
{
    if (margin < 0)
        margin = 0;
    std::string side = std::to_string(matrix.size + 2 * margin);
    std::string out = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 )" + side + " " + side
        + R"(" shape-rendering="crispEdges"><rect width=")" + side + R"(" height=")" + side
        + R"(" fill="#fff"/><path fill="#000" d=")";
    // Each run of dark modules in a row is one rectangle: move, across, down
    // one, back, close.
    for (int y = 0; y < matrix.size; ++y) {
        for (int x = 0; x < matrix.size;) {
            if (!matrix.dark(x, y)) {
                ++x;
                continue;
            }
            int start = x;
            while (x < matrix.size && matrix.dark(x, y))
                ++x;
            std::string run = std::to_string(x - start);
            out += "M" + std::to_string(start + margin) + " " + std::to_string(y + margin);
            out += "h" + run + "v1h-" + run + "z";
        }
    }
    out += R"("/></svg>)";
    return out;
}

std::string data_url(os::qr::Matrix const& matrix, int margin)
{
    return "data:image/svg+xml;base64," + json::base64_encode(svg(matrix, margin));
}

} // namespace tillbay::qr_svg
