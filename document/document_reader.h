// Reading a document file into the text an editor shows.
#pragma once

#include "document_key.h"

#include <QString>

class QIODevice;

namespace tavro {

struct DocumentText {
    QString text;
    bool crcMatches = false; // the stored CRC equals the CRC of the body read
    // The file's plaintext is exactly what the text encodes to; a wrong key
    // or damage almost always breaks this.
    bool roundTrips = false;
};

// The text of the document in file (read from its start to its end) under key.
DocumentText ReadDocumentText(QIODevice& file, const DocumentKey& key);

} // namespace tavro
