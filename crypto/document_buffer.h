// A document file built in one buffer, for writers that hand the text over
// piece by piece (an editor walking its blocks) instead of as one string:
//
//   [5 header bytes][code page 936 plaintext][filler]  --Seal-->  the file
//
// The plaintext is appended behind the reserved header, enciphered in place
// and the header filled in, so the bytes are never copied into a second
// buffer. The result is byte for byte what EncryptDocument gives for the
// whole text, filler aside. The encoding is a table lookup per UTF-16 unit
// (the table is taken from the same converter EncodeCodePage uses), and it
// notes the characters a save loses on the way (see LossyCharacters), so a
// writer walks the text once.
#pragma once

#include "code_page_units.h"
#include "document_file.h"
#include "document_key.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace tavro {

class DocumentBuffer {
public:
    // Room for a text of at most maxUnits UTF-16 units (each gives at most
    // two bytes). Memory is only touched as it is filled; a large buffer
    // (1 MiB on) has pages of its own, given back to the system when it
    // goes, whatever the allocator would keep.
    explicit DocumentBuffer(std::size_t maxUnits);
    ~DocumentBuffer(); // wipes every byte written
    DocumentBuffer(DocumentBuffer&&) noexcept;
    DocumentBuffer& operator=(DocumentBuffer&&) noexcept;
    DocumentBuffer(const DocumentBuffer&) = delete;
    DocumentBuffer& operator=(const DocumentBuffer&) = delete;

    // Appends text converted as EncodeCodePage does, every '\r' dropped and
    // line breaks as style says (see code_page_units.h). Returns false,
    // appending nothing, when the text would not fit.
    bool Append(std::u16string_view text, LineBreakStyle style = LineBreakStyle::AsIs);
    // Appends one line break, the byte 0x0A.
    bool AppendLineBreak();

    // The distinct characters appended so far that a save does not keep,
    // U+0000 first, as LossyCharacters(text) names them for the whole text.
    std::u32string LossyCharacters() const;
    bool lossless() const { return m_lossy.empty(); }

    // Plaintext bytes appended so far.
    std::size_t plaintextSize() const { return m_size - kDocumentHeaderSize; }
    // Those bytes, while not sealed: text written as it is (exported).
    std::span<const std::uint8_t> plaintext() const { return {m_data.get() + kDocumentHeaderSize, plaintextSize()}; }

    // Pads, enciphers in place under key and fills in the header; the
    // buffer then holds the whole file. Nothing can be appended afterwards.
    void Seal(const DocumentKey& key, const FillerSource& filler = RandomFiller);
    std::span<const std::uint8_t> file() const { return {m_data.get(), m_size}; }

private:
    // Frees what Allocate gave (document_buffer.cpp).
    struct Release {
        std::size_t size;
        void operator()(std::uint8_t* data) const noexcept;
    };

    void Wipe() noexcept;

    std::unique_ptr<std::uint8_t[], Release> m_data;
    std::size_t m_capacity = 0;
    std::size_t m_size = 0;
    bool m_sealed = false;
    LossyCharacterSet m_lossy;
};

} // namespace tavro
