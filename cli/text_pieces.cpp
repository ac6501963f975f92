#include "text_pieces.h"

#include <algorithm>
#include <cstring>

namespace tavro::cli {

DocumentTextPieces::DocumentTextPieces(InputFile& document, std::span<const std::uint8_t> start,
                                       const DocumentKey& key)
    : document_(document), start_(start), reader_(key, TextSink{}), buffer_(kPieceSize)
{
    reader_.SetPlaintextSink([this](std::span<const std::uint8_t> bytes) {
        if (textEnded_)
            return;
        const void* nul = std::memchr(bytes.data(), 0, bytes.size());
        textEnded_ = nul != nullptr;
        if (textEnded_)
            bytes = bytes.first(static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - bytes.data()) + 1);
        AppendBytes(*filling_, bytes);
    });
}

bool DocumentTextPieces::Next(TextPiece& piece)
{
    if (finished_)
        return false;
    piece.plain.assign(carry_.begin(), carry_.end());
    carry_.clear();
    filling_ = &piece.plain;
    if (!started_) {
        reader_.Read(start_);
        started_ = true;
    }
    const std::size_t carried = piece.plain.size();
    while (!finished_ && (piece.plain.size() == carried || textEnded_)) {
        const std::size_t got = document_.ReadAvailable(buffer_);
        if (got == 0) {
            check_ = reader_.Finish();
            finished_ = true;
        } else {
            reader_.Read({buffer_.data(), got});
        }
    }
    piece.last = finished_ || textEnded_;
    if (!piece.last && !ordered_) {
        const auto end = std::find_if(piece.plain.rbegin(), piece.plain.rend(),
                                      [](std::uint8_t byte) { return byte < 0x80; });
        if (end == piece.plain.rend()) {
            ordered_ = true;
        } else {
            carry_.assign(end.base(), piece.plain.end());
            piece.plain.erase(end.base(), piece.plain.end());
        }
    }
    piece.ordered = ordered_;
    return true;
}

void DecodePiece(TextPiece& piece)
{
    // Room for both ways.
    const std::size_t room = 3 * piece.plain.size() + 1;
    if (piece.utf8.size() < room)
        piece.utf8.resize(room);
    piece.hasText = false;
    if (DecodeAndJudgeByTable(piece.plain, piece.utf8.data(), piece.utf8Size, piece.judgement))
        return;
    CodePageDecoder decoder;
    Utf8Encoder encoder;
    ReadJudge judge;
    DecodePieceInFull(piece, decoder, encoder, judge, /*flush=*/true);
    piece.judgement = judge.Finish(0, 0, true);
}

void DecodePieceInFull(TextPiece& piece, CodePageDecoder& decoder, Utf8Encoder& encoder, ReadJudge& judge,
                       bool flush)
{
    constexpr std::size_t kSlice = 64 << 10;
    const std::span<const std::uint8_t> plain(piece.plain);
    piece.text.clear();
    piece.text.reserve(plain.size() + 2);
    // Each byte makes at most one unit, a character held back from before one more.
    const std::size_t room = Utf8Encoder::Room(plain.size() + 2) + 4 * (plain.size() / kSlice + 1);
    if (piece.utf8.size() < room)
        piece.utf8.resize(room);
    piece.utf8Size = 0;
    std::size_t at = 0;
    do {
        const std::size_t size = std::min(kSlice, plain.size() - at);
        const bool end = flush && at + size == plain.size();
        const std::size_t from = piece.text.size();
        decoder.Decode(plain.subspan(at, size), end, piece.text);
        const std::u16string_view made(piece.text.data() + from, piece.text.size() - from);
        judge.AddPlaintext(plain.subspan(at, size));
        judge.AddText(made);
        piece.utf8Size += encoder.Encode(made, end, piece.utf8.data() + piece.utf8Size);
        at += size;
    } while (at < plain.size());
    piece.hasText = true;
}

void DecodedPieces::Add(TextPiece& piece)
{
    if (piece.ordered) {
        judgingInOrder_ = true;
        DecodePieceInFull(piece, decoder_, encoder_, inOrder_, piece.last);
        return;
    }
    if (!judgingInOrder_ && !piece.judgement.Has(ReadDoubt::RoundTrip)) {
        doubts_ |= piece.judgement.doubts;
        characters_ += piece.judgement.characters;
        rare_ += piece.judgement.rare;
        return;
    }
    judgingInOrder_ = true;
    if (!piece.hasText) {
        // Decoded by table alone: the text again, for the judge.
        CodePageDecoder decoder;
        piece.text.clear();
        decoder.Decode(piece.plain, /*last=*/true, piece.text);
    }
    inOrder_.AddPlaintext(piece.plain);
    inOrder_.AddText({piece.text.data(), piece.text.size()});
}

ReadJudgement DecodedPieces::Finish(std::size_t fileSize, std::uint8_t padCount, bool crcMatches)
{
    // The share of rare characters is the whole text's, not a piece's.
    constexpr auto kRareShare = static_cast<std::uint32_t>(ReadDoubt::RareShare);
    ReadJudgement judgement = inOrder_.Finish(fileSize, padCount, crcMatches);
    judgement.characters += characters_;
    judgement.rare += rare_;
    judgement.doubts = (judgement.doubts | doubts_) & ~kRareShare;
    if (judgement.rare * kRareShareDivisor > judgement.characters)
        judgement.doubts |= kRareShare;
    return judgement;
}

} // namespace tavro::cli
