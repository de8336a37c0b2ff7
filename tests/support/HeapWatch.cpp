#include "HeapWatch.h"

#include <cstdlib>
#include <new>

namespace qvtest::heap
{
thread_local bool watching = false;
std::atomic<long> allocations { 0 };
std::atomic<long> frees { 0 };

void touchHeapOnce()
{
    int* volatile p = new int (1);
    delete p;
}
} // namespace qvtest::heap

using namespace qvtest;

#if ! defined(__SANITIZE_ADDRESS__) && ! defined(__SANITIZE_THREAD__)
extern "C" {
void* __libc_malloc (std::size_t);
void* __libc_calloc (std::size_t, std::size_t);
void* __libc_realloc (void*, std::size_t);
void* __libc_memalign (std::size_t, std::size_t);

void* malloc (std::size_t n)
{
    heap::allocations += heap::watching ? 1 : 0;
    return __libc_malloc (n);
}
void* calloc (std::size_t a, std::size_t b)
{
    heap::allocations += heap::watching ? 1 : 0;
    return __libc_calloc (a, b);
}
void* realloc (void* p, std::size_t n)
{
    heap::allocations += heap::watching ? 1 : 0;
    return __libc_realloc (p, n);
}
int posix_memalign (void** p, std::size_t alignment, std::size_t n)
{
    heap::allocations += heap::watching ? 1 : 0;
    return (*p = __libc_memalign (alignment, n)) != nullptr ? 0 : 12;
}
void* aligned_alloc (std::size_t alignment, std::size_t n)
{
    heap::allocations += heap::watching ? 1 : 0;
    return __libc_memalign (alignment, n);
}
}
// operator new goes through malloc above, which counts it once.
#define QV_COUNT_NEW 0
#else
#define QV_COUNT_NEW 1
#endif

namespace
{
void* allocate (std::size_t size)
{
    if (QV_COUNT_NEW && heap::watching)
        ++heap::allocations;
    if (void* p = std::malloc (size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void release (void* p) noexcept
{
    if (p != nullptr && heap::watching)
        ++heap::frees;
    std::free (p);
}
} // namespace

void* operator new (std::size_t size)
{
    return allocate (size);
}
void* operator new[] (std::size_t size)
{
    return allocate (size);
}
void* operator new (std::size_t size, const std::nothrow_t&) noexcept
{
    try
    {
        return allocate (size);
    }
    catch (...)
    {
        return nullptr;
    }
}
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept
{
    try
    {
        return allocate (size);
    }
    catch (...)
    {
        return nullptr;
    }
}
void operator delete (void* p) noexcept
{
    release (p);
}
void operator delete[] (void* p) noexcept
{
    release (p);
}
void operator delete (void* p, std::size_t) noexcept
{
    release (p);
}
void operator delete[] (void* p, std::size_t) noexcept
{
    release (p);
}
