#include "strong_stream.h"

#include "code_page_units.h"

#include <unicode/ustring.h>

#include <algorithm>
#include <stdexcept>

namespace tavro {
namespace {

constexpr unsigned char kTagMessage = crypto_secretstream_xchacha20poly1305_TAG_MESSAGE;
constexpr unsigned char kTagFinal = crypto_secretstream_xchacha20poly1305_TAG_FINAL;

static_assert(crypto_secretstream_xchacha20poly1305_ABYTES == kStrongRecordOverhead);
static_assert(crypto_secretstream_xchacha20poly1305_HEADERBYTES == kStrongStreamHeaderSize);
static_assert(crypto_secretstream_xchacha20poly1305_KEYBYTES == std::tuple_size_v<StrongKey>);

// UTF-16 units converted at a time by StrongWriter::Write: at most 3 bytes each.
constexpr std::size_t kUnitSlice = 16384;

// The length of the part of bytes that ends on a character boundary: a lead
// byte among the last three whose sequence runs past the end starts the
// part held back for the next piece.
std::size_t CompleteUtf8(std::span<const std::uint8_t> bytes)
{
    const std::size_t size = bytes.size();
    for (std::size_t back = 1; back <= std::min<std::size_t>(3, size); ++back) {
        const std::uint8_t byte = bytes[size - back];
        if ((byte & 0xC0) == 0x80)
            continue; // a trail byte: look further back
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? size - back : size;
    }
    return size;
}

} // namespace

// --- Writing -----------------------------------------------------------------

StrongWriter::StrongWriter(const StrongKeyHolder& key, BodySink sink, const RandomSource& random)
    : sink_(std::move(sink)), record_(kStrongRecordSize)
{
    pending_.reserve(kStrongPieceSize);
    if (!SodiumReady())
        throw std::runtime_error("libsodium cannot be initialised");
    std::array<std::uint8_t, kStrongStreamHeaderSize> streamHeader{};
    if (random) {
        // The state a push would make for this header is the one a pull makes.
        random(streamHeader.data(), streamHeader.size());
        crypto_secretstream_xchacha20poly1305_init_pull(&state_, streamHeader.data(), key.bytes().data());
    } else {
        crypto_secretstream_xchacha20poly1305_init_push(&state_, streamHeader.data(), key.bytes().data());
    }
    PutStrongHeader(header_.data(), key.parameters(), streamHeader);
    fileSize_ = header_.size();
    sink_(header_);
}

StrongWriter::~StrongWriter() { sodium_memzero(&state_, sizeof state_); }

void StrongWriter::Push(std::span<const std::uint8_t> piece, unsigned char tag)
{
    // The first record authenticates the header.
    const bool first = records_ == 0;
    unsigned long long size = 0;
    crypto_secretstream_xchacha20poly1305_push(&state_, record_.data(), &size, piece.data(), piece.size(),
                                               first ? header_.data() : nullptr, first ? header_.size() : 0, tag);
    ++records_;
    fileSize_ += size;
    sink_({record_.data(), static_cast<std::size_t>(size)});
}

void StrongWriter::WritePlaintext(std::span<const std::uint8_t> utf8)
{
    if (heldHigh_ != 0)
        WriteUtf16({}, /*last=*/true); // a pair cannot span the two kinds of input
    Append(utf8);
}

void StrongWriter::Append(std::span<const std::uint8_t> utf8)
{
    while (!utf8.empty()) {
        // A full piece goes out only now that more text follows it.
        if (pending_.size() == kStrongPieceSize) {
            Push(pending_, kTagMessage);
            pending_.clear();
        }
        if (pending_.empty() && utf8.size() > kStrongPieceSize) {
            Push(utf8.first(kStrongPieceSize), kTagMessage);
            utf8 = utf8.subspan(kStrongPieceSize);
            continue;
        }
        const std::size_t take = std::min(utf8.size(), kStrongPieceSize - pending_.size());
        AppendBytes(pending_, utf8.first(take));
        utf8 = utf8.subspan(take);
    }
}

void StrongWriter::Write(std::u16string_view text) { WriteUtf16(text, /*last=*/false); }

void StrongWriter::WriteUtf16(std::u16string_view text, bool last)
{
    if (heldHigh_ != 0 && (!text.empty() || last)) {
        const bool pair = !text.empty() && IsLowSurrogate(text.front());
        const std::array<char16_t, 2> joined{heldHigh_, pair ? text.front() : u'\0'};
        heldHigh_ = 0;
        AppendUtf16({joined.data(), pair ? 2u : 1u});
        if (pair)
            text.remove_prefix(1);
    }
    // A high surrogate at the end waits for its low half in the next piece.
    if (!last && !text.empty() && IsHighSurrogate(text.back())) {
        heldHigh_ = text.back();
        text.remove_suffix(1);
    }
    while (!text.empty()) {
        std::size_t size = std::min(text.size(), kUnitSlice);
        if (size < text.size() && IsHighSurrogate(text[size - 1]))
            --size; // a pair stays within one slice
        AppendUtf16(text.substr(0, size));
        text.remove_prefix(size);
    }
}

void StrongWriter::AppendUtf16(std::u16string_view slice)
{
    utf8_.resize(slice.size() * 3);
    std::int32_t length = 0;
    std::int32_t replaced = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(reinterpret_cast<char*>(utf8_.data()), static_cast<std::int32_t>(utf8_.size()), &length,
                       slice.data(), static_cast<std::int32_t>(slice.size()), 0xFFFD, &replaced, &status);
    if (U_FAILURE(status))
        throw std::runtime_error("cannot convert the text to UTF-8");
    replacedUnits_ += static_cast<std::uint64_t>(replaced);
    Append({utf8_.data(), static_cast<std::size_t>(length)});
}

void StrongWriter::Finish()
{
    WriteUtf16({}, /*last=*/true);
    Push(pending_, kTagFinal);
    pending_.clear();
    SecureWipe(utf8_.data(), utf8_.size());
    sodium_memzero(&state_, sizeof state_);
}

// --- Reading -----------------------------------------------------------------

StrongReader::StrongReader(const StrongKeyHolder& key, BodySink sink)
    : key_(key.Copy()), bytesSink_(std::move(sink))
{
    record_.reserve(kStrongRecordSize);
    plaintext_.resize(kStrongPieceSize);
}

StrongReader::StrongReader(const StrongKeyHolder& key, TextSink sink)
    : key_(key.Copy()), textSink_(std::move(sink))
{
    record_.reserve(kStrongRecordSize);
    plaintext_.resize(kStrongPieceSize);
}

StrongReader::~StrongReader() { sodium_memzero(&state_, sizeof state_); }

void StrongReader::Read(std::span<const std::uint8_t> file)
{
    if (verdict_ != StrongCheck::Sound)
        return;
    if (headerSize_ < kStrongHeaderSize) {
        const std::size_t take = std::min(file.size(), kStrongHeaderSize - headerSize_);
        std::copy_n(file.begin(), take, header_.begin() + static_cast<std::ptrdiff_t>(headerSize_));
        headerSize_ += take;
        file = file.subspan(take);
        if (headerSize_ < kStrongHeaderSize)
            return;
        StrongParameters parameters;
        verdict_ = ParseStrongHeader(header_, parameters);
        if (verdict_ != StrongCheck::Sound)
            return;
        if (!SodiumReady())
            throw std::runtime_error("libsodium cannot be initialised");
        crypto_secretstream_xchacha20poly1305_init_pull(&state_, header_.data() + kStrongStreamHeaderOffset,
                                                        key_.bytes().data());
        key_.Wipe();
    }
    // A record is known not to be the last once a byte follows it.
    while (!file.empty() && verdict_ == StrongCheck::Sound) {
        if (record_.size() == kStrongRecordSize) {
            Open(record_, /*more=*/true);
            record_.clear();
        } else if (record_.empty() && file.size() > kStrongRecordSize) {
            Open(file.first(kStrongRecordSize), /*more=*/true);
            file = file.subspan(kStrongRecordSize);
        } else {
            const std::size_t take = std::min(file.size(), kStrongRecordSize - record_.size());
            record_.insert(record_.end(), file.begin(), file.begin() + static_cast<std::ptrdiff_t>(take));
            file = file.subspan(take);
        }
    }
}

void StrongReader::Open(std::span<const std::uint8_t> record, bool more)
{
    if (record.size() < kStrongRecordOverhead) {
        verdict_ = StrongCheck::MissingEnd; // too short to be a record: cut
        return;
    }
    const bool first = records_ == 0;
    unsigned long long size = 0;
    unsigned char tag = 0;
    if (crypto_secretstream_xchacha20poly1305_pull(&state_, plaintext_.data(), &size, &tag, record.data(),
                                                   record.size(), first ? header_.data() : nullptr,
                                                   first ? header_.size() : 0) != 0) {
        verdict_ = first ? StrongCheck::WrongKey : StrongCheck::DamagedRecord;
        return;
    }
    if (tag != kTagMessage && tag != kTagFinal) {
        verdict_ = StrongCheck::DamagedRecord;
        return;
    }
    ++records_;
    ended_ = tag == kTagFinal;
    HandOut({plaintext_.data(), static_cast<std::size_t>(size)}, ended_ || !more);
    if (ended_ && more)
        verdict_ = StrongCheck::TrailingBytes;
    else if (!ended_ && !more)
        verdict_ = StrongCheck::MissingEnd;
}

void StrongReader::HandOut(std::span<const std::uint8_t> plaintext, bool last)
{
    textSize_ += plaintext.size();
    if (bytesSink_) {
        if (!plaintext.empty())
            bytesSink_(plaintext);
        return;
    }
    // UTF-16: a character cut by the record's end waits for the next one.
    std::span<const std::uint8_t> bytes = plaintext;
    if (!heldUtf8_.empty()) {
        heldUtf8_.insert(heldUtf8_.end(), plaintext.begin(), plaintext.end());
        bytes = heldUtf8_;
    }
    const std::size_t complete = last ? bytes.size() : CompleteUtf8(bytes);
    text_.resize(complete + 1);
    std::int32_t length = 0;
    std::int32_t replaced = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(text_.data(), static_cast<std::int32_t>(text_.size()), &length,
                         reinterpret_cast<const char*>(bytes.data()), static_cast<std::int32_t>(complete), 0xFFFD,
                         &replaced, &status);
    if (U_FAILURE(status))
        throw std::runtime_error("cannot convert the text from UTF-8");
    invalidUtf8_ += static_cast<std::uint64_t>(replaced);
    if (length > 0)
        textSink_({text_.data(), static_cast<std::size_t>(length)});

    SecureBytes rest(bytes.begin() + static_cast<std::ptrdiff_t>(complete), bytes.end());
    heldUtf8_.swap(rest);
}

StrongCheck StrongReader::Finish()
{
    if (verdict_ == StrongCheck::Sound) {
        if (headerSize_ < kStrongHeaderSize) {
            // Short, or not this format at all.
            StrongParameters ignored;
            verdict_ = ParseStrongHeader({header_.data(), headerSize_}, ignored);
        } else if (!record_.empty()) {
            Open(record_, /*more=*/false);
        } else if (!ended_) {
            verdict_ = StrongCheck::MissingEnd;
        }
    }
    // Text already handed out that ended inside a character.
    if (!heldUtf8_.empty() && textSink_)
        HandOut({}, /*last=*/true);
    record_.clear();
    return verdict_;
}

} // namespace tavro
