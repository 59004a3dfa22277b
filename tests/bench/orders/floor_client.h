#pragma once

// The floor the order benchmarks measure the program against: a bare client
// in the benchmark's own process that uses the program's settings and its
// server calls (a new TLS connection per store call, as the protocol has it),
// signed in as the same staff, with nothing of the program around them.

#include "pos_rig.h"

namespace bench {

// Reads the settings the rig laid out for the program and signs the floor
// client in as staff; false with rig.failure set.
bool sign_in_floor_client(Rig& rig);

} // namespace bench
