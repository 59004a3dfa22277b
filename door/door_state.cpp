#include "door/door_state.h"

namespace tillbay::door {

namespace {

// Never destroyed: door threads may still read the cache while the process
// is ending, after static destructors have started to run.
struct DoorState {
    std::mutex lock;
    std::string kitchen_list;
};

DoorState& state()
{
    static DoorState* s = new DoorState;
    return *s;
}

} // namespace

std::mutex& door_lock() { return state().lock; }

void set_kitchen_list(std::string text)
{
    // The old text is released after the lock, so a reader never waits for a free.
    std::string old;
    {
        std::lock_guard guard(state().lock);
        old.swap(state().kitchen_list);
        state().kitchen_list.swap(text);
    }
}

std::string kitchen_list()
{
    std::lock_guard guard(state().lock);
    return state().kitchen_list;
}

} // namespace tillbay::door
