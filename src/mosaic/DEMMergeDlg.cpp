#include "mosaic/DEMMergeDlg.h"

#include <algorithm>

#include "controls/DialogUnits.h"
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
    : CTimedWorkDlg(parent),
      m_pDoc(doc),
      m_DEMs(dems),
      m_strOutputPath(outputPath),
      m_lblOverallMessage(this),
      m_lblStepMessage(this),
      m_lblOverallPercent(this),
      m_lblStepPercent(this),
      m_progressOverall(this),
      m_progressStep(this) {
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
    for (KvProgressBar* bar : {&m_progressOverall, &m_progressStep}) {
        bar->setTextVisible(false);
    }
    // The button says that the merge is stopping; it stops at its next check.
    connect(&m_btnAbort, &QPushButton::clicked, this,
            [this] { m_btnAbort.setText(QStringLiteral("Aborting..")); });
}

bool CDEMMergeDlg::OnInitDialog() {
    for (QLabel* label : {&m_lblOverallMessage, &m_lblStepMessage, &m_lblOverallPercent, &m_lblStepPercent}) {
        label->clear();
    }
    for (KvProgressBar* bar : {&m_progressOverall, &m_progressStep}) {
        bar->SetRange(0, 100);
        bar->SetPos(0);
    }
    ZQT_PumpMessages();
    return CTimedWorkDlg::OnInitDialog();
}

int CDEMMergeDlg::StartDelay() const {
    return g_startDelayMs;
}

bool CDEMMergeDlg::RunWork() {
    m_bAbort = 0;
    if (!MergeDEMs(m_pDoc, m_DEMs, m_strOutputPath, &m_lblOverallMessage, &m_lblOverallPercent,
                   &m_progressOverall, &m_lblStepMessage, &m_lblStepPercent, &m_progressStep, &m_bAbort)) {
        return false;
    }
    KvMessageBox(QStringLiteral("Process completed"), MB_OK | MB_ICONINFORMATION);
    return true;
}
