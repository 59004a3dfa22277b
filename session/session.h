#pragma once

// Who is signed in at the counter. Staff sign in with the store's POS account
// and get a store number, a member number, the shop name and an access
// token; the owner signs in with the owner account and gets, besides the
// numbers, a personal AES key and IV for the encrypted owner messages. An
// owner sign-in also signs the POS in to the owner's store when no staff
// member is signed in or the staff member belongs to another store
// ("owner-made" staff state).
//
// Written by the sign-in commands; read from any thread (the order board,
// the push channel, the command lane building requests). Numbers are atomic
// words; the texts sit behind one lock and are handed out as copies. Every
// change of who is signed in raises the epoch: a request built for one
// sign-in is sent only while that sign-in is still the current one, so a
// sign-out never lets an old token leave after it. Nothing survives a restart.

#include "base/secret.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::session {

inline constexpr size_t max_token = 79;
inline constexpr size_t max_shop_name = 127;
inline constexpr size_t max_owner_name = 127;
inline constexpr size_t owner_key_length = 64;
inline constexpr size_t owner_iv_length = 32;

// The owner's sign-in record; all empty when no owner is signed in.
struct OwnerRecord {
    SecretString devkey; // 64 hexadecimal characters
    SecretString deviv;  // 32 hexadecimal characters
    int idx = 0;             // the owner's member number
    int storeidx = 0;
    std::string name;
    std::string nickname;

    bool signed_in() const { return !devkey.empty(); }
};

struct StaffState {
    bool signed_in = false;
    int storeidx = 0;
    int useridx = 0;
    std::string shop_name;
    bool owner_made = false; // the staff sign-in came from an owner sign-in
};

// Readers, for every thread.
int storeidx();
int useridx();
bool staff_signed_in();
std::string shop_name();
StaffState staff();
bool owner_signed_in();
OwnerRecord owner();

// What a request needs of the sign-in, read at one moment.
struct Snapshot {
    uint64_t epoch = 0;
    bool staff_signed_in = false;
    int storeidx = 0;
    int useridx = 0;
    SecretString token;
};
Snapshot snapshot();
uint64_t epoch();

// Runs send while the sign-in of the epoch is the current one and cannot
// change; sent holds what send returned. False, without running send, when
// the sign-in has changed since.
bool send_if_current(uint64_t epoch, std::function<bool()> const& send, bool& sent);

// The access token sent with every store call; empty before sign-in.
SecretString access_token();
// Sets the token (cut to max_token bytes); no value or an empty one clears it.
void set_access_token(std::optional<std::string_view> token);

// Writers, for the sign-in commands.
void set_staff(int storeidx, int useridx, std::string_view shop_name, bool owner_made);
void set_shop_name(std::string_view shop_name);
// Clears the staff flag, the numbers, the shop name, the access token and
// the saved staff token.
void clear_staff();
void set_owner(OwnerRecord const& record);
void clear_owner();

// The staff member's own token, held aside while an owner token is in use.
SecretString saved_staff_token();
void set_saved_staff_token(std::optional<std::string_view> token);

// Signs everything out; for tests and for the end of the process.
void reset();

} // namespace tillbay::session
