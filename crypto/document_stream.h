// The document file format, written and read in pieces of any size so that
// a document of any length passes through a bounded amount of memory. The
// whole-buffer codec (document_file.h) is these two run over one piece.
//
// Writing: the header (pad count, body CRC) depends on the whole body, so
// the writer hands out the cipher body block by block and the 5 header bytes
// last; the caller reserves their place at offset 0 and fills it afterwards.
//
// Reading: byte 0 gives the pad count, so once more than pad-count body
// bytes follow a deciphered block, that block is known to be text; the
// reader holds back at most one block plus the filler until the end.
#pragma once

#include "code_page.h"
#include "code_page_units.h"
#include "crc32.h"
#include "document_file.h"
#include "document_key.h"
#include "aes256.h"
#include "read_judgement.h"
#include "secure_memory.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace tavro {

using DocumentHeader = std::array<std::uint8_t, kDocumentHeaderSize>;

// Receives the cipher body as it is made, in order.
using BodySink = std::function<void(std::span<const std::uint8_t> body)>;
// Receives the text as it is read, in order.
using TextSink = std::function<void(std::u16string_view text)>;

// The verdict on a document from its size, its pad count and whether its
// CRC matched: the one rule both readers and CheckDocument apply.
DocumentCheck ClassifyDocument(std::size_t fileSize, std::uint8_t padCount, bool crcMatches);

// The header and CRC of a document read in pieces; needs no key.
class DocumentChecker {
public:
    // Takes the next piece of the file; returns the part of it that is body.
    std::span<const std::uint8_t> Read(std::span<const std::uint8_t> file);
    // The verdict so far, equal to CheckDocument of the bytes read.
    DocumentCheck Finish() const;

    std::uint8_t padCount() const { return header_[0]; }
    std::size_t fileSize() const { return fileSize_; }
    std::size_t bodySize() const { return fileSize_ > kDocumentHeaderSize ? fileSize_ - kDocumentHeaderSize : 0; }
    // As DecryptDocument reports it: a 0-byte file matches, a header cut short does not.
    bool crcMatches() const;

private:
    DocumentHeader header_{};
    std::size_t fileSize_ = 0;
    Crc32Stream crc_;
};

class DocumentWriter {
public:
    DocumentWriter(const DocumentKey& key, BodySink sink, FillerSource filler = RandomFiller);
    ~DocumentWriter();
    DocumentWriter(const DocumentWriter&) = delete;
    DocumentWriter& operator=(const DocumentWriter&) = delete;

    // Takes the next piece of text; carriage returns are dropped. The text
    // is encoded by table (code_page_units.h), as EncodeCodePage would;
    // whole blocks are enciphered and handed to the sink as they fill.
    void Write(std::u16string_view text);
    // Takes the next piece of text already in code page 936, without
    // carriage returns (for callers that convert themselves).
    void WritePlaintext(std::span<const std::uint8_t> bytes);
    // Pads the last block with filler, hands it out and returns the header.
    // Nothing may be written afterwards.
    DocumentHeader Finish();

    std::size_t bodySize() const { return bodySize_; }

private:
    void EncipherWholeBlocks(bool last);

    Aes256Context context_;
    BodySink sink_;
    FillerSource filler_;
    SecureBytes pending_; // plaintext not yet enciphered
    LossyCharacterSet lossy_; // what the table lacked; the writer writes '?' all the same
    Crc32Stream crc_;
    std::size_t bodySize_ = 0;
};

class DocumentReader {
public:
    // An empty sink: the text is not decoded, for a caller that decodes the
    // plaintext sink's bytes itself.
    DocumentReader(const DocumentKey& key, TextSink sink);
    ~DocumentReader();
    DocumentReader(const DocumentReader&) = delete;
    DocumentReader& operator=(const DocumentReader&) = delete;

    // Takes the next piece of the file, header included.
    void Read(std::span<const std::uint8_t> file);
    // Ends the file: hands out the rest of the text and returns the
    // verdict, which equals CheckDocument of the whole file.
    DocumentCheck Finish();

    // Whether the stored CRC matched, as DecryptDocument reports it (a
    // 0-byte file: true; a header cut short: false). Valid after Finish.
    bool crcMatches() const { return checker_.crcMatches(); }
    // The header, size and CRC seen so far.
    const DocumentChecker& checker() const { return checker_; }

    // Also hands out the deciphered bytes the text is decoded from, filler
    // excluded, in order; set before the first Read.
    void SetPlaintextSink(BodySink sink) { plaintextSink_ = std::move(sink); }

private:
    void ReadSlice(std::span<const std::uint8_t> file);
    void Release(std::size_t upTo, bool last);

    Aes256Context context_;
    TextSink sink_;
    BodySink plaintextSink_;
    CodePageDecoder decoder_;
    DocumentChecker checker_;
    SecureBytes held_;             // body bytes from position heldStart_ on
    std::size_t heldStart_ = 0;    // body position of held_[0]
    std::size_t deciphered_ = 0;   // body bytes deciphered so far (whole blocks)
    std::vector<char16_t, WipingAllocator<char16_t>> text_;
};

// DocumentReader with the judgement of the read attached (read_judgement.h):
// hands the text to sink as the reader does and judges it on the way.
class JudgedReader {
public:
    JudgedReader(const DocumentKey& key, TextSink sink);

    void Read(std::span<const std::uint8_t> file) { reader_.Read(file); }
    // Hands out the rest of the text; returns the judgement of the whole read.
    ReadJudgement Finish();

    // The header and CRC verdict, as CheckDocument gives it; valid after Finish.
    DocumentCheck check() const { return check_; }
    bool crcMatches() const { return reader_.crcMatches(); }

private:
    ReadJudge judge_;
    TextSink sink_;
    DocumentReader reader_;
    DocumentCheck check_ = DocumentCheck::Sound;
};

} // namespace tavro
