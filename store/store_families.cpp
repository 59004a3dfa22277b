#include "store/store_families.h"

#include "store/local_commands.h"
#include "store/rows.h"

namespace tillbay::store {

std::vector<Row const*> const& command_table()
{
    static std::vector<Row const*> const table = [] {
        std::vector<Row const*> all;
        for (auto rows : { menu_rows(), store_rows(), product_rows(), sales_rows() })
            for (auto const& row : rows)
                all.push_back(&row);
        return all;
    }();
    return table;
}

Row const* find_row(Slot slot, std::string_view name)
{
    for (Row const* row : command_table())
        if (row->slot == slot && row->name == name)
            return row;
    return nullptr;
}

std::vector<std::string_view> command_names(Slot slot)
{
    std::vector<std::string_view> names;
    for (Row const* row : command_table())
        if (row->slot == slot)
            names.push_back(row->name);
    for (auto const& local : local_commands())
        if (local.slot == slot)
            names.push_back(local.name);
    return names;
}

StoreFamily::StoreFamily(Slot slot, Context& context)
    : m_slot(slot)
    , m_context(context)
{
}

bridge::Handled StoreFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    if (Row const* row = find_row(m_slot, command.name())) {
        RowRun(*row, command, page, m_context).execute();
        return bridge::Handled::Yes;
    }
    if (LocalCommand const* local = find_local_command(m_slot, command.name())) {
        local->run(command, page, m_context);
        return bridge::Handled::Yes;
    }
    return bridge::Handled::No;
}

bridge::Runs StoreFamily::runs(std::string_view name) const
{
    // Every table row talks to a server: it never runs on the UI thread.
    return find_row(m_slot, name) ? bridge::Runs::OnLane : bridge::Runs::OnUiThread;
}

} // namespace tillbay::store
