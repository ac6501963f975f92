// Wiping of secrets: key copies, plaintext and work buffers are overwritten
// before their memory is given back, in a way the optimiser cannot drop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tavro {

// Overwrites size bytes at data with zeros; never elided by the compiler.
void SecureWipe(void* data, std::size_t size) noexcept;

// std::allocator that wipes every block before freeing it.
template <class T>
struct WipingAllocator {
    using value_type = T;
    WipingAllocator() noexcept = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept
    {
        SecureWipe(p, n * sizeof(T));
        std::allocator<T>{}.deallocate(p, n);
    }
    template <class U>
    bool operator==(const WipingAllocator<U>&) const noexcept { return true; }
};

// Byte buffer for plaintext and anything derived from a key.
using SecureBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;

// Appends bytes, which must not lie in buffer, with one copy: a vector's own
// insert copies a byte at a time under an allocator other than std's.
void AppendBytes(SecureBytes& buffer, std::span<const std::uint8_t> bytes);

// Drops the first count bytes of buffer, moving the rest to the front and
// wiping the bytes that fall free behind it. Meant for short remainders.
void DropFront(SecureBytes& buffer, std::size_t count) noexcept;

} // namespace tavro
