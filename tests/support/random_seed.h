// A seed for randomized tests: TAVRO_TEST_SEED in the environment, else a
// fresh one. It is printed so that a failing run can be repeated exactly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace tavro::test {

inline std::uint64_t TestSeed()
{
    static const std::uint64_t seed = [] {
        if (const char* fixed = std::getenv("TAVRO_TEST_SEED"))
            return static_cast<std::uint64_t>(std::strtoull(fixed, nullptr, 0));
        return (static_cast<std::uint64_t>(std::random_device{}()) << 32) ^ std::random_device{}();
    }();
    static const bool printed = [] {
        std::printf("random seed: TAVRO_TEST_SEED=0x%llx\n", static_cast<unsigned long long>(seed));
        return true;
    }();
    (void)printed;
    return seed;
}

} // namespace tavro::test
