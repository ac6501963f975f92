#include "utf8.h"

#include <algorithm>
#include <cstring>

namespace tavro::cli {
namespace {

// Writes cp as UTF-16 at out; returns the units written.
std::size_t PutUtf16(char16_t* out, char32_t cp)
{
    if (cp < 0x10000) {
        out[0] = static_cast<char16_t>(cp);
        return 1;
    }
    cp -= 0x10000;
    out[0] = static_cast<char16_t>(0xD800 + (cp >> 10));
    out[1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    return 2;
}

// Writes cp as UTF-8 at out; returns the bytes written.
std::size_t PutUtf8(std::uint8_t* out, char32_t cp)
{
    if (cp < 0x80) {
        out[0] = static_cast<std::uint8_t>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<std::uint8_t>(0xC0 | (cp >> 6));
        out[1] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<std::uint8_t>(0xE0 | (cp >> 12));
        out[1] = static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<std::uint8_t>(0xF0 | (cp >> 18));
    out[1] = static_cast<std::uint8_t>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
    return 4;
}

enum class Step { Done, Incomplete, Invalid };

// Decodes in[0..] to out as far as it is valid. i ends at the first byte not
// decoded; written counts the units made. Incomplete: in ends inside a
// sequence that is valid so far.
Step DecodeUtf8(std::span<const std::uint8_t> in, char16_t* out, std::size_t& i, std::size_t& written)
{
    const std::size_t size = in.size();
    while (i < size) {
        const std::uint8_t lead = in[i];
        if (lead < 0x80) {
            out[written++] = lead;
            ++i;
            continue;
        }
        // Length and the allowed range of the second byte, which is what
        // excludes overlong forms, surrogates and values beyond U+10FFFF.
        std::size_t length = 0;
        std::uint8_t low = 0x80, high = 0xBF;
        char32_t cp = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            cp = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            cp = lead & 0x0Fu;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            cp = lead & 0x07u;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        } else {
            return Step::Invalid;
        }
        const std::size_t available = std::min(length, size - i);
        if (available >= 2 && (in[i + 1] < low || in[i + 1] > high))
            return Step::Invalid;
        for (std::size_t k = 2; k < available; ++k) {
            if ((in[i + k] & 0xC0) != 0x80)
                return Step::Invalid;
        }
        if (available < length)
            return Step::Incomplete;
        for (std::size_t k = 1; k < length; ++k)
            cp = (cp << 6) | (in[i + k] & 0x3Fu);
        written += PutUtf16(out + written, cp);
        i += length;
    }
    return Step::Done;
}

// Writes text as UTF-8 at out (3 bytes per unit at most); a high surrogate
// at the end is left in pendingHigh unless last.
std::size_t EncodeUtf16(std::u16string_view text, bool last, char16_t& pendingHigh, std::uint8_t* out)
{
    std::size_t written = 0;
    std::size_t i = 0;
    if (pendingHigh != 0) {
        if (!text.empty() && text[0] >= 0xDC00 && text[0] <= 0xDFFF) {
            written += PutUtf8(out, 0x10000 + ((pendingHigh - 0xD800u) << 10) + (text[0] - 0xDC00u));
            i = 1;
        } else if (!text.empty() || last) {
            written += PutUtf8(out, 0xFFFD);
        } else {
            return 0;
        }
        pendingHigh = 0;
    }
    for (; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp < 0x80) {
            out[written++] = static_cast<std::uint8_t>(cp);
            continue;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 == text.size() && !last) {
                pendingHigh = static_cast<char16_t>(cp);
                break;
            }
            if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
                ++i;
            } else {
                cp = 0xFFFD;
            }
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        written += PutUtf8(out + written, cp);
    }
    return written;
}

} // namespace

bool Utf8ToUtf16(std::span<const std::uint8_t> in, SecureText& out, std::size_t& errorOffset)
{
    out.resize(in.size());
    std::size_t i = 0;
    std::size_t written = 0;
    const Step step = DecodeUtf8(in, out.data(), i, written);
    out.resize(written);
    if (step != Step::Done) {
        errorOffset = i;
        return false;
    }
    return true;
}

SecureBytes Utf16ToUtf8(std::u16string_view text)
{
    SecureBytes out(text.size() * 3);
    char16_t pendingHigh = 0;
    out.resize(EncodeUtf16(text, /*last=*/true, pendingHigh, out.data()));
    return out;
}

std::size_t Utf8Decoder::Decode(std::span<const std::uint8_t> in, bool last, SecureText& out)
{
    out.clear();
    std::size_t start = 0;
    if (atStart_) {
        // A byte order mark, as some Windows editors write, is not part of the text.
        static constexpr std::uint8_t kMark[] = {0xEF, 0xBB, 0xBF};
        const std::size_t seen = std::min<std::size_t>(in.size(), 3);
        const bool prefix = std::equal(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(seen), kMark);
        if (prefix && seen < 3 && !last)
            return 0; // too short yet to tell
        if (prefix && seen == 3)
            start = 3;
        atStart_ = false;
    }

    out.resize(in.size() - start);
    std::size_t i = start;
    std::size_t written = 0;
    const Step step = DecodeUtf8(in, out.data(), i, written);
    out.resize(written);
    if (step == Step::Invalid || (step == Step::Incomplete && last)) {
        problem_ = Problem::Invalid;
        errorOffset_ = consumed_ + i + 1;
        return 0;
    }
    // U+0000 cannot be stored: the document's text would end there. Strict
    // UTF-8 has one form of it, the byte 0x00.
    if (const void* nul = allowNul_ ? nullptr : std::memchr(in.data() + start, 0, i - start)) {
        problem_ = Problem::Nul;
        errorOffset_ = consumed_ + static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - in.data()) + 1;
        return 0;
    }
    consumed_ += i;
    return i;
}

void Utf8Encoder::Encode(std::u16string_view piece, bool last, SecureBytes& out)
{
    out.resize(piece.size() * 3 + 4);
    out.resize(EncodeUtf16(piece, last, pendingHigh_, out.data()));
}

} // namespace tavro::cli
