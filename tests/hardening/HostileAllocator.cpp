// Replacement allocation functions of the hardening program: every request goes through
// hostile::Allocate, which refuses blocks above the ceiling of a live hostile::Ceiling.
#include "hardening/Hostile.h"

#include <cstddef>
#include <new>

void* operator new(std::size_t size) {
    if (void* p = hostile::Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = hostile::Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return hostile::Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return hostile::Allocate(size); }
void operator delete(void* p) noexcept { hostile::Release(p); }
void operator delete[](void* p) noexcept { hostile::Release(p); }
void operator delete(void* p, std::size_t) noexcept { hostile::Release(p); }
void operator delete[](void* p, std::size_t) noexcept { hostile::Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { hostile::Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { hostile::Release(p); }
