// The strong reader on arbitrary file bytes. The first input byte picks the
// piece size (1 to 256 bytes), the rest is the file, opened with the key of
// the password "fuzz" under its header's parameters (this build derives at
// the smallest Argon2id cost whatever the header asks). Checked: the verdict
// and the text do not depend on the piece size or on the sink's encoding;
// a file whose header fails gives that verdict and no text; text comes only
// from records that authenticated; a sound file written again under the same
// key reads back as the same text.
#include "strong_format.h"
#include "strong_key.h"
#include "strong_stream.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

tavro::StrongCheck ReadBytes(const tavro::StrongKeyHolder& key, std::span<const std::uint8_t> file, std::size_t piece,
                             Bytes& text)
{
    tavro::StrongReader reader(key, [&](std::span<const std::uint8_t> bytes) { text.insert(text.end(), bytes.begin(), bytes.end()); });
    for (std::size_t at = 0; at < file.size(); at += piece)
        reader.Read(file.subspan(at, std::min(piece, file.size() - at)));
    const tavro::StrongCheck check = reader.Finish();
    if (reader.textSize() != text.size())
        std::abort();
    return check;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t piece = 1 + data[0];
    const std::span<const std::uint8_t> file(data + 1, size - 1);

    tavro::StrongParameters parameters;
    const tavro::StrongCheck header = tavro::ParseStrongHeader(file, parameters);
    tavro::StrongKeyHolder key;
    static const std::string kPassword = "fuzz";
    if (header == tavro::StrongCheck::Sound &&
        !tavro::DeriveStrongKey({reinterpret_cast<const std::uint8_t*>(kPassword.data()), kPassword.size()},
                                parameters, key))
        std::abort();

    Bytes whole, pieces;
    const tavro::StrongCheck check = ReadBytes(key, file, file.size() + 1, whole);
    if (ReadBytes(key, file, piece, pieces) != check || pieces != whole)
        std::abort();
    if (header != tavro::StrongCheck::Sound && (check != header || !whole.empty()))
        std::abort();
    // Text needs one whole record per 65,536 bytes of it.
    if (whole.size() > file.size())
        std::abort();

    // UTF-16: the same verdict, one unit at most per byte.
    std::u16string utf16;
    tavro::StrongReader reader(key, [&](std::u16string_view text) { utf16.append(text); });
    reader.Read(file);
    if (reader.Finish() != check || utf16.size() > whole.size() + 1)
        std::abort();

    if (check == tavro::StrongCheck::Sound) {
        Bytes again;
        tavro::StrongWriter writer(key, [&](std::span<const std::uint8_t> bytes) { again.insert(again.end(), bytes.begin(), bytes.end()); });
        writer.WritePlaintext(whole);
        writer.Finish();
        Bytes back;
        if (ReadBytes(key, again, piece, back) != tavro::StrongCheck::Sound || back != whole)
            std::abort();
    }
    return 0;
}
