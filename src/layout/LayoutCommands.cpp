#include "layout/LayoutCommands.h"

#include "document/KelvaroDoc.h"
#include "document/UserCommands.h"
#include "layout/SheetLayoutDlg.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/CommandIds.h"

void RegisterLayoutCommands(DocumentProcedureTable& procedures) {
    procedures.Supply(ID_DRAW_SHEETLAYOUT, RunSheetLayout);
}

void RunSheetLayout(CKelvaroDoc& doc) {
    CSheetLayoutDlg dialog(&doc);
    for (;;) {
        const int result = dialog.DoModal();
        if (result != CSheetLayoutDlg::IDR_PICK_LOWER_LEFT &&
            result != CSheetLayoutDlg::IDR_PICK_UPPER_RIGHT) {
            return;
        }
        double x = 0.0;
        double y = 0.0;
        double z = 0.0;
        if (!CadToolGetPickedPoint(doc.m_pCad, &x, &y, &z)) {
            continue;
        }
        const bool lowerLeft = result == CSheetLayoutDlg::IDR_PICK_LOWER_LEFT;
        const QString section = QString::fromLatin1(kSheetLayoutSection);
        ZQT_WriteUserProfileString(section,
                                   lowerLeft ? QStringLiteral("BottomLeftX") : QStringLiteral("TopRightX"),
                                   ZQT_DoubleToString(x, 3));
        ZQT_WriteUserProfileString(section,
                                   lowerLeft ? QStringLiteral("BottomLeftY") : QStringLiteral("TopRightY"),
                                   ZQT_DoubleToString(y, 3));
    }
}
