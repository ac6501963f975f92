// The strong document format (strong_format.h) written and read in pieces of
// any size through bounded memory: one 64 KiB piece of plaintext and one
// record, whatever the document's length. Same shape as the ".tvro" codec
// (document_stream.h): sinks take the output in order, Finish ends it.
//
// Writing: the header goes to the sink at once, then one record per full
// piece; a full piece is held until more text or Finish tells whether it is
// the last. Reading: a record is opened once it has arrived whole, and its
// text handed out only when it authenticates; nothing unauthenticated ever
// reaches a sink.
#pragma once

#include "document_stream.h"
#include "key_holder.h"
#include "secure_memory.h"
#include "strong_format.h"

#include <sodium.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tavro {

class StrongWriter {
public:
    // Hands the 58-byte header to sink. The secretstream header is
    // libsodium's own random one; a test may pin it with random (and only a
    // test: a repeated header under one key would repeat the key stream).
    StrongWriter(const StrongKeyHolder& key, BodySink sink, const RandomSource& random = {});
    ~StrongWriter();
    StrongWriter(const StrongWriter&) = delete;
    StrongWriter& operator=(const StrongWriter&) = delete;

    // Takes the next piece of UTF-8 text, stored as given (line breaks and
    // all: the caller writes "\n" and no byte-order mark).
    void WritePlaintext(std::span<const std::uint8_t> utf8);
    // Takes the next piece of UTF-16 text, converted in slices without a
    // copy of the whole. A surrogate pair cut between pieces is joined; an
    // unpaired surrogate becomes U+FFFD and is counted in replacedUnits().
    void Write(std::u16string_view text);
    // Writes the final record. Nothing may be written afterwards.
    void Finish();

    std::uint64_t fileSize() const { return fileSize_; }
    // Unpaired surrogates written as U+FFFD so far: text a save did not keep.
    std::uint64_t replacedUnits() const { return replacedUnits_; }

private:
    void WriteUtf16(std::u16string_view text, bool last);
    void AppendUtf16(std::u16string_view slice);
    void Append(std::span<const std::uint8_t> utf8);
    void Push(std::span<const std::uint8_t> piece, unsigned char tag);

    crypto_secretstream_xchacha20poly1305_state state_{};
    BodySink sink_;
    std::array<std::uint8_t, kStrongHeaderSize> header_{};
    SecureBytes pending_;              // plaintext not yet sealed, up to one piece
    std::vector<std::uint8_t> record_; // the record being handed out
    SecureBytes utf8_;                 // a slice of Write's text as UTF-8
    char16_t heldHigh_ = 0;            // a high surrogate that ended the last Write
    std::uint64_t records_ = 0;
    std::uint64_t fileSize_ = 0;
    std::uint64_t replacedUnits_ = 0;
};

class StrongReader {
public:
    // key must be derived under the file's header parameters (ParseStrongHeader
    // reads them). The text goes to sink as UTF-8, as stored...
    StrongReader(const StrongKeyHolder& key, BodySink sink);
    // ... or as UTF-16, bytes that are not UTF-8 becoming U+FFFD.
    StrongReader(const StrongKeyHolder& key, TextSink sink);
    ~StrongReader();
    StrongReader(const StrongReader&) = delete;
    StrongReader& operator=(const StrongReader&) = delete;

    // Takes the next piece of the file, header included. After a fault the
    // rest is ignored.
    void Read(std::span<const std::uint8_t> file);
    // Ends the file: opens the last record and returns the verdict. The
    // text handed out is that of the records that authenticated, in order,
    // up to the first fault.
    StrongCheck Finish();

    // The verdict so far: Sound until a fault is met (then the rest of the
    // file need not be read), final after Finish.
    StrongCheck verdict() const { return verdict_; }
    // Bytes of authenticated plaintext handed out so far.
    std::uint64_t textSize() const { return textSize_; }
    // Places where the plaintext was not UTF-8, each handed out as U+FFFD
    // (UTF-16 sink only): a save of the text read would not give them back.
    std::uint64_t invalidUtf8() const { return invalidUtf8_; }

private:
    void Open(std::span<const std::uint8_t> record, bool more);
    void HandOut(std::span<const std::uint8_t> plaintext, bool last);

    StrongKeyHolder key_; // wiped once the stream state is made from it
    BodySink bytesSink_;
    TextSink textSink_;
    crypto_secretstream_xchacha20poly1305_state state_{};
    std::array<std::uint8_t, kStrongHeaderSize> header_{};
    std::size_t headerSize_ = 0;
    std::vector<std::uint8_t> record_; // a record not yet known whole, or not yet known not last
    SecureBytes plaintext_;
    SecureBytes heldUtf8_; // the start of a character cut by a record's end
    std::vector<char16_t, WipingAllocator<char16_t>> text_;
    StrongCheck verdict_ = StrongCheck::Sound;
    bool ended_ = false; // the final record was read
    std::uint64_t records_ = 0;
    std::uint64_t textSize_ = 0;
    std::uint64_t invalidUtf8_ = 0;
};

} // namespace tavro
