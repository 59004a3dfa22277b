#pragma once

// The values the order board shares with the tablet door. The door's
// connection threads serve the kitchen display from the kitchen list cache
// while the UI thread replaces it after every order list fetch; one lock, the
// door lock, guards them, and it is held only to copy a text in or out.

#include <mutex>
#include <string>
#include <string_view>

namespace tillbay::door {

// The door lock. Also guards the door log and the customer state once the
// door keeps them; nobody holds it across a network wait or a page call.
std::mutex& door_lock();

// Replaces the kitchen list cache whole (UI thread, after a list fetch).
void set_kitchen_list(std::string text);
// A copy of the kitchen list cache; empty until the first fetch.
std::string kitchen_list();

} // namespace tillbay::door
