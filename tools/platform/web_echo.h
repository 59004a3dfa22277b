#pragma once

// Test paths of the web host that show what reached it: the page API echo
// "/v2/merchant/x_api.php" (method, path, query, headers, body), answers of a
// chosen size and status "/v2/shared/blob.php?size=N&status=S", and the
// multipart receiver "/v2/shared/form_echo.php" (each part's name, file
// name, type, size and SHA-256).

#include "tools/platform/http.h"

#include <optional>

namespace tillbay::platform {

std::optional<HttpResponse> echo_response(HttpRequest const& request);

} // namespace tillbay::platform
