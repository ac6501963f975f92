// Prompts with answers given in advance, for GUI tests: nothing modal ever
// runs. Every prompt is logged with what it said; answers are taken in
// order, and a prompt of another kind than the next answer fails the test.
#pragma once

#include "prompts.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QRegularExpression>

#include <deque>
#include <functional>
#include <vector>

namespace tavro::test {

struct ShownPrompt {
    enum class Kind { Message, File, Color, Modal, Text } kind;
    QString text;    // message text, the dialog's class name, or a text prompt's label
    QString caption; // message or text prompt caption, or the file dialog's title
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    FileDialogRequest file;
    bool masked = false; // a text prompt that hides what is typed
};

class ScriptedPrompts : public Prompts {
public:
    // The next message box is answered with answer; during runs first, as if
    // an event arrived while the box was open.
    void AnswerMessage(MessageAnswer answer, std::function<void()> during = {})
    {
        m_answers.push_back({ShownPrompt::Kind::Message, answer, {}, {}, std::move(during), {}});
    }
    // The next file chooser returns path (its file name is derived), or is cancelled.
    void AnswerFile(std::optional<QString> path, std::function<void()> during = {})
    {
        m_answers.push_back({ShownPrompt::Kind::File, {}, std::move(path), {}, std::move(during), {}});
    }
    void AnswerColor(std::optional<QColor> color)
    {
        m_answers.push_back({ShownPrompt::Kind::Color, {}, {}, color, {}, {}});
    }
    // The next modal dialog is handed to handle instead of running; its
    // return value is the dialog's result.
    void AnswerModal(std::function<int(QDialog&)> handle)
    {
        Answer a{ShownPrompt::Kind::Modal, {}, {}, {}, {}, std::move(handle)};
        m_answers.push_back(std::move(a));
    }

    // The next text prompt returns text, or is cancelled.
    void AnswerText(std::optional<QString> text)
    {
        Answer a{ShownPrompt::Kind::Text, {}, std::move(text), {}, {}, {}};
        m_answers.push_back(std::move(a));
    }

    std::vector<ShownPrompt> shown;
    bool AllAnswered() const { return m_answers.empty(); }
    std::size_t Pending() const { return m_answers.size(); }

    // The messages shown so far, texts only.
    std::vector<QString> MessageTexts() const
    {
        std::vector<QString> texts;
        for (const ShownPrompt& p : shown)
            if (p.kind == ShownPrompt::Kind::Message)
                texts.push_back(p.text);
        return texts;
    }

    MessageAnswer ShowMessage(QWidget*, const QString& text, const QString& caption,
                              MessageIcon icon, MessageButtons buttons) override
    {
        shown.push_back({ShownPrompt::Kind::Message, text, caption, icon, buttons, {}});
        Answer a;
        if (!Next(ShownPrompt::Kind::Message, a)) {
            switch (buttons) {
            case MessageButtons::Ok: return MessageAnswer::Ok;
            case MessageButtons::YesNo:
            case MessageButtons::YesNoDefaultNo: return MessageAnswer::No;
            case MessageButtons::SaveDiscardCancel: return MessageAnswer::Cancel;
            case MessageButtons::SaveAnywayGoBack: return MessageAnswer::GoBack;
            case MessageButtons::OverwriteSaveAsCancel: return MessageAnswer::Cancel;
            }
        }
        return a.message;
    }

    std::optional<ChosenFile> ChooseFile(QWidget*, const FileDialogRequest& request) override
    {
        shown.push_back({ShownPrompt::Kind::File, {}, request.title, {}, {}, request});
        Answer a;
        if (!Next(ShownPrompt::Kind::File, a) || !a.path)
            return std::nullopt;
        QString path = *a.path;
        const QString name = path.section(QLatin1Char('/'), -1);
        // The filter the user picks is the one whose pattern the name has
        // (else the one offered first), and a name without a suffix gets its suffix.
        int filterIndex = request.selectedFilter;
        for (int i = 0; i < request.filters.size(); ++i)
            if (request.filters[i].contains(QStringLiteral("*.") + name.section(QLatin1Char('.'), -1) + QLatin1Char(')')))
                filterIndex = i;
        QString suffix = request.defaultSuffix;
        if (!request.filters.isEmpty())
            suffix = QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(request.filters.value(filterIndex)).captured(1);
        if (!suffix.isEmpty() && !name.contains(QLatin1Char('.')))
            path += QLatin1Char('.') + suffix;
        return ChosenFile{path, path.section(QLatin1Char('/'), -1), filterIndex};
    }

    std::optional<QColor> ChooseColor(QWidget*, const QColor&) override
    {
        shown.push_back({ShownPrompt::Kind::Color, {}, {}, {}, {}, {}});
        Answer a;
        if (!Next(ShownPrompt::Kind::Color, a))
            return std::nullopt;
        return a.color;
    }

    int RunModal(QDialog& dialog) override
    {
        shown.push_back({ShownPrompt::Kind::Modal,
                         QString::fromLatin1(dialog.metaObject()->className()), {}, {}, {}, {}});
        Answer a;
        if (!Next(ShownPrompt::Kind::Modal, a))
            return QDialog::Rejected;
        return a.modal(dialog);
    }

    std::optional<QString> AskText(QWidget*, const QString& label, const QString& caption,
                                   bool masked) override
    {
        ShownPrompt prompt{ShownPrompt::Kind::Text, label, caption, {}, {}, {}};
        prompt.masked = masked;
        shown.push_back(prompt);
        Answer a;
        if (!Next(ShownPrompt::Kind::Text, a))
            return std::nullopt;
        return a.path;
    }

private:
    struct Answer {
        ShownPrompt::Kind kind = ShownPrompt::Kind::Message;
        MessageAnswer message = MessageAnswer::Ok;
        std::optional<QString> path; // the file chosen, or the text typed
        std::optional<QColor> color;
        std::function<void()> during;
        std::function<int(QDialog&)> modal;
    };

    bool Next(ShownPrompt::Kind kind, Answer& out)
    {
        const ShownPrompt& prompt = shown.back();
        if (m_answers.empty()) {
            ADD_FAILURE() << "unexpected prompt: " << prompt.text.toStdString() << " / "
                          << prompt.caption.toStdString();
            return false;
        }
        if (m_answers.front().kind != kind) {
            ADD_FAILURE() << "prompt of another kind than scripted: " << prompt.text.toStdString()
                          << " / " << prompt.caption.toStdString();
            return false;
        }
        out = std::move(m_answers.front());
        m_answers.pop_front();
        if (out.during)
            out.during();
        return true;
    }

    std::deque<Answer> m_answers;
};

} // namespace tavro::test
