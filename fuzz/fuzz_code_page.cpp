// The code page 936 decoder on arbitrary bytes, whole and in pieces: the
// same text either way, also in pieces cut after bytes below 0x80 and
// decoded apart (as tavro-cli does), never more units than bytes, and text
// that encodes back to the bytes it came from where it holds no U+FFFD.
// Where the one-pass decoder by table covers the bytes, it gives the
// decoder's text as UTF-8 and the judge's counts.
#include "code_page.h"
#include "read_judgement.h"
#include "utf8.h"

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

    std::u16string apart;
    for (std::size_t from = 0, at = 0; at < bytes.size(); ++at) {
        if (bytes[at] < 0x80 || at + 1 == bytes.size()) {
            tavro::CodePageDecoder own;
            own.Decode(bytes.subspan(from, at + 1 - from), true, apart);
            from = at + 1;
            if (bytes[at] == 0)
                break;
        }
    }
    if (apart != whole)
        std::abort();

    std::string utf8(3 * bytes.size() + 1, '\0');
    std::size_t written = 0;
    tavro::ReadJudgement fast;
    if (tavro::DecodeAndJudgeByTable(bytes, reinterpret_cast<std::uint8_t*>(utf8.data()), written, fast)) {
        tavro::ReadJudge judge;
        judge.AddText(whole);
        judge.AddPlaintext(bytes);
        tavro::ReadJudgement slow = judge.Finish(0, 0, true);
        slow.doubts &= ~static_cast<std::uint32_t>(tavro::ReadDoubt::RareShare);
        const tavro::SecureBytes expected = tavro::cli::Utf16ToUtf8(whole);
        if (utf8.compare(0, written, reinterpret_cast<const char*>(expected.data()), expected.size()) != 0 ||
            fast.doubts != slow.doubts || fast.characters != slow.characters || fast.rare != slow.rare)
            std::abort();
    }

    if (whole.find(u'\uFFFD') == std::u16string::npos) {
        const tavro::SecureBytes again = tavro::EncodeCodePage(whole);
        const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
        if (!std::equal(again.begin(), again.end(), bytes.begin(), end))
            std::abort();
    }
    return 0;
}
