// ScratchVector: a std::vector whose resize leaves plain elements uninitialised, for large
// work arrays that are written before they are read.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "math/HugePages.h"

namespace VelSDK {
namespace Math {

/// Allocator that default-initialises (leaves trivial elements uninitialised) on resize, so
/// that sizing a buffer that is written later neither zeroes it nor touches its pages.
/// Large blocks are advised to use huge pages before anything touches them.
template <typename T>
struct DefaultInitAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    DefaultInitAllocator() = default;
    template <typename U>
    DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        T* p = std::allocator<T>::allocate(n);
        AdviseHugePages(p, n * sizeof(T));
        return p;
    }
    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible<U>::value) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

template <typename T>
using ScratchVector = std::vector<T, DefaultInitAllocator<T>>;

}  // namespace Math
}  // namespace VelSDK
