#pragma once

// The two sign-ins. Staff sign in with command 100 as a store call; the
// owner signs in with command 12 as an encrypted owner message under the
// application key and IV, and receives a device key and IV of their own.
// Both only talk to the server and read its answer; what the POS does with a
// successful sign-in is the login family's business.

#include "base/result.h"
#include "server/api.h"
#include "session/session.h"

#include <string>
#include <string_view>

namespace tillbay::signin {

struct Staff {
    int storeidx = 0;
    int useridx = 0;
    std::string shop_name;
};

// Checks the input, sends "cmd=100&id=..&pw=..", reads the store and member
// numbers and the shop name, and makes the answer's token the access token.
// The error's message is the user's text; the session is untouched on failure.
// When no answer came from the server at all the error's code is no_answer.
inline constexpr int no_answer = -1001;
Result<Staff> staff(api::Endpoint const& endpoint, std::string_view id, std::string_view password);

// Checks the application key and the input, sends "cmd=12&id=..&password=.."
// encrypted with the application key and IV, and returns the owner's record.
Result<session::OwnerRecord> owner(api::Endpoint const& endpoint, std::string_view app_key,
    std::string_view app_iv, std::string_view id, std::string_view password);

} // namespace tillbay::signin
