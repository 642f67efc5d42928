#include "tests/support/failing_alloc.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> gArmed{false};
std::atomic<std::thread::id> gThread{};
std::atomic<size_t> gLeft{0};
std::atomic<bool> gThrown{false};

}  // namespace

namespace ov::testing {

void FailAllocation(size_t after, std::thread::id on) {
    gThread.store(on);
    gLeft.store(after);
    gThrown.store(false);
    gArmed.store(true);
}

bool StopFailingAllocations() {
    gArmed.store(false);
    return gThrown.load();
}

}  // namespace ov::testing

// Every plain form is replaced, so each allocation is counted once and freed by
// its own kind (sanitizers check that); the aligned forms stay the library's.
void* operator new(std::size_t size) {
    if (gArmed.load() && gThread.load() == std::this_thread::get_id() && gLeft.fetch_sub(1) == 0) {
        gArmed.store(false);
        gThrown.store(true);
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return operator new(size, std::nothrow);
}

void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
