// The owner's back office: shop details, products, reviews, messages,
// promotions, the online mall and sales figures.

#include "tools/platform/commands.h"

namespace tillbay::platform {

void register_store_commands(CommandTables&) { }

} // namespace tillbay::platform
