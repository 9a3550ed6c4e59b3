#include "controls/TooltipDlg.h"

#include "controls/DialogUnits.h"

CTooltipDlg::CTooltipDlg(QWidget* parent) : KvDialog(parent), m_Text(this) {
    setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAutoFillBackground(true);
    m_Text.setAlignment(Qt::AlignCenter);
    resize(kv::DluSize(this, 49, 8));
}

int CTooltipDlg::Create() {
    hide();
    return 1;
}

void CTooltipDlg::DestroyWindow() {
    hide();
}

void CTooltipDlg::SetBackgroundColor(COLORREF color) {
    QPalette p = palette();
    p.setColor(QPalette::Window, kv::ToQColor(color));
    setPalette(p);
}

void CTooltipDlg::SetText(const QString& text) {
    m_Text.setText(text);
}

void CTooltipDlg::resizeEvent(QResizeEvent* event) {
    m_Text.setGeometry(rect());
    KvDialog::resizeEvent(event);
}
