// merchready: a back-office page reports that it is ready, and the bridge
// loads its data at once, by the page's file name, so that no page asks for
// its first data by itself.

#include "foundation/json_text.h"
#include "session/session.h"
#include "store/rows.h"

#include <ctime>

namespace tillbay::store {

namespace {

// Today and six days before, as YYYYMMDD in local time.
std::pair<std::string, std::string> last_seven_days()
{
    std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    char end[16];
    std::strftime(end, sizeof end, "%Y%m%d", &tm);
    tm.tm_mday -= 6;
    tm.tm_isdst = -1;
    std::time_t start_time = std::mktime(&tm);
    localtime_r(&start_time, &tm);
    char start[16];
    std::strftime(start, sizeof start, "%Y%m%d", &tm);
    return { start, end };
}

// The main dashboard, as getmaindash answers it, then the shop's name.
void preload_home(RowRun& run)
{
    Outcome dash = run.send("cmd=55&storeidx=" + std::to_string(run.storeidx()));
    if (dash.accepted()) {
        run.callback("setMainDash", json::quote(dash.payload.str()));
        int storetype = json::int_field(dash.payload.str(), "storetype", 0);
        if (storetype >= 1 && storetype <= 3)
            run.callback("applyStoreType", std::to_string(storetype) + ",true");
    } else {
        run.status(run.failure_text(dash, "첫 화면 정보를 받지 못했습니다"));
    }
    std::string name = session::shop_name();
    if (!name.empty())
        run.callback("setStoreName", json::quote(name));
}

// The menu editor: the categories, then the menu being edited with its
// options, then the category a new menu was meant for.
void preload_menu_edit(RowRun& run)
{
    if (!run.read_into("cmd=9&storeidx={s}", "setMenuCategoryData"))
        return;
    auto [menuidx, category] = run.context().edit.get();
    if (!menuidx.empty()) {
        Outcome detail = run.send("cmd=11&storeidx=" + std::to_string(run.storeidx()) + "&menuidx=" + menuidx);
        if (!detail.accepted()) {
            run.status(run.failure_text(detail, "메뉴를 읽지 못했습니다"));
            return;
        }
        run.callback("setMenuDetail", json::quote(detail.payload.str()));
        auto options = menu_options_object(run, menuidx);
        if (options.ok())
            run.callback("setMenuOptions", options.value());
        else
            run.status(options.error().message);
    }
    if (!category.empty())
        run.callback("setPresetCategory", json::quote(category));
}

} // namespace

void run_page_preloads(RowRun& run)
{
    std::string_view name = run.arg(1);
    if (run.arg(2) == "1" && run.context().hooks.record_page)
        run.context().hooks.record_page(name, run.arg(3) == "old");
    std::string_view page = name.substr(0, name.find('?'));
    if (!session::owner_signed_in() && page != "kds.html") {
        run.status(text_owner_needed);
        return;
    }
    if (page == "products.html") {
        run.read_into("cmd=21&storeidx={s}&withcat=1", "setProductListData");
    } else if (page == "kds.html") {
        if (run.context().hooks.poll_order_list)
            run.context().hooks.poll_order_list(run.page());
    } else if (page == "more.html") {
        if (run.read_into("cmd=86&storeidx={s}", "setSellerInfo"))
            run.read_into("cmd=74&storeidx={s}&type=store", "setReviewData");
    } else if (page == "ai-instruct.html") {
        run.read_into("cmd=70&storeidx={s}", "setData");
    } else if (page == "policy.html") {
        run.read_into("cmd=8&type=get&storeidx={s}", "setBizData");
    } else if (page == "sales.html") {
        run.read_into("cmd=54&storeidx={s}", "setSaleSummary", "setSaleError");
    } else if (page == "delivery.html") {
        run.read_into("cmd=60&storeidx={s}&status=1", "setBuyDeliveryList");
    } else if (page == "claims.html") {
        run.read_into("cmd=84&storeidx={s}", "setClaimList");
    } else if (page == "storebuycancel.html") {
        run.read_into("cmd=62&storeidx={s}", "setBuyCancelList");
    } else if (page == "product-sales.html") {
        auto [start, end] = last_seven_days();
        run.read_into("cmd=64&storeidx={s}&startday=" + start + "&endday=" + end, "setBuySaleSummary");
    } else if (page == "storeseller.html") {
        run.read_into("cmd=86&storeidx={s}", "setSellerInfo");
    } else if (page == "storepromo.html") {
        run.read_into("cmd=40&storeidx={s}", "setPromotions");
    } else if (page == "messages.html") {
        run.read_into("cmd=56", "setMessageList");
    } else if (page == "storehours.html") {
        run.read_into("cmd=76&storeidx={s}", "setBizSetting");
    } else if (page == "menu-edit.html") {
        preload_menu_edit(run);
    } else if (page == "menu.html") {
        run.read_into("cmd=9&storeidx={s}", "setMenuCategoryData");
    } else if (page == "home.html") {
        preload_home(run);
    }
}

} // namespace tillbay::store
