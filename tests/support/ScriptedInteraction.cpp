#include "support/ScriptedInteraction.h"

#include <QApplication>
#include <QDialog>

namespace kvtest {
namespace {

int FirstButton(unsigned type) {
    switch (type & MB_TYPEMASK) {
        case MB_YESNO:
        case MB_YESNOCANCEL:
            return IDYES;
        case MB_ABORTRETRYIGNORE:
            return IDABORT;
        case MB_RETRYCANCEL:
            return IDRETRY;
        default:
            return IDOK;
    }
}

}  // namespace

ScriptedInteraction::ScriptedInteraction() {
    m_previous = &kv::GetInteraction();
    kv::SetInteraction(this);
}

ScriptedInteraction::~ScriptedInteraction() {
    kv::SetInteraction(m_previous == &kv::GetInteraction() ? nullptr : m_previous);
}

void ScriptedInteraction::AnswerFile(const QString& path, const QString& selectedFilter) {
    m_fileAnswers.push_back({path, selectedFilter});
}

void ScriptedInteraction::AnswerModal(int result) {
    m_modalScripts.push_back([result](QDialog&) { return result; });
}

QStringList ScriptedInteraction::MessageTexts() const {
    QStringList texts;
    for (const auto& m : m_messages) {
        texts << m.text;
    }
    return texts;
}

void ScriptedInteraction::Clear() {
    m_messages.clear();
    m_choosers.clear();
    m_dialogs.clear();
}

int ScriptedInteraction::ShowMessage(const QString& text, unsigned type, const QString& caption) {
    m_messages.push_back({text, type, caption});
    if (m_messageAnswers.empty() && m_await) {
        Awaited shown;
        shown.kind = Awaited::Message;
        shown.title = caption;
        shown.text = text;
        shown.type = type;
        m_await(shown);
    }
    if (!m_messageAnswers.empty()) {
        int id = m_messageAnswers.front();
        m_messageAnswers.pop_front();
        return id;
    }
    return FirstButton(type);
}

ScriptedInteraction::FileAnswer ScriptedInteraction::NextFile(Awaited::Kind kind, const QString& title) {
    m_choosers << title;
    if (m_fileAnswers.empty() && m_await) {
        Awaited shown;
        shown.kind = kind;
        shown.title = title;
        m_await(shown);
    }
    if (m_fileAnswers.empty()) {
        return {};
    }
    FileAnswer a = m_fileAnswers.front();
    m_fileAnswers.pop_front();
    return a;
}

QString ScriptedInteraction::ChooseOpenFile(const QString& title, const QString&, const QString&) {
    return NextFile(Awaited::OpenFile, title).path;
}

QStringList ScriptedInteraction::ChooseOpenFiles(const QString& title, const QString&, const QString&) {
    QString paths = NextFile(Awaited::OpenFiles, title).path;
    return paths.isEmpty() ? QStringList() : paths.split('\n');
}

QString ScriptedInteraction::ChooseSaveFile(const QString& title, const QString&, const QString&,
                                            QString* selectedFilter) {
    FileAnswer a = NextFile(Awaited::SaveFile, title);
    if (selectedFilter && !a.filter.isEmpty()) {
        *selectedFilter = a.filter;
    }
    return a.path;
}

QString ScriptedInteraction::ChooseFolder(const QString& title, const QString&) {
    return NextFile(Awaited::Folder, title).path;
}

int ScriptedInteraction::RunModal(QDialog& dialog) {
    m_dialogs << QString::fromLatin1(dialog.metaObject()->className());
    dialog.setResult(IDCANCEL);
    dialog.show();
    QApplication::processEvents();
    int result = IDCANCEL;
    for (;;) {
        if (m_modalScripts.empty() && m_await && dialog.isVisible()) {
            Awaited shown;
            shown.kind = Awaited::Dialog;
            shown.title = dialog.windowTitle();
            shown.dialog = &dialog;
            m_await(shown);
            if (!dialog.isVisible()) {
                // It ended by itself (a timer of its own) while the answer was awaited.
                result = dialog.result();
                break;
            }
        }
        if (m_modalScripts.empty()) {
            break;
        }
        auto script = std::move(m_modalScripts.front());
        m_modalScripts.pop_front();
        int own = script(dialog);
        result = own != -1 ? own : dialog.result();
        // A dialog that stays open after its script (it refused the answer) waits for the next
        // one when answers are awaited.
        if (own != -1 || !m_await || !dialog.isVisible()) {
            break;
        }
    }
    dialog.hide();
    return result;
}

}  // namespace kvtest
