#include "update/bundle.h"

#include "foundation/settings.h"

namespace tillbay::bundle {

Store& store()
{
    static Store instance(layout_for({}));
    return instance;
}

bool set_web_host(std::string_view web_host)
{
    return store().set_layout(layout_for(web_host_suffix(web_host, settings::builtin_webhost())));
}

std::optional<std::string> root_in_use() { return store().root(); }
std::string ui_version_in_use() { return store().ui_version(); }
bool leased() { return store().leased(); }
Result<std::string> resolve(std::string_view path) { return store().resolve_file(path); }
bool page_exists(std::string_view page) { return store().page_exists(page); }
bool seed_from_installation() { return store().seed_from_installation().switched; }
Status roll_back() { return store().roll_back(); }
Status clear_held_back() { return store().clear_held_back(); }

PageCheck check_merchant_page(std::string_view page, bool virtual_host_available, std::string_view update_state)
{
    if (!virtual_host_available)
        return { false, "화면 엔진(WebView2)이 너무 오래되어 가맹점 화면을 열 수 없습니다 — 프로그램을 다시 설치해 주세요",
            "가상 호스트 없음 — 가맹점 화면 거절: " + std::string(page), false };
    if (page_exists(page))
        return { true, {}, {}, false };
    return { false, "화면 파일이 없어 갱신을 받습니다 — 잠시 뒤 다시 눌러 주세요",
        "사본 없음 — 갱신을 다시 받는다: " + std::string(page), update_state.empty() };
}

} // namespace tillbay::bundle
