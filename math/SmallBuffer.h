// The one stack-or-heap buffer of the library: hot paths keep small work arrays on the stack
// and fall back to one heap block above a size fixed at compile time.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>

namespace VelSDK {
namespace Math {

/// size elements of a trivially copyable T: in the object itself when size <= StackSize,
/// else in one heap block. The elements are not initialised (callers write before they read),
/// so a large stack array costs nothing when most of it is not used. Not copyable.
template <typename T, std::size_t StackSize>
class SmallBuffer {
    static_assert(std::is_trivially_copyable<T>::value && std::is_trivially_destructible<T>::value,
                  "SmallBuffer holds plain values only");

public:
    explicit SmallBuffer(std::size_t size) {
        if (size > StackSize) {
            m_heap.reset(static_cast<T*>(::operator new(size * sizeof(T))));
            m_data = m_heap.get();
        }
    }
    SmallBuffer(const SmallBuffer&) = delete;
    SmallBuffer& operator=(const SmallBuffer&) = delete;

    T* data() noexcept { return m_data; }
    T& operator[](std::size_t i) noexcept { return m_data[i]; }

private:
    struct Release {
        void operator()(T* p) const noexcept { ::operator delete(p); }
    };
    alignas(T) unsigned char m_stack[StackSize * sizeof(T) > 0 ? StackSize * sizeof(T) : 1];
    std::unique_ptr<T, Release> m_heap;
    T* m_data = reinterpret_cast<T*>(m_stack);
};

}  // namespace Math
}  // namespace VelSDK
