// The interaction service of tests: answers from queues, records every message and chooser.
// Constructing one installs it; destroying it restores the previous service.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

#include "platform/ui/Interaction.h"

namespace kvtest {

struct ShownMessage {
    QString text;
    unsigned type = 0;
    QString caption;
    kv::MessageIcon icon() const { return kv::IconOf(type); }
};

// A message box, chooser or modal dialog that is shown and waits for its answer.
struct Awaited {
    enum Kind { Message, OpenFile, OpenFiles, SaveFile, Folder, Dialog };
    Kind kind = Message;
    // The message box's caption, the chooser's title or the dialog's window title.
    QString title;
    // The message box's text and type.
    QString text;
    unsigned type = 0;
    QDialog* dialog = nullptr;
};

class ScriptedInteraction : public kv::Interaction {
public:
    ScriptedInteraction();
    ~ScriptedInteraction() override;

    // Answers to the next message boxes, in order. Without one, a box answers its first button
    // (OK, Yes, Abort or Retry).
    void AnswerMessage(int id) { m_messageAnswers.push_back(id); }
    // Answers to the next open, save and folder choosers, in order ("" refuses). Without one, a
    // chooser is refused. For ChooseOpenFiles the text holds the paths separated by '\n'.
    void AnswerFile(const QString& path, const QString& selectedFilter = QString());
    // Scripts for the next modal dialogs, in order. The dialog is shown (so its set-up runs), the
    // script acts on it (fills fields, clicks buttons) and the dialog's result is returned. A
    // script may also return a result of its own: any value other than -1 is returned instead.
    // Without a script, a dialog answers IDCANCEL.
    void AnswerModal(std::function<int(QDialog&)> script) { m_modalScripts.push_back(std::move(script)); }
    void AnswerModal(int result);

    // Called when a message box, chooser or dialog is shown and no answer is queued for it, and
    // again while a dialog stays open after its script ran: it may run the event loop until it has
    // queued the answer. Without it (or when it queues none) the defaults above apply.
    void SetAwait(std::function<void(const Awaited&)> await) { m_await = std::move(await); }
    int PendingFileAnswers() const { return static_cast<int>(m_fileAnswers.size()); }

    const std::vector<ShownMessage>& Messages() const { return m_messages; }
    QStringList MessageTexts() const;
    // Titles of the file choosers and class names of the modal dialogs, in the order they came.
    const QStringList& Choosers() const { return m_choosers; }
    const QStringList& Dialogs() const { return m_dialogs; }
    void Clear();

    int ShowMessage(const QString& text, unsigned type, const QString& caption) override;
    QString ChooseOpenFile(const QString& title, const QString& folder, const QString& filter) override;
    QStringList ChooseOpenFiles(const QString& title, const QString& folder, const QString& filter) override;
    QString ChooseSaveFile(const QString& title, const QString& path, const QString& filter,
                           QString* selectedFilter) override;
    QString ChooseFolder(const QString& title, const QString& folder) override;
    int RunModal(QDialog& dialog) override;

private:
    struct FileAnswer {
        QString path;
        QString filter;
    };
    FileAnswer NextFile(Awaited::Kind kind, const QString& title);

    std::deque<int> m_messageAnswers;
    std::deque<FileAnswer> m_fileAnswers;
    std::deque<std::function<int(QDialog&)>> m_modalScripts;
    std::vector<ShownMessage> m_messages;
    QStringList m_choosers;
    QStringList m_dialogs;
    std::function<void(const Awaited&)> m_await;
    kv::Interaction* m_previous = nullptr;
};

}  // namespace kvtest
