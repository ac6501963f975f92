// The version history of the open document: the bytes each write replaced,
// kept by the session's writes (and by tavro-cli) in the user's version
// store. The window lists them, previews one under the password it had,
// restores one (the current file is kept as a version first), or clears them.
#include "main_window.h"

#include "document_reader.h"
#include "prompts.h"
#include "secure_memory.h"
#include "version_history_dialog.h"
#include "version_store.h"

#include <QBuffer>
#include <QScopeGuard>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace tavro {
namespace {

const QString kHistory = QStringLiteral("历史版本");

QString OriginText(VersionOrigin origin)
{
    switch (origin) {
    case VersionOrigin::Save: return QStringLiteral("保存");
    case VersionOrigin::Lock: return QStringLiteral("锁定");
    case VersionOrigin::AutoSave: return QStringLiteral("自动保存");
    case VersionOrigin::PasswordChange: return QStringLiteral("修改密码");
    case VersionOrigin::CommandLine: return QStringLiteral("命令行");
    }
    return QStringLiteral("未知");
}

QDateTime LocalTime(std::int64_t seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toLocalTime();
}

} // namespace

void MainWindow::OnFileVersions()
{
    AutoSave::Hold hold(m_autoSave);
    if (!m_session)
        return;
    WaitForSave(); // a write in flight may keep one more
    const std::string path = QFile::encodeName(m_session->path()).toStdString();
    const VersionStore store(QFile::encodeName(m_session->versionRoot()).toStdString());
    for (;;) {
        std::vector<Version> versions;
        const StoreStatus listed = store.List(path, versions);
        if (!listed.ok) {
            m_prompts.Tell(this, QStringLiteral("无法读取历史版本: ") + QString::fromStdString(listed.message), kHistory,
                           MessageIcon::Error);
            return;
        }
        if (versions.empty()) {
            m_prompts.Tell(this, QStringLiteral("该文档还没有历史版本."), kHistory, MessageIcon::Information);
            return;
        }
        std::vector<VersionHistoryDialog::Entry> entries;
        for (const Version& version : versions)
            entries.push_back({version.number, LocalTime(version.keptAt), version.size, OriginText(version.origin)});
        VersionHistoryDialog dialog(QFileInfo(m_session->path()).fileName(), std::move(entries), this);
        if (m_prompts.RunModal(dialog) != QDialog::Accepted)
            return;
        const auto chosen = std::find_if(versions.begin(), versions.end(), [&dialog](const Version& version) {
            return version.number == dialog.chosenNumber();
        });
        switch (dialog.choice()) {
        case VersionHistoryDialog::Choice::Preview:
            if (chosen != versions.end() && PreviewVersion(*chosen))
                return; // restored
            continue;   // back to the list
        case VersionHistoryDialog::Choice::Restore:
            if (chosen != versions.end())
                RestoreVersion(chosen->number, std::nullopt);
            return;
        case VersionHistoryDialog::Choice::Clear:
            if (m_prompts.ShowMessage(this, QStringLiteral("是否清除该文档的全部历史版本?\n清除后将无法恢复这些版本."),
                                      kHistory, MessageIcon::Warning,
                                      MessageButtons::YesNoDefaultNo) == MessageAnswer::Yes) {
                std::size_t removed = 0;
                const StoreStatus purged = store.Purge(path, &removed);
                m_prompts.Tell(this,
                               purged.ok ? QStringLiteral("已清除 %1 个历史版本.").arg(removed)
                                         : QStringLiteral("无法清除历史版本: ") + QString::fromStdString(purged.message),
                               kHistory, purged.ok ? MessageIcon::Information : MessageIcon::Error);
            }
            return;
        case VersionHistoryDialog::Choice::None:
            return;
        }
    }
}

