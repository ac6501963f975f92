// tavro-cli's UTF-8 check on arbitrary bytes: every engine agrees with the
// decoder of passwords on whether they are strict UTF-8 and where the first
// fault is, and text that passes converts to code page 936 within its room.
#include "text_coding.h"
#include "utf8.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tavro::cli;
    const std::span<const std::uint8_t> bytes(data, size);
    SecureText units;
    std::size_t errorOffset = 0;
    const bool valid = Utf8ToUtf16(bytes, units, errorOffset);
    for (Utf8Engine engine : {Utf8Engine::Portable, Utf8Engine::Avx2}) {
        if (Utf8EngineAvailable(engine) && IsUtf8Using(engine, bytes) != valid)
            std::abort();
    }
    if (FindInvalidUtf8(bytes) != (valid ? size : errorOffset))
        std::abort();
    if (Utf8PieceEnd(bytes) > size)
        std::abort();
    if (valid) {
        std::vector<std::uint8_t> out(size);
        tavro::LossyCharacterSet lossy;
        if (Utf8ToCodePage(bytes, out.data(), lossy) > size)
            std::abort();
    }
    return 0;
}
