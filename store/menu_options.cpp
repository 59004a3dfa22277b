// Menus with their option groups: reading a menu's options into one object,
// adding groups with their items (the new group's number is read back from
// the menu's group list), adding a menu with its options, and the menu
// panel's reads.

#include "foundation/json_text.h"
#include "store/request_text.h"
#include "store/rows.h"

namespace tillbay::store {

namespace {

// The largest answer piece the flat readers take apart.
constexpr size_t max_piece = 65536;
// A page's option text holds at most this many groups and items per group.
constexpr int max_groups = 50;
constexpr int max_items = 100;

std::string text_of(std::string_view object, std::string_view key)
{
    std::string value;
    (void)json::text_field(object, key, value, 1024);
    return value;
}

// "Y" or "N" from the page's value (a flag, "Y", "1" or true).
char const* yes_no(std::string_view object, std::string_view key)
{
    std::string value = text_of(object, key);
    if (value.empty())
        value = std::to_string(json::int_field(object, key, 0));
    return value == "Y" || value == "y" || value == "1" || value == "true" ? "Y" : "N";
}

// The page's option text as an object with a "groups" array.
std::string groups_object(std::string_view text)
{
    size_t start = text.find_first_not_of(" \t\r\n");
    if (start != std::string_view::npos && text[start] == '[')
        return "{\"groups\":" + std::string(text.substr(start)) + "}";
    return std::string(text);
}

// The highest-numbered group of the menu with this name: the one just made.
int find_new_group(std::string_view list, std::string const& name)
{
    int found = 0;
    for (int i = 0;; ++i) {
        std::string group = json::array_object(list, "groups", i, max_piece);
        if (group.empty())
            break;
        int idx = json::int_field(group, "idx", 0);
        if (text_of(group, "gname") == name && idx > found)
            found = idx;
    }
    return found;
}

} // namespace

Result<std::string> pair(std::string_view name, std::string_view value)
{
    auto encoded = encode_value(value, ValueEncoding::Safe);
    if (!encoded.ok())
        return encoded.release_error();
    return "&" + std::string(name) + "=" + encoded.value();
}

Result<std::string> menu_options_object(RowRun& run, std::string const& menuidx)
{
    Outcome groups = run.send("cmd=92&storeidx=" + std::to_string(run.storeidx()) + "&menuidx=" + menuidx);
    if (!groups.accepted())
        return Error::with_message(run.failure_text(groups, "옵션그룹 목록 실패 menuidx=" + menuidx));
    std::string out = "{\"menuidx\":" + menuidx + ",\"groups\":[";
    for (int i = 0; i < max_groups; ++i) {
        std::string group = json::array_object(groups.payload.str(), "groups", i, max_piece);
        if (group.empty())
            break;
        std::string groupidx = std::to_string(json::int_field(group, "idx", 0));
        Outcome items = run.send("cmd=96&storeidx=" + std::to_string(run.storeidx()) + "&optiongroupidx=" + groupidx);
        if (!items.accepted())
            return Error::with_message(run.failure_text(items, "옵션항목 목록 실패 groupidx=" + groupidx));
        if (i)
            out += ",";
        out += "{\"idx\":" + groupidx + ",\"gname\":" + json::quote(text_of(group, "gname")) + ",\"requiredyn\":"
            + json::quote(text_of(group, "requiredyn")) + ",\"multiselectyn\":" + json::quote(text_of(group, "multiselectyn"))
            + ",\"useyn\":" + json::quote(text_of(group, "useyn")) + ",\"items\":[";
        for (int j = 0; j < max_items; ++j) {
            std::string item = json::array_object(items.payload.str(), "items", j, max_piece);
            if (item.empty())
                break;
            if (j)
                out += ",";
            out += "{\"idx\":" + std::to_string(json::int_field(item, "idx", 0)) + ",\"iname\":" + json::quote(text_of(item, "iname"))
                + ",\"addprice\":" + std::to_string(json::int_field(item, "addprice", 0))
                + ",\"soldout\":" + std::to_string(json::int_field(item, "soldout", 0)) + "}";
        }
        out += "]}";
    }
    out += "]}";
    return out;
}

void run_get_menu_options(RowRun& run)
{
    // One menu, or several as a comma list; each answers on its own.
    std::string_view list = run.arg(1);
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string_view::npos)
            end = list.size();
        std::string_view menuidx = list.substr(start, end - start);
        start = end + 1;
        if (menuidx.empty())
            continue;
        if (!is_digits(menuidx)) {
            run.fail(text_bad_number);
            return;
        }
        auto options = menu_options_object(run, std::string(menuidx));
        if (!options.ok()) {
            run.fail(options.error().message);
            return;
        }
        run.callback("setMenuOptions", options.value());
    }
}

