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

} // namespace tavro
