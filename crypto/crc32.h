// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, register starts at
// 0xFFFFFFFF, final complement), as used over the cipher body of a document.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavro {

// CRC-32 of length bytes. An empty input gives 0xFFFFFFFF, not 0: for a
// body of length 0 the loop and the final complement are both skipped, and
// every empty document on disk carries that value.
std::uint32_t Crc32(const std::uint8_t* data, std::size_t length);

// Crc32 of a body that arrives in pieces: Value() after feeding the pieces
// in order equals Crc32 of them joined, the empty-input rule included.
class Crc32Stream {
public:
    void Update(const std::uint8_t* data, std::size_t length);
    std::uint32_t Value() const { return fed_ ? ~register_ : 0xFFFFFFFF; }

private:
    std::uint32_t register_ = 0xFFFFFFFF;
    bool fed_ = false;
};

// The implementations behind Crc32. Crc32 uses the fastest one this CPU
// runs; all give identical results, and each is reachable here so that
// every one of them can be tested on the machine at hand.
enum class Crc32Engine {
    Portable,          // table-driven, 16 bytes per step; runs anywhere
    CarrylessMultiply, // x86 PCLMULQDQ folding, 64 bytes per step
};

// Whether this CPU (and this build) can run engine.
bool Crc32EngineAvailable(Crc32Engine engine);

// Crc32 computed by engine, same empty-input rule; an engine that is not
// available falls back to the portable one.
std::uint32_t Crc32Using(Crc32Engine engine, const std::uint8_t* data, std::size_t length);

} // namespace tavro
