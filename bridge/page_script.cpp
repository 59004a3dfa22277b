#include "bridge/page_script.h"

#include "foundation/log.h"

#include <cstddef>

namespace tillbay::bridge {

namespace generated {
extern unsigned char const page_script_bytes[];
extern std::size_t const page_script_size;
} // namespace generated

std::string_view embedded_page_script()
{
    return { reinterpret_cast<char const*>(generated::page_script_bytes), generated::page_script_size };
}

std::string load_page_script()
{
    std::string_view script = embedded_page_script();
    if (script.starts_with("\xEF\xBB\xBF"))
        script.remove_prefix(3);
    if (script.empty()) {
        log::bridge("INJ", "!! 주입 스크립트 자원(IDR_INJECT_JS)이 없다 — 빌드(rc) 확인");
        return {};
    }
    return std::string(script);
}

} // namespace tillbay::bridge
