// Recovery copies of documents: text the editor could not store when it was
// ended, one copy per document, kept in a folder of the user's own beside the
// version store ($XDG_DATA_HOME/tavro/recovery), sealed as recovery_seal.h
// says, and offered the next time that document is opened with its key.
#pragma once

#include "session_key.h"

#include <QString>
#include <QStringView>

#include <optional>

namespace tavro {

// The recovery folder beside the version store whose root is versionRoot.
QString RecoveryFolder(const QString& versionRoot);

// Seals text as the copy of the document at documentPath (which exists) in
// folder, replacing an older copy only once the new one is whole; 0700
// folder, 0600 file. error says why when it fails.
bool WriteRecoveryCopy(const QString& folder, const QString& documentPath, const SessionKey& key, QStringView text,
                       QString* error = nullptr);

// The text of the document's copy when there is one that key opens.
std::optional<QString> ReadRecoveryCopy(const QString& folder, const QString& documentPath, const SessionKey& key);

// Removes the document's copy; true when none is left.
bool RemoveRecoveryCopy(const QString& folder, const QString& documentPath);

} // namespace tavro
