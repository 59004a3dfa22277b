#include "floor_client.h"

#include "foundation/paths.h"
#include "foundation/settings.h"
#include "server/api.h"
#include "server/signin.h"
#include "server/transport.h"
#include "session/session.h"

namespace bench {

bool sign_in_floor_client(Rig& rig)
{
    tillbay::paths::set_exe_dir_for_testing(rig.pos + "/");
    tillbay::settings::read_server_settings();
    auto const& server = tillbay::settings::server();
    tillbay::transport::configure(server.tls, server.tlsfp, server.host);
    auto staff = tillbay::signin::staff(tillbay::api::configured_endpoint(), "tillbay01", "pos1234!");
    if (!staff.ok())
        return rig.fail("the floor client could not sign in: " + staff.error().message);
    tillbay::session::set_staff(staff.value().storeidx, staff.value().useridx, staff.value().shop_name, false);
    return true;
}

} // namespace bench
