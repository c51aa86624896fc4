#include "alloc_counter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> counting{false};
std::atomic<std::size_t> live{0}, peak{0}, total{0};

void* Counted(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    if (!counting.load(std::memory_order_relaxed)) return p;
    // The usable size is what free gives back, so live stays exact whichever delete is called.
    const std::size_t got = malloc_usable_size(p);
    total += got;
    const std::size_t now = live += got;
    for (std::size_t seen = peak.load(); now > seen && !peak.compare_exchange_weak(seen, now);) {
    }
    return p;
}

void Release(void* p) noexcept {
    if (p == nullptr) return;
    if (counting.load(std::memory_order_relaxed)) live -= malloc_usable_size(p);
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) {
    return Counted(size);
}
void* operator new[](std::size_t size) {
    return Counted(size);
}
void operator delete(void* p) noexcept {
    Release(p);
}
void operator delete[](void* p) noexcept {
    Release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    Release(p);
}

namespace bench {

Counting::Counting() {
    live = peak = total = 0;
    counting = true;
}

Counting::~Counting() {
    counting = false;
}

AllocFigures Counting::Figures() const {
    return {live.load(), peak.load(), total.load()};
}

}  // namespace bench
