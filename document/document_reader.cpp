#include "document_reader.h"

#include "document_file.h"
#include "secure_memory.h"

#include <QIODevice>

#include <algorithm>

namespace tavro {

DocumentText ReadDocumentText(QIODevice& file, const DocumentKey& key)
{
    file.seek(0);
    QByteArray bytes = file.readAll();
    DocumentText result;
    // The text is decoded straight into the string the editor takes: each
    // byte gives at most one UTF-16 unit, and untouched pages cost nothing.
    result.text.reserve(std::max<qsizetype>(bytes.size() - static_cast<qsizetype>(kDocumentHeaderSize), 0));
    const DecryptedDocument document = DecryptDocument(
        {reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())}, key,
        [&result](std::u16string_view piece) {
            result.text.append(reinterpret_cast<const QChar*>(piece.data()), static_cast<qsizetype>(piece.size()));
        });
    result.crcMatches = document.crcMatches;
    result.roundTrips = document.textRoundTrips;
    return result;
}

} // namespace tavro
