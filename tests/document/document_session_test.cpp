#include "document_session.h"

#include "document_file.h"
#include "support/failing_save_file.h"
#include "support/password_key.h"
#include "support/qt_application.h"
#include "version_store.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QThreadPool>

#include <functional>

namespace tavro::test {
namespace {

class Session : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QFile(Path("a.tvro")).open(QIODevice::WriteOnly); // created empty, as New does
        session = std::make_unique<DocumentSession>(Path("a.tvro"), SessionKey(KeyHolder(PasswordKey(u"one"))));
        QObject::connect(session.get(), &DocumentSession::writeFinished,
                         [this](WriteOrigin, WriteOutcome outcome) { outcomes.push_back(outcome); });
    }

    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    static QByteArray Read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static QString TextOf(const QByteArray& file, const DocumentKey& key)
    {
        return QString::fromStdU16String(
            DecryptDocument({reinterpret_cast<const std::uint8_t*>(file.constData()),
                             static_cast<std::size_t>(file.size())},
                            key)
                .text);
    }

    // The outcome of a write started now, once it has ended.
    WriteOutcome Run(const std::function<bool()>& start)
    {
        outcomes.clear();
        start();
        session->WaitForWrite();
        return outcomes.empty() ? WriteOutcome::WentBack : outcomes.back();
    }

    QTemporaryDir dir;
    std::unique_ptr<DocumentSession> session;
    std::vector<WriteOutcome> outcomes;
};

// A disk that fills up part-way: the file, the key and the path stay as
// they were, and the text stays unsaved, until a write succeeds.
TEST_F(Session, AFailedWriteChangesNothingButTheReport)
{
    session->document()->setPlainText(QStringLiteral("first"));
    ASSERT_EQ(Run([&] { return session->Save(WriteOrigin::Save); }), WriteOutcome::Written);
    const QByteArray good = Read(Path("a.tvro"));
    session->document()->setPlainText(QString(5000, QChar(u'字')));
    session->setWriterFactory(FailingWriters(4096));

    const struct {
        const char* name;
        std::function<bool()> start;
        bool failingWritesOfTheDocument;
    } writes[] = {
        {"SaveAs", [&] { return session->SaveAs(Path("b.tvro")); }, false},
        {"Save", [&] { return session->Save(WriteOrigin::Save); }, true},
        {"ChangeKey", [&] { return session->ChangeKey(SessionKey(KeyHolder(PasswordKey(u"two")))); }, true},
    };
    for (const auto& write : writes) {
        SCOPED_TRACE(write.name);
        EXPECT_EQ(Run(write.start), WriteOutcome::Failed);
        EXPECT_EQ(Read(Path("a.tvro")), good);
        EXPECT_FALSE(QFileInfo::exists(Path("b.tvro")));
        EXPECT_EQ(session->key().tvro().bytes(), PasswordKey(u"one"));
        EXPECT_EQ(session->path(), Path("a.tvro"));
        EXPECT_TRUE(session->isModified());
        EXPECT_EQ(session->isWriteFailing(), write.failingWritesOfTheDocument);
    }

    session->setWriterFactory(nullptr);
    EXPECT_EQ(Run([&] { return session->ChangeKey(SessionKey(KeyHolder(PasswordKey(u"two")))); }), WriteOutcome::Written);
    EXPECT_EQ(session->key().tvro().bytes(), PasswordKey(u"two"));
    EXPECT_EQ(TextOf(Read(Path("a.tvro")), PasswordKey(u"two")), QString(5000, QChar(u'字')));
    EXPECT_FALSE(session->isWriteFailing());
    EXPECT_EQ(Run([&] { return session->SaveAs(Path("b.tvro")); }), WriteOutcome::Written);
    EXPECT_EQ(session->path(), Path("b.tvro"));
    EXPECT_FALSE(session->isModified());
}

// Exported text is encoded and written a million units at a time: a pair of
// surrogates across that edge is one lost character ("??"), and a disk that
// fills up in a later piece fails the export, leaving no file.
TEST_F(Session, ExportInPiecesKeepsPairsWholeAndFailsWhole)
{
    constexpr qsizetype kPiece = qsizetype{1} << 20;
    std::u32string lost;
    QObject::connect(session.get(), &DocumentSession::lossyCharactersFound,
                     [&](WriteOrigin, const std::u32string& characters) {
                         lost = characters;
                         session->WriteAnyway();
                     });
    session->document()->setPlainText(QString(kPiece - 1, QLatin1Char('a')) + QStringLiteral("\U0001F600\n中"));
    ASSERT_EQ(Run([&] { return session->Export(Path("out.txt")); }), WriteOutcome::Written);
    EXPECT_EQ(lost, std::u32string(U"\U0001F600"));
    EXPECT_EQ(Read(Path("out.txt")), QByteArray(kPiece - 1, 'a') + QByteArray("??\r\n\xD6\xD0"));

    session->setWriterFactory(FailingWriters(kPiece)); // the first piece fits, the second does not
    EXPECT_EQ(Run([&] { return session->Export(Path("full.txt")); }), WriteOutcome::Failed);
    EXPECT_FALSE(QFileInfo::exists(Path("full.txt")));
}

