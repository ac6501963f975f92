#include "write_job.h"

#include "code_page_units.h"
#include "document_buffer.h"
#include "strong_stream.h"

#include <QFile>
#include <QSaveFile>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <array>
#include <exception>
#include <future>

#include <fcntl.h>
#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tavro {
namespace {

// Large enough that calls do not count, small enough to report a failing
// disk before the whole text has been handed over.
constexpr std::size_t kWritePiece = std::size_t{1} << 20;

// A text this long leaves enough freed memory behind to be worth giving back.
constexpr qsizetype kLargeText = qsizetype{1} << 20;

// Gives the pages of freed memory back to the system. glibc keeps freed
// blocks below its mapping threshold in the heaps of the threads that freed
// them; a large write's buffers would otherwise stay resident (and, after
// every save, more of them) until a later allocation happens to reuse them.
void ReturnFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

// Exported text goes out in pieces of this many units, each written while
// the next is encoded.
constexpr std::size_t kPlainPiece = std::size_t{1} << 20;

std::u16string_view Utf16(const QString& text)
{
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

void WipeString(QString& text)
{
    if (!text.isEmpty() && !text.isDetached())
        text.detach();
    text.fill(QChar(0));
    text.clear();
}

} // namespace

bool WriteAll(QIODevice& device, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const std::size_t piece = std::min(bytes.size(), kWritePiece);
        const qint64 written = device.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(piece));
        if (written != static_cast<qint64>(piece))
            return false;
        bytes = bytes.subspan(piece);
    }
    return true;
}

WriteJob::WriteJob(QString snapshot, WriteContent content, SessionKey key, std::unique_ptr<QSaveFile> writer,
                   bool lossAccepted, Keeper keeper, QObject* parent)
    : QObject(parent), m_snapshot(std::move(snapshot)), m_content(content), m_key(std::move(key)),
      m_writer(std::move(writer)), m_lossAccepted(lossAccepted), m_keeper(std::move(keeper)),
      m_large(m_snapshot.size() >= kLargeText)
{
    connect(&m_watcher, &QFutureWatcher<void>::finished, this, &WriteJob::stepFinished);
}

WriteJob::~WriteJob()
{
    Wait();
    WipeString(m_snapshot);
    SecureWipe(m_lossy.data(), m_lossy.size() * sizeof(char32_t));
    // An uncommitted writer removes its temporary file: the old file stays.
}

void WriteJob::Start()
{
    m_future = QtConcurrent::run([this] { Run(/*encode=*/true); });
    m_watcher.setFuture(m_future);
}

bool WriteJob::WriteAnyway()
{
    Wait();
    if (m_outcome != Outcome::Lossy)
        return false;
    m_outcome = Outcome::Running;
    m_future = QtConcurrent::run([this] { Run(/*encode=*/false); });
    m_watcher.setFuture(m_future);
    return true;
}

bool WriteJob::ReplaceAnyway()
{
    Wait();
    if (m_outcome != Outcome::Changed)
        return false;
    m_outcome = Outcome::Running;
    m_check = {};
    m_future = QtConcurrent::run([this] { Replace(); });
    m_watcher.setFuture(m_future);
    return true;
}

void WriteJob::Wait()
{
    m_future.waitForFinished();
}

std::u32string WriteJob::lossyCharacters() const
{
    return m_lossy;
}

void WriteJob::Run(bool encode)
{
    try {
        if (encode)
            Encode();
        if (m_outcome == Outcome::Running)
            Write();
    } catch (const std::exception&) {
        // No memory for the buffer: nothing was committed.
        m_document.reset();
        m_writer->cancelWriting();
        m_outcome = Outcome::Failed;
    }
    if (m_large)
        ReturnFreedMemory();
}

