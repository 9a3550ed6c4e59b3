#include "document/ModelessDialogs.h"

CMapRepresentationDlg::CMapRepresentationDlg(QWidget* parent) : KvDialog(parent) {
    setWindowTitle(QStringLiteral("Map representation"));
}

CColorClassificationDlg::CColorClassificationDlg(QWidget* parent) : KvDialog(parent) {
    setWindowTitle(QStringLiteral("Color Classification"));
}