OptionsAdded add_menu_options(RowRun& run, std::string const& menuidx, std::string_view groups_text)
{
    OptionsAdded added;
    std::string text = groups_object(groups_text);
    std::string const store = std::to_string(run.storeidx());
    auto note = [&](std::string failure) {
        if (added.first_failure.empty())
            added.first_failure = std::move(failure);
    };
    for (int i = 0; i < max_groups; ++i) {
        std::string group = json::array_object(text, "groups", i, max_piece);
        if (group.empty())
            break;
        std::string name = text_of(group, "gname");
        int items = 0;
        while (items < max_items && !json::array_object(group, "items", items, max_piece).empty())
            ++items;
        // A group without items still counts as one option asked for.
        added.asked += items ? items : 1;
        auto gname = pair("gname", name);
        if (!gname.ok() || name.empty()) {
            note("옵션그룹 추가 실패 — " + (gname.ok() ? std::string("이름이 비었습니다") : gname.error().message));
            continue;
        }
        Outcome made = run.send("cmd=93&storeidx=" + store + "&menuidx=" + menuidx + gname.value() + "&requiredyn="
            + yes_no(group, "requiredyn") + "&multiselectyn=" + yes_no(group, "multiselectyn"));
        if (!made.accepted()) {
            note(run.failure_text(made, "옵션그룹 추가 실패"));
            continue;
        }
        Outcome listed = run.send("cmd=92&storeidx=" + store + "&menuidx=" + menuidx);
        int groupidx = listed.accepted() ? find_new_group(listed.payload.str(), name) : 0;
        if (groupidx <= 0) {
            note("만든 옵션그룹 번호를 못 찾음 — " + name);
            continue;
        }
        if (!items)
            ++added.saved;
        for (int j = 0; j < items; ++j) {
            std::string item = json::array_object(group, "items", j, max_piece);
            auto iname = pair("iname", text_of(item, "iname"));
            if (!iname.ok()) {
                note("옵션항목 추가 실패 — " + iname.error().message);
                continue;
            }
            Outcome saved = run.send("cmd=97&storeidx=" + store + "&optiongroupidx=" + std::to_string(groupidx) + iname.value()
                + "&addprice=" + std::to_string(json::int_field(item, "addprice", 0)));
            if (saved.accepted())
                ++added.saved;
            else
                note(run.failure_text(saved, "옵션항목 추가 실패"));
        }
    }
    return added;
}

void run_add_menu_options(RowRun& run)
{
    if (!is_digits(run.arg(1))) {
        run.fail(text_bad_number);
        return;
    }
    std::string groups;
    for (size_t f = 2; f < run.command().fields.size(); ++f)
        groups += (f > 2 ? "</>" : "") + run.command().fields[f];
    OptionsAdded added = add_menu_options(run, std::string(run.arg(1)), groups);
    if (added.saved == added.asked && added.first_failure.empty())
        run.status("옵션 " + std::to_string(added.saved) + "개를 넣었습니다");
    else
        run.status("옵션 " + std::to_string(added.asked) + "개 중 " + std::to_string(added.saved) + "개만 넣었습니다"
            + (added.first_failure.empty() ? "" : " (" + added.first_failure + ")"));
}

void run_add_menu(RowRun& run)
{
    auto request = run.fill("cmd=18&storeidx={s}&categoryidx={1}&mname={2}&price={3}&comment={4}&photopath={5}");
    if (!request.ok()) {
        run.fail(request.error().message);
        return;
    }
    Outcome made = run.send(request.value().str());
    int menuidx = made.accepted() ? json::int_field(made.payload.str(), "menuidx", 0) : 0;
    if (menuidx <= 0) {
        std::string text = made.accepted() ? "메뉴를 넣지 못했습니다 — 서버가 메뉴 번호를 주지 않았습니다"
                                           : run.failure_text(made, "메뉴를 넣지 못했습니다");
        run.status(text);
        run.callback("addMenuFail", json::quote(text));
        return;
    }
    std::string options;
    for (size_t f = 6; f < run.command().fields.size(); ++f)
        options += (f > 6 ? "</>" : "") + run.command().fields[f];
    if (options.find('{') == std::string::npos) {
        run.status("메뉴를 넣었습니다.");
    } else {
        OptionsAdded added = add_menu_options(run, std::to_string(menuidx), options);
        if (added.saved == added.asked)
            run.status("메뉴를 넣었습니다. (옵션 " + std::to_string(added.saved) + "개 포함)");
        else
            run.status("메뉴는 넣었는데 옵션은 " + std::to_string(added.asked) + "개 중 " + std::to_string(added.saved) + "개만 저장됐습니다.");
    }
    run.callback("__pfPanelDone", "'add'");
}

void run_menu_panel(RowRun& run)
{
    if (!is_digits(run.arg(1))) {
        run.fail(text_bad_number);
        return;
    }
    if (!run.read_into("cmd=9&storeidx={s}", "setMenuCategoryData"))
        return;
    auto request = run.fill("cmd=11&storeidx={s}&menuidx={1}");
    Outcome detail = run.send(request.value().str());
    if (!detail.accepted()) {
        run.fail(run.failure_text(detail, "메뉴를 읽지 못했습니다"));
        return;
    }
    run.callback("setMenuDetail", json::quote(detail.payload.str()));
    run.callback("setPresetCategory", std::to_string(json::int_field(detail.payload.str(), "categoryidx", 0)));
}

} // namespace tillbay::store