void WriteJob::Encode()
{
    if (m_content == WriteContent::Document && m_key.format() == DocumentFormat::Strong) {
        // Every character is kept; the editor's separators are line breaks.
        for (QChar& c : m_snapshot)
            if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
                c = QLatin1Char('\n');
        return;
    }
    if (m_content == WriteContent::PlainText) {
        EncodeAndWritePlain();
    } else {
        const std::u16string_view text = Utf16(m_snapshot);
        m_document = std::make_unique<DocumentBuffer>(text.size()); // at most two bytes a unit
        m_document->Append(text, LineBreakStyle::EditorLf);
        m_lossy = m_document->LossyCharacters();
    }
    WipeString(m_snapshot);
    if (m_outcome == Outcome::Running && !m_lossy.empty() && !m_lossAccepted)
        m_outcome = Outcome::Lossy;
}

void WriteJob::EncodeAndWritePlain()
{
    // Two buffers: one is written while the other is filled. The bytes wait
    // in the writer's temporary file; only the commit, once any loss is
    // accepted, makes them the file's.
    const std::u16string_view text = Utf16(m_snapshot);
    LossyCharacterSet lossy;
    std::array<SecureBytes, 2> pieces;
    std::future<bool> writing;
    bool written = true;
    for (std::size_t at = 0, piece = 0; at < text.size() && written; piece ^= 1) {
        std::size_t units = std::min(kPlainPiece, text.size() - at);
        if (at + units < text.size() && (text[at + units - 1] & 0xFC00) == 0xD800)
            --units; // a surrogate pair stays in one piece
        SecureBytes& bytes = pieces[piece];
        bytes.resize(2 * units); // CR LF included
        bytes.resize(EncodeUnits(text.substr(at, units), LineBreakStyle::EditorCrLf, bytes.data(), lossy));
        at += units;
        if (writing.valid())
            written = writing.get();
        if (written)
            writing = std::async(std::launch::async, [this, &bytes] { return WriteAll(*m_writer, bytes); });
    }
    if (writing.valid())
        written = writing.get() && written;
    m_plainWritten = true;
    m_lossy = lossy.Characters();
    // A plain text file keeps U+0000 as the byte it is.
    if (!m_lossy.empty() && m_lossy.front() == U'\0')
        m_lossy.erase(0, 1);
    if (!written) {
        m_writer->cancelWriting();
        m_outcome = Outcome::Failed;
    }
}

bool WriteJob::WriteStrong()
{
    // Records go out as they are sealed; after a failing write nothing more is tried.
    bool written = true;
    StrongWriter writer(m_key.strong(), [this, &written](std::span<const std::uint8_t> bytes) {
        written = written && WriteAll(*m_writer, bytes);
    });
    writer.Write(Utf16(m_snapshot));
    writer.Finish();
    WipeString(m_snapshot);
    return written;
}

void WriteJob::Write()
{
    bool written = false;
    if (m_content == WriteContent::Document && m_key.format() == DocumentFormat::Strong) {
        written = WriteStrong();
        m_key = SessionKey();
    } else if (m_content == WriteContent::Document) {
        m_document->Seal(m_key.tvro().bytes());
        m_key = SessionKey();
        written = WriteAll(*m_writer, m_document->file());
        m_document.reset();
    } else {
        written = m_plainWritten; // as it was encoded
    }
    if (!written) {
        m_writer->cancelWriting();
        m_outcome = Outcome::Failed;
        return;
    }
    if (m_check && !m_check()) {
        m_outcome = Outcome::Changed; // the temporary file waits for ReplaceAnyway()
        return;
    }
    Replace();
}

void WriteJob::Replace()
{
    if (m_keeper)
        m_keeperFailure = m_keeper(); // the bytes about to be replaced, as late as can be
    if (!m_writer->commit()) {
        m_outcome = Outcome::Failed;
        return;
    }
    if (m_content == WriteContent::Document) {
        // What the next write's check compares with: the file as this write left it.
        const int fd = ::open(QFile::encodeName(m_writer->fileName()).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            m_writtenIdentity = ReadFileIdentity(fd);
            ::close(fd);
        }
    }
    m_outcome = Outcome::Written;
}

} // namespace tavro
