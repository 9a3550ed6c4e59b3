#include "mosaic/DEMMergeDlg.h"

#include <QTimerEvent>

#include <algorithm>
#include <exception>
#include <new>

#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"

namespace {

int g_startDelayMs = 1000;

}  // namespace

void SetDemMergeDelay(int milliseconds) {
    g_startDelayMs = std::max(0, milliseconds);
}

CDEMMergeDlg::CDEMMergeDlg(CKelvaroDoc* doc, const std::vector<CDEM*>& dems, const QString& outputPath,
                           QWidget* parent)
    : KvDialog(parent),
      m_pDoc(doc),
      m_DEMs(dems),
      m_strOutputPath(outputPath),
      m_lblOverallMessage(this),
      m_lblStepMessage(this),
      m_lblOverallPercent(this),
      m_lblStepPercent(this),
      m_progressOverall(this),
      m_progressStep(this),
      m_btnAbort(QStringLiteral("Abort"), this) {
    setWindowTitle(QStringLiteral("Kelvaro - DEM Merge"));
    setFixedSize(kv::DluSize(this, 309, 82));
    m_lblOverallMessage.setGeometry(kv::DluRect(this, 7, 7, 250, 10));
    m_lblOverallPercent.setGeometry(kv::DluRect(this, 262, 7, 40, 10));
    m_lblOverallPercent.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_progressOverall.setGeometry(kv::DluRect(this, 7, 19, 295, 12));
    m_lblStepMessage.setGeometry(kv::DluRect(this, 7, 35, 250, 10));
    m_lblStepPercent.setGeometry(kv::DluRect(this, 262, 35, 40, 10));
    m_lblStepPercent.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_progressStep.setGeometry(kv::DluRect(this, 7, 47, 295, 12));
    m_btnAbort.setGeometry(kv::DluRect(this, 252, 63, 50, 14));
    m_btnAbort.setObjectName(QStringLiteral("abort"));
    for (KvProgressBar* bar : {&m_progressOverall, &m_progressStep}) {
        bar->setTextVisible(false);
    }
    connect(&m_btnAbort, &QPushButton::clicked, this, &CDEMMergeDlg::OnBnClickedAbort);
}

bool CDEMMergeDlg::OnInitDialog() {
    for (QLabel* label : {&m_lblOverallMessage, &m_lblStepMessage, &m_lblOverallPercent, &m_lblStepPercent}) {
        label->clear();
    }
    for (KvProgressBar* bar : {&m_progressOverall, &m_progressStep}) {
        bar->SetRange(0, 100);
        bar->SetPos(0);
    }
    m_btnAbort.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    ZQT_PumpMessages();
    m_nTimer = startTimer(g_startDelayMs);
    return true;
}

void CDEMMergeDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_nTimer) {
        OnTimer(kStartTimer);
        return;
    }
    KvDialog::timerEvent(event);
}

void CDEMMergeDlg::OnTimer(int id) {
    if (id != kStartTimer || m_bRunning) {
        return;
    }
    if (m_nTimer) {
        killTimer(m_nTimer);
        m_nTimer = 0;
    }
    m_bRunning = true;
    m_bAbort = 0;
    int merged = 0;
    // Nothing may leave an event handler by an exception: it reaches the operator here.
    try {
        merged =
            MergeDEMs(m_pDoc, m_DEMs, m_strOutputPath, &m_lblOverallMessage, &m_lblOverallPercent,
                      &m_progressOverall, &m_lblStepMessage, &m_lblStepPercent, &m_progressStep, &m_bAbort);
    } catch (const std::bad_alloc&) {
        KvMessageBox(QStringLiteral("DEM Merge: not enough memory"), MB_OK | MB_ICONERROR);
    } catch (const std::exception& e) {
        KvMessageBox(QStringLiteral("DEM Merge: %1").arg(QString::fromUtf8(e.what())), MB_OK | MB_ICONERROR);
    }
    m_bRunning = false;
    if (merged) {
        KvMessageBox(QStringLiteral("Process completed"), MB_OK | MB_ICONINFORMATION);
    }
    EndDialog(merged ? IDOK : IDCANCEL);
}

void CDEMMergeDlg::OnBnClickedAbort() {
    m_bAbort = 1;
    m_btnAbort.setText(QStringLiteral("Aborting.."));
    m_btnAbort.setEnabled(false);
    ZQT_PumpMessages();
}
