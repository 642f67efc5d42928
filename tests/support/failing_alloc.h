// A seam for the paths taken when memory runs out: the test program's global
// operator new, replaced by one that throws std::bad_alloc when asked to. It is
// linked into a test program only when the program calls these.
#pragma once

#include <cstddef>
#include <new>
#include <thread>

namespace ov::testing {

// From now on the allocation number `after` (0: the next one) made by thread
// `on` throws std::bad_alloc; every other allocation succeeds.
void FailAllocation(size_t after, std::thread::id on = std::this_thread::get_id());
// Disarms the seam; true when the failure was thrown.
bool StopFailingAllocations();

// For k = 0, 1, ...: prepare(), then act() with this thread's k-th allocation
// failing, then settle(threw) with the seam disarmed, where threw says whether
// act let std::bad_alloc out. Ends after the first act that ran through without
// reaching the failure; returns the number of acts that threw.
template <class Prepare, class Act, class Settle>
size_t FailEachAllocation(Prepare&& prepare, Act&& act, Settle&& settle) {
    size_t threw = 0;
    for (size_t k = 0;; ++k) {
        prepare();
        bool caught = false;
        FailAllocation(k);
        try {
            act();
        } catch (const std::bad_alloc&) {
            caught = true;
        }
        const bool reached = StopFailingAllocations();
        threw += caught ? 1 : 0;
        settle(caught);
        if (!reached) return threw;
    }
}

}  // namespace ov::testing
