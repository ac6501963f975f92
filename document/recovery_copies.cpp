#include "recovery_copies.h"

#include "recovery_seal.h"
#include "secure_memory.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace tavro {
namespace {

// The document's path as one file system name: symbolic links resolved, so
// every way of reaching the document finds its copy.
QByteArray CanonicalName(const QString& documentPath)
{
    const QString canonical = QFileInfo(documentPath).canonicalFilePath();
    return QFile::encodeName(canonical.isEmpty() ? QFileInfo(documentPath).absoluteFilePath() : canonical);
}

QString CopyPath(const QString& folder, const QByteArray& canonical)
{
    const QByteArray digest = QCryptographicHash::hash(canonical, QCryptographicHash::Sha256).toHex().left(32);
    return QDir(folder).filePath(QString::fromLatin1(digest) + QStringLiteral(".tvrr"));
}

std::string_view View(const QByteArray& bytes)
{
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

} // namespace

QString RecoveryFolder(const QString& versionRoot)
{
    return QFileInfo(versionRoot).dir().filePath(QStringLiteral("recovery"));
}

bool WriteRecoveryCopy(const QString& folder, const QString& documentPath, const SessionKey& key, QStringView text,
                       QString* error)
{
    const QByteArray canonical = CanonicalName(documentPath);
    const std::vector<std::uint8_t> sealed = SealRecoveryCopy(
        key, View(canonical),
        std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())));
    if (!QDir().mkpath(folder) ||
        !QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        if (error)
            *error = QStringLiteral("cannot make %1").arg(folder);
        return false;
    }
    QSaveFile file(CopyPath(folder, canonical));
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) ||
        file.write(reinterpret_cast<const char*>(sealed.data()), static_cast<qint64>(sealed.size())) !=
            static_cast<qint64>(sealed.size()) ||
        !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

std::optional<QString> ReadRecoveryCopy(const QString& folder, const QString& documentPath, const SessionKey& key)
{
    const QByteArray canonical = CanonicalName(documentPath);
    QFile file(CopyPath(folder, canonical));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    std::optional<std::u16string> text = OpenRecoveryCopy(
        key, View(canonical),
        {reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())});
    if (!text)
        return std::nullopt;
    QString result = QString::fromStdU16String(*text);
    SecureWipe(text->data(), text->size() * sizeof(char16_t));
    return result;
}

bool RemoveRecoveryCopy(const QString& folder, const QString& documentPath)
{
    const QString path = CopyPath(folder, CanonicalName(documentPath));
    return QFile::remove(path) || !QFileInfo::exists(path);
}

} // namespace tavro
