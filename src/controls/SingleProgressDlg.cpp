#include "controls/SingleProgressDlg.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include "controls/DialogUnits.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"

KvProgressDialog::KvProgressDialog(QWidget* parent) : KvDialog(parent), m_ProgressCtrl(this) {
    setWindowTitle(QStringLiteral("Kelvaro"));
    setModal(false);
}

int KvProgressDialog::Create() {
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    hide();
    CenterOverMainWindow();
    return 1;
}

void KvProgressDialog::CenterOverMainWindow() {
    QRect area;
    if (const QWidget* main = kv::DialogParent(); main != nullptr && main != this) {
        area = main->frameGeometry();
    } else if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
        area = screen->availableGeometry();
    }
    if (area.isValid()) {
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void KvProgressDialog::SetRange(int lower, int upper) {
    m_ProgressCtrl.SetRange(lower, upper);
}

void KvProgressDialog::SetPos(int pos) {
    m_ProgressCtrl.SetPos(pos);
    ZQT_PumpMessages();
}

void KvProgressDialog::SetCaption(const QString& caption) {
    if (!caption.isNull()) {
        setWindowTitle(caption);
    }
}

void KvProgressDialog::SetStartTime() {
    m_ProgressCtrl.SetStartTime();
}

void KvProgressDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
}

CSingleProgressDlg::CSingleProgressDlg(QWidget* parent) : KvProgressDialog(parent) {
    setFixedSize(kv::DluSize(this, 309, 29));
    m_ProgressCtrl.setGeometry(kv::DluRect(this, 7, 7, 295, 14));
}
