#pragma once
// Memory aligned for direct I/O (devices opened past the cache want page-aligned buffers), with
// an owner that frees it the way it was taken: the Windows C runtime has no std::aligned_alloc and
// wants _aligned_free for what _aligned_malloc gave. Plain C++, no Qt.

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

#ifdef _WIN32
#include <malloc.h>
#endif

namespace aligned {

struct Free {
    void operator()(void* p) const noexcept {
#ifdef _WIN32
        ::_aligned_free(p);
#else
        std::free(p);
#endif
    }
};

template <typename T> using Buffer = std::unique_ptr<T, Free>;

// `bytes` rounded up to a whole number of `alignment` (a power of two); throws std::bad_alloc.
template <typename T = char> Buffer<T> allocate(size_t alignment, size_t bytes) {
    const size_t rounded = (bytes + alignment - 1) / alignment * alignment;
#ifdef _WIN32
    void* p = ::_aligned_malloc(rounded == 0 ? alignment : rounded, alignment);
#else
    void* p = std::aligned_alloc(alignment, rounded == 0 ? alignment : rounded);
#endif
    if (!p) throw std::bad_alloc();
    return Buffer<T>(static_cast<T*>(p));
}

} // namespace aligned
