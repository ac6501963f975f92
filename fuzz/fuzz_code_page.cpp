// The code page 936 decoder on arbitrary bytes, whole and in pieces: the
// same text either way, never more units than bytes, and text that encodes
// back to the bytes it came from where it holds no U+FFFD.
#include "code_page.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);

    const std::u16string whole = tavro::DecodeCodePage(bytes);
    if (whole.size() > bytes.size())
        std::abort();
    std::u16string pieces;
    tavro::CodePageDecoder decoder;
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        decoder.Decode(bytes.subspan(at, std::min(piece, bytes.size() - at)), false, pieces);
    decoder.Decode({}, true, pieces);
    if (pieces != whole)
        std::abort();

    if (whole.find(u'\uFFFD') == std::u16string::npos) {
        const tavro::SecureBytes again = tavro::EncodeCodePage(whole);
        const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
        if (!std::equal(again.begin(), again.end(), bytes.begin(), end))
            std::abort();
    }
    return 0;
}
