// Searches the test's own process for a secret as someone who can read its
// memory would: every readable, writable mapping of /proc/self/maps (heap,
// stacks, anonymous maps, the data of libraries), read through
// /proc/self/mem. The secret is held masked while searched for, and the
// scan reads into a buffer of its own that it skips, so the search never
// finds itself.
#pragma once

#include "secure_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace tavro::test {

class MaskedSecret {
public:
    static constexpr std::uint8_t kMask = 0xA5;

    // bytes: the secret as it would lie in memory; the caller wipes its own copy.
    explicit MaskedSecret(const void* bytes, std::size_t size)
    {
        const auto* plain = static_cast<const std::uint8_t*>(bytes);
        for (std::size_t i = 0; i < size; ++i)
            m_masked.push_back(static_cast<std::uint8_t>(plain[i] ^ kMask));
    }

    // How many times the secret lies in the process's writable memory.
    std::size_t CountInMemory() const
    {
        constexpr std::size_t kChunk = 1 << 20;
        void* mapped = ::mmap(nullptr, kChunk, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED)
            return SIZE_MAX;
        auto* chunk = static_cast<std::uint8_t*>(mapped);
        const auto ownStart = reinterpret_cast<std::uintptr_t>(chunk);
        const int memory = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
        FILE* maps = std::fopen("/proc/self/maps", "re");
        std::size_t found = 0;
        char line[512];
        while (memory >= 0 && maps && std::fgets(line, sizeof line, maps)) {
            unsigned long start = 0, end = 0;
            char permissions[5] = {};
            if (std::sscanf(line, "%lx-%lx %4s", &start, &end, permissions) != 3 || permissions[0] != 'r' ||
                permissions[1] != 'w' || start == ownStart)
                continue;
            // Chunks overlap by the secret's length, so none is missed at a seam.
            for (unsigned long at = start; at < end;) {
                const std::size_t want = std::min<std::size_t>(kChunk, end - at);
                const ssize_t got = ::pread(memory, chunk, want, static_cast<off_t>(at));
                if (got <= 0)
                    break;
                found += Count(chunk, static_cast<std::size_t>(got));
                if (static_cast<std::size_t>(got) < m_masked.size() || at + static_cast<std::size_t>(got) >= end)
                    break;
                at += static_cast<std::size_t>(got) - (m_masked.size() - 1);
            }
        }
        if (maps)
            std::fclose(maps);
        if (memory >= 0)
            ::close(memory);
        SecureWipe(chunk, kChunk);
        ::munmap(chunk, kChunk);
        return found;
    }

private:
    std::size_t Count(const std::uint8_t* bytes, std::size_t size) const
    {
        std::size_t found = 0;
        const std::size_t length = m_masked.size();
        for (std::size_t i = 0; i + length <= size; ++i) {
            std::size_t j = 0;
            while (j < length && static_cast<std::uint8_t>(bytes[i + j] ^ kMask) == m_masked[j])
                ++j;
            found += j == length;
        }
        return found;
    }

    std::vector<std::uint8_t> m_masked;
};

} // namespace tavro::test
