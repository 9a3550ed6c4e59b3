#include "app/AboutDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/AppIcons.h"
#include "app/ProgramVersion.h"
#include "platform/tools/MakerInfo.h"

CAboutDlg::CAboutDlg(QWidget* parent)
    : KvDialog(parent),
      m_linkEmail(new CHyperLink(this)),
      m_linkWeb(new CHyperLink(this)),
      m_grpVersion(new QGroupBox(this)),
      m_stVersion(new QLabel(m_grpVersion)) {
    auto* picture = new QLabel(this);
    picture->setPixmap(KvAppIconPixmap(QStringLiteral("kelvaro"), 64));
    picture->setAlignment(Qt::AlignTop);

    auto* contact = new QLabel(this);
    contact->setText(
        QStringLiteral("<b>Kelvaro</b><br>Elevation models, orthophotos and drawings<br><br>"
                       "<b>" KV_MAKER_NAME "</b>"));
    auto* versionLayout = new QVBoxLayout(m_grpVersion);
    versionLayout->addWidget(m_stVersion);

    auto* text = new QVBoxLayout();
    text->addWidget(contact);
    text->addWidget(m_linkEmail);
    text->addWidget(m_linkWeb);
    text->addSpacing(8);
    text->addWidget(m_grpVersion);

    auto* top = new QHBoxLayout();
    top->addWidget(picture);
    top->addSpacing(12);
    top->addLayout(text, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { OnOK(); });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
}

bool CAboutDlg::OnInitDialog() {
    setWindowTitle(QStringLiteral("About Kelvaro - " KV_MAKER_WEB_ADDRESS));
    m_grpVersion->setTitle(QStringLiteral("Version"));
    m_linkEmail->setText(QStringLiteral(KV_MAKER_EMAIL));
    m_linkEmail->SetURL(QStringLiteral("mailto:" KV_MAKER_EMAIL));
    m_linkWeb->setText(QStringLiteral(KV_MAKER_WEB_ADDRESS));
    m_linkWeb->SetURL(QStringLiteral(KV_MAKER_WEB_URL));
    m_stVersion->setText(QStringLiteral("Ver. %1").arg(KvGetCutVersion()));
    return true;
}
