// The pieces that encrypt and decrypt of .tvro documents convert on the
// machine's two cores (ordered_pieces.h), and how the decoded pieces are
// put back together: in order, judged as one read.
#pragma once

#include "code_page.h"
#include "code_page_units.h"
#include "document_stream.h"
#include "input_file.h"
#include "read_judgement.h"
#include "secure_memory.h"
#include "utf8.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace tavro::cli {

// A piece of UTF-8 text to encode into code page 936.
struct EncodePiece {
    enum class Fault { None, Invalid, Nul };

    SecureBytes text;          // whole characters (Utf8Pieces)
    std::uint64_t offset = 0;  // input offset of text[0]
    SecureBytes bytes;         // the text in code page 936
    LossyCharacterSet lossy;   // the characters the code page lacked
    Fault fault = Fault::None; // the first fault in text, at text[faultAt]
    std::size_t faultAt = 0;
};

// A piece of a document's text to decode from code page 936.
struct TextPiece {
    // The plaintext. Unless ordered or last, it ends after a byte below
    // 0x80: a single-byte character or a trail byte, so a character ends
    // there whatever came before, and the next piece decodes on its own.
    SecureBytes plain;
    bool last = false;       // the text ends with this piece
    bool ordered = false;    // decoded by DecodedPieces, in order, where the last piece stopped
    SecureBytes utf8;        // the text as UTF-8, utf8Size bytes of it
    std::size_t utf8Size = 0;
    ReadJudgement judgement; // of this piece alone (not when ordered)
    bool hasText = false;    // text holds the plaintext decoded
    SecureText text;
};

// The plaintext of a .tvro document read and deciphered in pieces, for
// decrypt to decode apart: each piece but the last is cut after its last
// byte below 0x80. A piece without one (text in double-byte characters
// alone) is left whole and marked ordered, and so is every piece after it.
// The text ends at its first 0x00 byte, which is kept for the judge; the
// rest of the file is only read for its verdict.
class DocumentTextPieces {
public:
    // start: the first bytes of the document, read already.
    DocumentTextPieces(InputFile& document, std::span<const std::uint8_t> start, const DocumentKey& key);
    // Fills piece with the next piece; false once the file was read to its end.
    bool Next(TextPiece& piece);
    // The verdict on the header and CRC, as CheckDocument gives it, and the
    // file's facts; valid once Next returned false.
    DocumentCheck check() const { return check_; }
    const DocumentChecker& checker() const { return reader_.checker(); }

private:
    InputFile& document_;
    std::span<const std::uint8_t> start_;
    DocumentReader reader_;
    SecureBytes* filling_ = nullptr; // where the reader's plaintext goes
    SecureBytes buffer_;
    SecureBytes carry_;      // the plaintext after the last cut
    bool started_ = false;
    bool finished_ = false;
    bool textEnded_ = false; // a 0x00 byte was met
    bool ordered_ = false;
    DocumentCheck check_ = DocumentCheck::Sound;
};

// Decodes and judges a piece that is not ordered, on its own: by table in
// one pass where it can (DecodeAndJudgeByTable), else the general way.
void DecodePiece(TextPiece& piece);

// Decodes piece.plain with decoder, from where it stopped, into piece.text
// and piece.utf8, and hands text and plaintext to judge, a slice at a time
// so that each slice is in the cache for all three; flush: piece.plain
// ends on a whole character (or the text ends there).
void DecodePieceInFull(TextPiece& piece, CodePageDecoder& decoder, Utf8Encoder& encoder, ReadJudge& judge,
                       bool flush);

// The decoded pieces in order, judged as one read: equal to one ReadJudge
// over all of their text and plaintext. A piece judged alone adds its
// counts while every piece's text gives back its own bytes: a judge over
// all of them would then be where a new one starts. From the first piece
// that does not, or that is ordered, one judge takes the rest in order.
class DecodedPieces {
public:
    // Takes the next piece, decoding it first when it is ordered.
    void Add(TextPiece& piece);
    // The judgement of the whole read (ReadJudge::Finish).
    ReadJudgement Finish(std::size_t fileSize, std::uint8_t padCount, bool crcMatches);

private:
    CodePageDecoder decoder_; // for ordered pieces
    Utf8Encoder encoder_;
    ReadJudge inOrder_;
    bool judgingInOrder_ = false;
    std::uint32_t doubts_ = 0; // of the pieces judged alone
    std::uint64_t characters_ = 0;
    std::uint64_t rare_ = 0;
};

} // namespace tavro::cli
