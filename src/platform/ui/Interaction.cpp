#include "platform/ui/Interaction.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

namespace kv {
namespace {

QtInteraction g_qt;
Interaction* g_current = nullptr;
QPointer<QWidget> g_parent;

QMessageBox::StandardButtons ButtonsOf(unsigned type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case MB_ABORTRETRYIGNORE:
            return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
        case MB_YESNOCANCEL:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case MB_YESNO:
            return QMessageBox::Yes | QMessageBox::No;
        case MB_RETRYCANCEL:
            return QMessageBox::Retry | QMessageBox::Cancel;
        default:
            return QMessageBox::Ok;
    }
}

int IdOf(int button) {
    switch (button) {
        case QMessageBox::Ok:
            return IDOK;
        case QMessageBox::Cancel:
            return IDCANCEL;
        case QMessageBox::Abort:
            return IDABORT;
        case QMessageBox::Retry:
            return IDRETRY;
        case QMessageBox::Ignore:
            return IDIGNORE;
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        default:
            return IDCANCEL;
    }
}

}  // namespace

MessageIcon IconOf(unsigned type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONERROR:
            return MessageIcon::Error;
        case MB_ICONQUESTION:
            return MessageIcon::Question;
        case MB_ICONWARNING:
            return MessageIcon::Warning;
        case MB_ICONINFORMATION:
            return MessageIcon::Information;
        default:
            return MessageIcon::None;
    }
}

Interaction& GetInteraction() {
    return g_current ? *g_current : g_qt;
}

void SetInteraction(Interaction* service) {
    g_current = service;
}

QWidget* DialogParent() {
    if (g_parent) {
        return g_parent;
    }
    return QApplication::activeWindow();
}

void SetDialogParent(QWidget* parent) {
    g_parent = parent;
}

int QtInteraction::ShowMessage(const QString& text, unsigned type, const QString& caption) {
    QMessageBox box(DialogParent());
    box.setWindowTitle(caption);
    box.setText(text);
    switch (IconOf(type)) {
        case MessageIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case MessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageIcon::None:
            break;
    }
    box.setStandardButtons(ButtonsOf(type));
    return IdOf(box.exec());
}

QString QtInteraction::ChooseOpenFile(const QString& title, const QString& folder, const QString& filter) {
    return QFileDialog::getOpenFileName(DialogParent(), title, folder, filter);
}

QStringList QtInteraction::ChooseOpenFiles(const QString& title, const QString& folder,
                                           const QString& filter) {
    return QFileDialog::getOpenFileNames(DialogParent(), title, folder, filter);
}

QString QtInteraction::ChooseSaveFile(const QString& title, const QString& path, const QString& filter,
                                      QString* selectedFilter) {
    return QFileDialog::getSaveFileName(DialogParent(), title, path, filter, selectedFilter,
                                        QFileDialog::DontConfirmOverwrite);
}

QString QtInteraction::ChooseFolder(const QString& title, const QString& folder) {
    return QFileDialog::getExistingDirectory(DialogParent(), title, folder);
}

int QtInteraction::RunModal(QDialog& dialog) {
    return dialog.exec();
}

}  // namespace kv

int KvMessageBox(const QString& text, unsigned type) {
    return kv::GetInteraction().ShowMessage(text, type, QStringLiteral("Kelvaro"));
}
