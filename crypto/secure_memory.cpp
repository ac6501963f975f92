#include "secure_memory.h"

#include <cstring>

namespace tavro {

void SecureWipe(void* data, std::size_t size) noexcept
{
    if (data == nullptr || size == 0)
        return;
    std::memset(data, 0, size);
    // The barrier tells the compiler the zeroed memory is read afterwards,
    // so the memset above cannot be removed as a dead store.
    __asm__ __volatile__("" : : "r"(data) : "memory");
}

void AppendBytes(SecureBytes& buffer, std::span<const std::uint8_t> bytes)
{
    if (bytes.empty())
        return;
    const std::size_t size = buffer.size();
    buffer.resize(size + bytes.size());
    std::memcpy(buffer.data() + size, bytes.data(), bytes.size());
}

void DropFront(SecureBytes& buffer, std::size_t count) noexcept
{
    if (count == 0)
        return;
    const std::size_t rest = buffer.size() - count;
    std::memmove(buffer.data(), buffer.data() + count, rest);
    SecureWipe(buffer.data() + rest, count);
    buffer.resize(rest);
}

} // namespace tavro
