// The `menu` family: categories, the menus of a category, sold-out flags,
// the table count.

#include "foundation/json_text.h"
#include "store/rows.h"

namespace tillbay::store {

namespace {

constexpr char const* text_table_info_failed = "테이블 수를 받지 못했습니다";

// gettableinfo: the table count and the shop name out of the answer.
void finish_table_info(RowRun& run, Outcome const& outcome)
{
    if (!outcome.accepted()) {
        run.fail(run.failure_text(outcome, text_table_info_failed));
        return;
    }
    std::string const& payload = outcome.payload.str();
    int tables = json::int_field(payload, "tablenum", 0);
    run.callback("setTableInfo",
        "{\"storeidx\":" + std::to_string(run.storeidx()) + ",\"tablecount\":" + std::to_string(tables < 0 ? 0 : tables) + "}");
    std::string name;
    if (json::text_field(payload, "shopname", name, 256) && !name.empty())
        run.callback("setStoreName", json::quote(name));
}

// Adding, renaming, removing and ordering categories all end in the list again.
constexpr char category_reload[] = "cmd=9&storeidx={s}";

constexpr Row rows[] = {
    { .name = "menuready", .slot = Slot::Menu, .request = "cmd=9&storeidx={s}", .on_ok = "setMenuCategoryData" },
    { .name = "menu_loaded", .slot = Slot::Menu, .request = "cmd=9&storeidx={s}", .on_ok = "setMenuCategoryData" },
    { .name = "getmenulist", .slot = Slot::Menu, .min_args = 1, .request = "cmd=10&storeidx={s}&categoryidx={1}", .on_ok = "setMenuListData" },
    { .name = "addcategory", .slot = Slot::Menu, .min_args = 1, .request = "cmd=34&storeidx={s}&ctname={*1}",
        .fail_text = "서버에 보내지 못했습니다", .refused_text = "요청이 거절되었습니다", .reload = category_reload, .reload_cb = "setMenuCategoryData" },
    { .name = "renamecategory", .slot = Slot::Menu, .min_args = 2, .request = "cmd=35&storeidx={s}&categoryidx={1}&ctname={*2}",
        .fail_text = "서버에 보내지 못했습니다", .refused_text = "요청이 거절되었습니다", .reload = category_reload, .reload_cb = "setMenuCategoryData" },
    { .name = "delcategory", .slot = Slot::Menu, .min_args = 1, .request = "cmd=36&storeidx={s}&categoryidx={1}",
        .fail_text = "서버에 보내지 못했습니다", .refused_text = "요청이 거절되었습니다", .reload = category_reload, .reload_cb = "setMenuCategoryData" },
    { .name = "ordercategory", .slot = Slot::Menu, .min_args = 1, .request = "cmd=37&storeidx={s}&orderlist={1}",
        .fail_text = "서버에 보내지 못했습니다", .refused_text = "요청이 거절되었습니다", .reload = category_reload, .reload_cb = "setMenuCategoryData" },
    { .name = "menusoldoutlist", .slot = Slot::Menu, .min_args = 2, .request = "cmd=16&storeidx={s}&menuidx={1}&value={2}",
        .fail_text = "품절 처리에 실패했습니다", .refused_text = "품절 처리가 거절되었습니다" },
    { .name = "gettableinfo", .slot = Slot::Menu, .request = "cmd=1&storeidx={s}", .finish = finish_table_info },
    // The store family has a command of the same name; this one is found first.
    { .name = "modifytablenum", .slot = Slot::Menu, .min_args = 1, .request = "cmd=44&storeidx={s}&value={1}", .limit = value_limit,
        .ok_text = "테이블 수를 저장했습니다", .fail_text = "테이블 수를 저장하지 못했습니다" },
};

} // namespace

std::span<Row const> menu_rows() { return rows; }

} // namespace tillbay::store
