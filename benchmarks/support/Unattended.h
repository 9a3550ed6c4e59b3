// The interaction service of a side process: nobody is there to answer, so every message goes to
// the log and is answered with its first button (OK, Yes), choosers answer nothing and dialogs are
// cancelled. The harness installs it in every side process before the side runs.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

#include "platform/ui/Interaction.h"

namespace bench {

class Unattended : public kv::Interaction {
public:
    int ShowMessage(const QString& text, unsigned type, const QString&) override {
        std::fprintf(stderr, "message: %s\n", text.toLocal8Bit().constData());
        const unsigned buttons = type & MB_TYPEMASK;
        return buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? IDYES : IDOK;
    }
    QString ChooseOpenFile(const QString&, const QString&, const QString&) override { return {}; }
    QStringList ChooseOpenFiles(const QString&, const QString&, const QString&) override { return {}; }
    QString ChooseSaveFile(const QString&, const QString&, const QString&, QString*) override { return {}; }
    QString ChooseFolder(const QString&, const QString&) override { return {}; }
    int RunModal(QDialog&) override { return IDCANCEL; }
};

}  // namespace bench
