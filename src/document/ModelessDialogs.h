// The two modeless dialogs each project keeps: the map representation and the colour
// classification. The document builds both objects without showing them; their commands show
// them on first use. Their content comes with the commands that use them.
#pragma once

#include "platform/ui/KvDialog.h"

class CMapRepresentationDlg : public KvDialog {
    Q_OBJECT
public:
    explicit CMapRepresentationDlg(QWidget* parent = nullptr);
};

class CColorClassificationDlg : public KvDialog {
    Q_OBJECT
public:
    explicit CColorClassificationDlg(QWidget* parent = nullptr);
};