// Losing characters is accepted for one destination and one text state.
// The step resumed by the answer may be over before the question returns
// (a busy UI thread): it is still a write that happened.
TEST_F(Session, ConsentToLoseCharactersBelongsToADestinationAndAState)
{
    int asked = 0;
    QObject::connect(session.get(), &DocumentSession::lossyCharactersFound, [&] {
        ++asked;
        session->WriteAnyway();
        QThreadPool::globalInstance()->waitForDone();
    });
    session->document()->setPlainText(QStringLiteral("a\U0001F600"));
    EXPECT_EQ(Run([&] { return session->Export(Path("out.txt")); }), WriteOutcome::Written);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Run([&] { return session->Save(WriteOrigin::AutoSave); }), WriteOutcome::Skipped);
    EXPECT_TRUE(session->isKnownLossy());
    EXPECT_EQ(Read(Path("a.tvro")).size(), 0);

    EXPECT_EQ(Run([&] { return session->Save(WriteOrigin::Save); }), WriteOutcome::Written);
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(session->isKnownLossy());
    EXPECT_EQ(Run([&] { return session->Export(Path("out.txt")); }), WriteOutcome::Written);
    EXPECT_EQ(asked, 2); // the same destination and state: accepted before

    session->document()->setPlainText(QStringLiteral("b\U0001F600"));
    EXPECT_EQ(Run([&] { return session->Save(WriteOrigin::AutoSave); }), WriteOutcome::Skipped);
    EXPECT_EQ(asked, 2);
}

// Another program's write since this session read or wrote the file is never
// replaced unasked: auto-save skips it, a save asks, and only ReplaceAnyway
// puts the text there (keeping the file it replaces). A file moved away or
// removed is replaced by nothing of anyone's, and is written unasked.
TEST_F(Session, AFileAnotherProgramWroteIsReplacedOnlyWhenAskedTo)
{
    session->setVersionRoot(Path("versions"));
    int asked = 0;
    bool replace = false;
    QObject::connect(session.get(), &DocumentSession::fileChangedOnDisk, [&] {
        ++asked;
        if (replace)
            session->ReplaceAnyway();
    });
    session->document()->setPlainText(QStringLiteral("mine"));
    ASSERT_EQ(Run([&] { return session->Save(WriteOrigin::Save); }), WriteOutcome::Written);
    QSaveFile other(Path("a.tvro"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("their document");
    ASSERT_TRUE(other.commit());

    session->document()->setPlainText(QStringLiteral("mine, edited"));
    EXPECT_EQ(Run([&] { return session->Save(WriteOrigin::AutoSave); }), WriteOutcome::ChangedOnDisk);
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(session->isChangedOnDisk());
    EXPECT_EQ(Run([&] { return session->Lock(); }), WriteOutcome::ChangedOnDisk);
    EXPECT_FALSE(session->isLocked());
    EXPECT_EQ(Run([&] { return session->ChangeKey(SessionKey(KeyHolder(PasswordKey(u"two")))); }),
              WriteOutcome::ChangedOnDisk);
    EXPECT_EQ(session->key().tvro().bytes(), PasswordKey(u"one"));
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(Read(Path("a.tvro")), QByteArray("their document"));
    EXPECT_TRUE(session->isModified());

    replace = true;
    EXPECT_EQ(Run([&] { return session->Save(WriteOrigin::Save); }), WriteOutcome::Written);
    EXPECT_EQ(TextOf(Read(Path("a.tvro")), PasswordKey(u"one")), QStringLiteral("mine, edited"));
    EXPECT_FALSE(session->isChangedOnDisk());
    const VersionStore store(Path("versions").toStdString());
    const std::string document = QFile::encodeName(Path("a.tvro")).toStdString();
    std::vector<Version> versions;
    ASSERT_TRUE(store.List(document, versions).ok);
    ASSERT_FALSE(versions.empty());
    QByteArray kept;
    store.Read(document, versions.front().number, [&](std::span<const std::uint8_t> piece) {
        kept.append(reinterpret_cast<const char*>(piece.data()), static_cast<qsizetype>(piece.size()));
    });
    EXPECT_EQ(kept, QByteArray("their document"));

    // What this session wrote is its own again; a removed file is written back.
    session->document()->setPlainText(QStringLiteral("again"));
    EXPECT_EQ(Run([&] { return session->Save(WriteOrigin::AutoSave); }), WriteOutcome::Written);
    ASSERT_TRUE(QFile::remove(Path("a.tvro")));
    session->document()->setPlainText(QStringLiteral("after removal"));
    EXPECT_EQ(Run([&] { return session->Save(WriteOrigin::AutoSave); }), WriteOutcome::Written);
    EXPECT_EQ(TextOf(Read(Path("a.tvro")), PasswordKey(u"one")), QStringLiteral("after removal"));
    EXPECT_EQ(asked, 3);
}

} // namespace
} // namespace tavro::test
