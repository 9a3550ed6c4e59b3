// The About box: the program's picture, the maker's contact block with links to its e-mail
// address and web site, and the program version.
#pragma once

#include <QGroupBox>
#include <QLabel>

#include "controls/HyperLink.h"
#include "platform/ui/KvDialog.h"

class CAboutDlg : public KvDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    CHyperLink* m_linkEmail;  // the maker's e-mail address
    CHyperLink* m_linkWeb;    // the maker's web site
    QGroupBox* m_grpVersion;
    QLabel* m_stVersion;  // "Ver. <version>"

protected:
    bool OnInitDialog() override;
};
