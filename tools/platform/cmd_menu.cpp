// Menus: the counter's order page reads categories, menus and options; the
// owner edits them.

#include "tools/platform/commands.h"

namespace tillbay::platform {

namespace {

Json categories_of(Call& call)
{
    Json list = Json::array();
    for (auto& c : call.db().query("SELECT categoryidx AS idx, categoryidx, ctname, ordernum,"
                                   " (SELECT COUNT(*) FROM menus m WHERE m.categoryidx=c.categoryidx AND m.deleted=0) AS menucount"
                                   " FROM categories c WHERE storeidx=? ORDER BY ordernum, categoryidx",
             { call.storeidx }))
        list.push_back(c);
    return list;
}

Json menus_of(Call& call, long long categoryidx)
{
    Json list = Json::array();
    for (auto& m : call.db().query("SELECT menuidx, categoryidx, mname, price, comment, photopath, useyn, soldout, dcrate, ordernum"
                                   " FROM menus WHERE storeidx=? AND deleted=0 AND (?=0 OR categoryidx=?) ORDER BY ordernum, menuidx",
             { call.storeidx, categoryidx, categoryidx }))
        list.push_back(m);
    return list;
}

Json groups_of(Call& call, long long menuidx)
{
    Json groups = Json::array();
    for (auto& g : call.db().query("SELECT groupidx AS idx, gname, requiredyn, multiselectyn, useyn FROM option_groups WHERE menuidx=? ORDER BY groupidx",
             { menuidx })) {
        Json items = Json::array();
        for (auto& i : call.db().query("SELECT itemidx AS idx, iname, addprice, soldout, useyn FROM option_items WHERE groupidx=? ORDER BY itemidx",
                 { g["idx"] }))
            items.push_back(i);
        g["items"] = items;
        groups.push_back(g);
    }
    return groups;
}

Reply menu_categories(Call& call)
{
    auto store = call.db().query_one("SELECT shopname, tablecount FROM stores WHERE storeidx=?", { call.storeidx });
    return Reply::ok({ { "categories", categories_of(call) }, { "tablenum", store["tablecount"] }, { "shopname", store["shopname"] } });
}

Reply menu_list(Call& call) { return Reply::ok({ { "categoryidx", call.num("categoryidx") }, { "menus", menus_of(call, call.num("categoryidx")) } }); }

Reply menu_options(Call& call)
{
    Json options = Json::array();
    for (auto const& m : menus_of(call, call.num("categoryidx")))
        options.push_back({ { "menuidx", m["menuidx"] }, { "groups", groups_of(call, m["menuidx"]) } });
    return Reply::ok({ { "categoryidx", call.num("categoryidx") }, { "options", options } });
}

} // namespace

void register_menu_commands(CommandTables& t)
{
    t.store[1] = menu_categories;
    t.store[2] = menu_list;
    t.store[3] = menu_options;
    t.owner[1] = menu_categories;
    t.owner[9] = [](Call& call) { return Reply::ok({ { "categories", categories_of(call) } }); };
    t.owner[10] = menu_list;
}

} // namespace tillbay::platform
