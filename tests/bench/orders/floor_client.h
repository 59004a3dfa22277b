#pragma once

// The floor the order benchmarks measure the program against: a bare client
// in the benchmark's own process that uses the program's settings and its
// server calls (a new TLS connection per store call, as the protocol has it),
// signed in as the same staff, with nothing of the program around them.

#include "pos_rig.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace bench {

// Runs the floor's work for each event's order, one at a time and in order,
// on a thread of its own, so that the relay peer's reader never waits.
class FloorWorker {
public:
    ~FloorWorker() { stop(); }

    void start(std::function<void(long long orderidx)> work);
    void add(long long orderidx);
    void stop();

private:
    void run();

    std::function<void(long long)> m_work;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<long long> m_orders;
    bool m_stopping = false;
    std::thread m_worker;
};

// Reads the settings the rig laid out for the program and signs the floor
// client in as staff; false with rig.failure set.
bool sign_in_floor_client(Rig& rig);

} // namespace bench