bool MainWindow::PreviewVersion(const Version& version)
{
    const VersionStore store(QFile::encodeName(m_session->versionRoot()).toStdString());
    QByteArray bytes;
    const StoreStatus read = store.Read(QFile::encodeName(m_session->path()).toStdString(), version.number,
                                        [&bytes](std::span<const std::uint8_t> piece) {
                                            bytes.append(reinterpret_cast<const char*>(piece.data()),
                                                         static_cast<qsizetype>(piece.size()));
                                        });
    // The version's bytes are as encrypted as the document's; they go when this ends.
    const auto wipe = qScopeGuard([&bytes] { SecureWipe(bytes.data(), static_cast<std::size_t>(bytes.size())); });
    if (!read.ok) {
        m_prompts.Tell(this, QStringLiteral("无法读取该版本: ") + QString::fromStdString(read.message), kHistory,
                       MessageIcon::Error);
        return false;
    }
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const DocumentPreview preview = PreviewDocument(buffer);
    KeyRecipe recipe;
    recipe.format = preview.format;
    if (preview.format == DocumentFormat::Strong) {
        if (preview.strongHeader != StrongCheck::Sound) {
            m_prompts.Tell(this, QStringLiteral("该版本不是可以读取的 Tavro 强加密文档(文件头无效或已损坏)."), kHistory,
                           MessageIcon::Error);
            return false;
        }
        recipe.strongParameters = preview.strongParameters;
    }
    // Its own password: the document's may have changed since.
    std::optional<SessionKey> asked = AskForKey(recipe);
    if (!asked && preview.format == DocumentFormat::Strong)
        return false;
    SessionKey key = asked ? std::move(*asked) : SessionKey();
    DocumentText text = ReadDocumentText(buffer, key);
    const auto wipeText = qScopeGuard(
        [&text] { SecureWipe(text.text.data(), static_cast<std::size_t>(text.text.size()) * sizeof(QChar)); });
    QString note;
    if (preview.format == DocumentFormat::Strong) {
        if (text.strongCheck == StrongCheck::WrongKey) {
            m_prompts.Tell(this, QStringLiteral("密码错误或文件已被修改."), kHistory, MessageIcon::Error);
            return false;
        }
        if (text.strongCheck != StrongCheck::Sound)
            note = QStringLiteral("该版本已损坏,只显示通过校验的部分.");
    } else if (!text.judgement.clean()) {
        note = QStringLiteral("该版本的内容未能通过检查(可能是密码错误或文件已损坏),显示的文本可能不是原文.");
    }
    VersionPreviewDialog dialog(
        kHistory + QStringLiteral(" - ") + LocalTime(version.keptAt).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
        text.text, note, this);
    if (m_prompts.RunModal(dialog) != QDialog::Accepted)
        return false;
    return RestoreVersion(version.number, std::move(key));
}

bool MainWindow::RestoreVersion(std::uint64_t number, std::optional<SessionKey> key)
{
    // Unsaved text is asked about first; the file as it is now is kept as a
    // version before the one chosen takes its place.
    if (isModified() && !AskToSaveChanges())
        return false;
    const QString path = m_session->path();
    const QString titleName = QFileInfo(path).fileName();
    const VersionStore store(QFile::encodeName(m_session->versionRoot()).toStdString());
    const StoreStatus restored =
        store.Restore(QFile::encodeName(path).toStdString(), number, VersionOrigin::Save);
    if (!restored.ok) {
        m_prompts.Tell(this, QStringLiteral("无法恢复该版本: ") + QString::fromStdString(restored.message), kHistory,
                       MessageIcon::Error);
        return false;
    }
    // The restored document, shown as an opened one (locked); under the
    // preview's key when it was previewed, else after the password dialog.
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) {
        m_prompts.Tell(this, QStringLiteral("无法读取该文本,不能向目标地址读写."), QStringLiteral("失败"),
                       MessageIcon::Error);
        return true;
    }
    ReadAndShowDocument(std::move(file), path, titleName, std::move(key));
    return true;
}

} // namespace tavro
