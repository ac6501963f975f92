// Atomic writers whose device fails part-way, as a disk that fills up: the
// failure comes where the writer meets it, on whatever thread writes.
#pragma once

#include "document_session.h"

#include <QSaveFile>

#include <memory>

namespace tavro::test {

class FailingSaveFile : public QSaveFile {
public:
    // Writes fail once more than limit bytes would have been written.
    FailingSaveFile(const QString& path, qint64 limit) : QSaveFile(path), m_limit(limit) {}

protected:
    qint64 writeData(const char* data, qint64 size) override
    {
        if (m_written + size > m_limit) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        m_written += size;
        return QSaveFile::writeData(data, size);
    }

private:
    qint64 m_limit;
    qint64 m_written = 0;
};

// Writers for a session or a window that fail past limit bytes.
inline DocumentSession::WriterFactory FailingWriters(qint64 limit)
{
    return [limit](const QString& path) { return std::make_unique<FailingSaveFile>(path, limit); };
}

} // namespace tavro::test
