// The one road from the program to the operator for messages, file choosers and modal dialogs.
// The program installs nothing and gets the real Qt dialogs; a test installs a scripted service
// that answers from a queue and records every text shown.
#pragma once

#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

// Message box types and answers, with the classic values so that callers compare the usual ids.
enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_ABORTRETRYIGNORE = 0x2,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_RETRYCANCEL = 0x5,
    MB_TYPEMASK = 0xF,
    MB_ICONERROR = 0x10,
    MB_ICONSTOP = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_ICONMASK = 0xF0,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

namespace kv {

enum class MessageIcon { None, Error, Question, Warning, Information };

MessageIcon IconOf(unsigned type);

class Interaction {
public:
    virtual ~Interaction() = default;

    // Shows text with the icon and buttons of type; returns the id of the button pressed.
    virtual int ShowMessage(const QString& text, unsigned type, const QString& caption) = 0;
    // Filters in Qt's form: "GeoTIFF (*.tif *.tiff);;All files (*)". Empty text when refused.
    virtual QString ChooseOpenFile(const QString& title, const QString& folder, const QString& filter) = 0;
    virtual QStringList ChooseOpenFiles(const QString& title, const QString& folder,
                                        const QString& filter) = 0;
    // selectedFilter, when given, receives the filter the operator chose. The chooser does not ask
    // whether an existing file is to be replaced: its caller asks, once the name passed the
    // caller's own checks (ChooseOutputFile of the document does both).
    virtual QString ChooseSaveFile(const QString& title, const QString& path, const QString& filter,
                                   QString* selectedFilter) = 0;
    virtual QString ChooseFolder(const QString& title, const QString& folder) = 0;
    // Runs the dialog modally and returns its result code.
    virtual int RunModal(QDialog& dialog) = 0;
};

// The service in use. SetInteraction(nullptr) restores the real one; the caller keeps ownership.
Interaction& GetInteraction();
void SetInteraction(Interaction* service);

// The real service: Qt's message boxes, file dialogs and QDialog::exec.
class QtInteraction : public Interaction {
public:
    int ShowMessage(const QString& text, unsigned type, const QString& caption) override;
    QString ChooseOpenFile(const QString& title, const QString& folder, const QString& filter) override;
    QStringList ChooseOpenFiles(const QString& title, const QString& folder, const QString& filter) override;
    QString ChooseSaveFile(const QString& title, const QString& path, const QString& filter,
                           QString* selectedFilter) override;
    QString ChooseFolder(const QString& title, const QString& folder) override;
    int RunModal(QDialog& dialog) override;
};

// The window that parents dialogs and message boxes (the main window once it exists).
QWidget* DialogParent();
void SetDialogParent(QWidget* parent);

}  // namespace kv

// The program's message box: the text with the icon and buttons of type, captioned "Kelvaro".
int KvMessageBox(const QString& text, unsigned type = MB_OK | MB_ICONWARNING);
