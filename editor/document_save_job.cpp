#include "document_save_job.h"

#include "secure_memory.h"
#include "text_buffers.h"

#include <QSaveFile>

#include <exception>

namespace tavro {

DocumentSaveJob::DocumentSaveJob(QString snapshot, const DocumentKey& key,
                                 std::unique_ptr<QSaveFile> writer, bool lossAccepted,
                                 std::function<void()> finished)
    : m_snapshot(std::move(snapshot)), m_key(key), m_writer(std::move(writer)),
      m_lossAccepted(lossAccepted), m_finished(std::move(finished))
{
}

DocumentSaveJob::~DocumentSaveJob()
{
    Wait();
    WipeText(m_snapshot);
    SecureWipe(m_key.data(), m_key.size());
    // An uncommitted writer removes its temporary file: the old file stays.
}

void DocumentSaveJob::Start()
{
    m_done = false;
    m_step = std::async(std::launch::async, [this] { Run(/*encode=*/true); });
}

void DocumentSaveJob::WriteAnyway()
{
    Wait();
    if (m_outcome != Outcome::Lossy)
        return;
    m_done = false;
    m_outcome = Outcome::Running;
    m_step = std::async(std::launch::async, [this] { Run(/*encode=*/false); });
}

void DocumentSaveJob::Wait()
{
    if (m_step.valid())
        m_step.get();
}

std::u32string DocumentSaveJob::lossyCharacters() const
{
    return m_buffer ? m_buffer->LossyCharacters() : std::u32string();
}

void DocumentSaveJob::Run(bool encode)
{
    try {
        if (encode)
            Encode();
        if (m_outcome == Outcome::Running)
            Write();
    } catch (const std::exception&) {
        // No memory for the buffer, a converter missing: nothing was committed.
        m_buffer.reset();
        m_writer->cancelWriting();
        m_outcome = Outcome::Failed;
    }
    m_done.store(true, std::memory_order_release);
    if (m_finished)
        m_finished();
}

void DocumentSaveJob::Encode()
{
    // The editor keeps a paragraph separator between blocks and may hold
    // line separators inside one: each is a line break of the file.
    for (QChar& c : m_snapshot) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = QLatin1Char('\n');
    }
    m_buffer = std::make_unique<DocumentBuffer>(static_cast<std::size_t>(m_snapshot.size()));
    m_buffer->Append(Utf16(m_snapshot));
    WipeText(m_snapshot);
    if (!m_buffer->lossless() && !m_lossAccepted)
        m_outcome = Outcome::Lossy;
}

void DocumentSaveJob::Write()
{
    m_buffer->Seal(m_key);
    SecureWipe(m_key.data(), m_key.size());
    const std::span<const std::uint8_t> file = m_buffer->file();
    const auto size = static_cast<qint64>(file.size());
    const bool written = m_writer->write(reinterpret_cast<const char*>(file.data()), size) == size;
    m_buffer.reset();
    if (!written)
        m_writer->cancelWriting();
    m_outcome = written && m_writer->commit() ? Outcome::Written : Outcome::Failed;
}

} // namespace tavro
