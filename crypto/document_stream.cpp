#include "document_stream.h"

#include "code_page_units.h"

#include <algorithm>

namespace tavro {
namespace {

constexpr std::size_t kBlockSize = 16;

std::uint32_t GetLittleEndian32(const std::uint8_t* in)
{
    return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
           static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

} // namespace

DocumentCheck ClassifyDocument(std::size_t fileSize, std::uint8_t padCount, bool crcMatches)
{
    if (fileSize == 0)
        return DocumentCheck::Sound; // created, never saved
    if (fileSize < kDocumentHeaderSize)
        return DocumentCheck::TruncatedHeader;
    if (!crcMatches)
        return DocumentCheck::CrcMismatch;
    const std::size_t bodySize = fileSize - kDocumentHeaderSize;
    if (bodySize % kBlockSize != 0)
        return DocumentCheck::PartialBlock;
    if (padCount >= kBlockSize || padCount > bodySize)
        return DocumentCheck::BadPadCount;
    return DocumentCheck::Sound;
}

// --- Checking ----------------------------------------------------------------

std::span<const std::uint8_t> DocumentChecker::Read(std::span<const std::uint8_t> file)
{
    // The header: the first five bytes of the file.
    while (!file.empty() && fileSize_ < kDocumentHeaderSize) {
        header_[fileSize_++] = file.front();
        file = file.subspan(1);
    }
    fileSize_ += file.size();
    crc_.Update(file.data(), file.size());
    return file;
}

bool DocumentChecker::crcMatches() const
{
    if (fileSize_ < kDocumentHeaderSize)
        return fileSize_ == 0; // 0 bytes: an empty, never saved document
    return crc_.Value() == GetLittleEndian32(header_.data() + 1);
}

DocumentCheck DocumentChecker::Finish() const { return ClassifyDocument(fileSize_, header_[0], crcMatches()); }

// --- Writing -----------------------------------------------------------------

DocumentWriter::DocumentWriter(const DocumentKey& key, BodySink sink, FillerSource filler)
    : sink_(std::move(sink)), filler_(std::move(filler))
{
    Aes256Init(context_, key.data());
}

DocumentWriter::~DocumentWriter() { Aes256Wipe(context_); }

void DocumentWriter::Write(std::u16string_view text)
{
    // By table, as the window saves; the table gives the converter's bytes,
    // and a surrogate pair cut between two pieces gives "??" either way.
    const std::size_t before = pending_.size();
    pending_.resize(before + 2 * text.size());
    pending_.resize(before + EncodeUnits(text, LineBreakStyle::AsIs, pending_.data() + before, lossy_));
    EncipherWholeBlocks(false);
}

void DocumentWriter::WritePlaintext(std::span<const std::uint8_t> bytes)
{
    AppendBytes(pending_, bytes);
    EncipherWholeBlocks(false);
}

void DocumentWriter::EncipherWholeBlocks(bool last)
{
    const std::size_t whole = last ? pending_.size() : pending_.size() / kBlockSize * kBlockSize;
    if (whole == 0)
        return;
    Aes256EncryptBlocks(context_, pending_.data(), whole / kBlockSize);
    crc_.Update(pending_.data(), whole);
    bodySize_ += whole;
    sink_({pending_.data(), whole});
    DropFront(pending_, whole);
}

DocumentHeader DocumentWriter::Finish()
{
    const std::size_t length = pending_.size();
    const std::size_t padCount = PadCountFor(length);
    if (padCount > 0) {
        pending_.resize(length + padCount);
        filler_(pending_.data() + length, padCount);
    }
    EncipherWholeBlocks(true);

    DocumentHeader header{};
    PutDocumentHeader(header.data(), padCount, crc_.Value());
    return header;
}

// --- Reading -----------------------------------------------------------------

DocumentReader::DocumentReader(const DocumentKey& key, TextSink sink) : sink_(std::move(sink))
{
    Aes256Init(context_, key.data());
}

DocumentReader::~DocumentReader()
{
    Aes256Wipe(context_);
    SecureWipe(text_.data(), text_.size() * sizeof(char16_t));
}

void DocumentReader::Read(std::span<const std::uint8_t> file)
{
    // In slices, so that a whole file handed over at once is not first
    // copied whole into held_: only one slice is held at a time, and the
    // sinks get it while it is still in the cache.
    constexpr std::size_t kSlice = std::size_t{1} << 20;
    do {
        const std::size_t size = std::min(file.size(), kSlice);
        ReadSlice(file.first(size));
        file = file.subspan(size);
    } while (!file.empty());
}

void DocumentReader::ReadSlice(std::span<const std::uint8_t> file)
{
    const std::span<const std::uint8_t> body = checker_.Read(file);
    if (body.empty())
        return;
    AppendBytes(held_, body);

    // Decipher every whole block that has arrived.
    const std::size_t bodySeen = checker_.bodySize();
    const std::size_t wholeEnd = bodySeen / kBlockSize * kBlockSize;
    if (wholeEnd > deciphered_) {
        Aes256DecryptBlocks(context_, held_.data() + (deciphered_ - heldStart_),
                            (wholeEnd - deciphered_) / kBlockSize);
        deciphered_ = wholeEnd;
    }
    // A deciphered byte is text once more than pad-count body bytes follow
    // it: the filler is the last pad-count bytes of the body as stored.
    const std::size_t padCount = checker_.padCount();
    Release(std::min(deciphered_, bodySeen > padCount ? bodySeen - padCount : 0), false);
}

void DocumentReader::Release(std::size_t upTo, bool last)
{
    const std::size_t count = upTo - heldStart_;
    if (plaintextSink_ && count > 0)
        plaintextSink_({held_.data(), count});
    if (sink_) {
        text_.clear();
        decoder_.Decode({held_.data(), count}, last, text_);
        if (!text_.empty())
            sink_({text_.data(), text_.size()});
    }
    DropFront(held_, count);
    heldStart_ = upTo;
}

DocumentCheck DocumentReader::Finish()
{
    // The filler sits at the end of the body as stored. When the body was
    // cut short the filler went with the lost partial block, and every whole
    // block left is text: nothing of it is dropped.
    const std::size_t bodySize = checker_.bodySize();
    const std::size_t padCount = checker_.padCount();
    const std::size_t textLength = padCount >= bodySize ? 0 : std::min(deciphered_, bodySize - padCount);
    Release(std::max(textLength, heldStart_), true);
    return checker_.Finish();
}

// --- JudgedReader ------------------------------------------------------------

JudgedReader::JudgedReader(const DocumentKey& key, TextSink sink)
    : sink_(std::move(sink)), reader_(key, [this](std::u16string_view text) {
          judge_.AddText(text);
          if (sink_)
              sink_(text);
      })
{
    reader_.SetPlaintextSink([this](std::span<const std::uint8_t> bytes) { judge_.AddPlaintext(bytes); });
}

ReadJudgement JudgedReader::Finish()
{
    check_ = reader_.Finish();
    const DocumentChecker& checker = reader_.checker();
    return judge_.Finish(checker.fileSize(), checker.padCount(), checker.crcMatches());
}

} // namespace tavro
