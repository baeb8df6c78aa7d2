#include "allocations.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <malloc.h>

// glibc's own allocator under its internal names; the definitions below take the place of the
// public ones for the whole process, shared libraries included.
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *p, std::size_t size);
void *__libc_memalign(std::size_t alignment, std::size_t size);
}

namespace
{
std::atomic<long long> g_allocations{0};

void count()
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

long long heapAllocations()
{
    return g_allocations.load(std::memory_order_relaxed);
}

extern "C" {

void *malloc(std::size_t size) noexcept
{
    count();
    return __libc_malloc(size);
}

void *calloc(std::size_t n, std::size_t size) noexcept
{
    count();
    return __libc_calloc(n, size);
}

void *realloc(void *p, std::size_t size) noexcept
{
    count();
    return __libc_realloc(p, size);
}

void *aligned_alloc(std::size_t alignment, std::size_t size) noexcept
{
    count();
    return __libc_memalign(alignment, size);
}

void *memalign(std::size_t alignment, std::size_t size) noexcept
{
    count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void **out, std::size_t alignment, std::size_t size) noexcept
{
    count();
    void *p = __libc_memalign(alignment, size);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}

} // extern "C"
