#include "foundation/json_text.h"
#include "foundation/qr_svg.h"

#include <gtest/gtest.h>

using namespace tillbay;

namespace {

TEST(QrSvg, DarkRunsAsOnePathOverWhite)
{
    // 3 x 3: a full top row, a lone middle module, two at the bottom right.
    os::qr::Matrix matrix { 3, { 1, 1, 1, 0, 1, 0, 0, 1, 1 } };
    EXPECT_EQ(qr_svg::svg(matrix, 1),
        R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 5 5" shape-rendering="crispEdges">)"
        R"(<rect width="5" height="5" fill="#fff"/><path fill="#000" d=")"
        "M1 1h3v1h-3z"
        "M2 2h1v1h-1z"
        "M2 3h2v1h-2z"
        R"("/></svg>)");

    std::string url = qr_svg::data_url(matrix, 0);
    std::string const prefix = "data:image/svg+xml;base64,";
    ASSERT_TRUE(url.starts_with(prefix));
    EXPECT_EQ(json::base64_decode(url.substr(prefix.size())), qr_svg::svg(matrix, 0));
}

} // namespace
