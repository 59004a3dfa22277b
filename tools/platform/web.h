#pragma once

#include "tools/platform/http.h"
#include "tools/platform/platform.h"

namespace tillbay::platform {

// Serves one web-host connection: service status, version manifest, bundle
// and program files, page APIs, the mall export and the photo service.
void serve_web_connection(Platform& platform, Conn& conn);
HttpResponse web_response(Platform& platform, HttpRequest const& request);

// The stored name for an uploaded photo: letters, digits, ".", "-", "_"; empty when none is left.
std::string safe_photo_name(std::string const& name);

} // namespace tillbay::platform
