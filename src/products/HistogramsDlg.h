// The frequency histogram of a classified map: how many cells of the map fall into each class of
// its classification, one bar per class in the class colour, scaled to the most frequent class
// and labelled with the count and, when asked, the class bounds. The graph can be saved as a BMP
// picture.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <cstdint>
#include <vector>

#include "controls/ButtonST.h"
#include "controls/GraphCtrl.h"
#include "platform/ui/KvDialog.h"
#include "raster/AGColors.h"

class CMapData;

// The cells of the map in each class: a value v belongs to the first class (in palette order)
// with lower < v <= upper, the first class also taking v = lower; values in no class, the no-data
// value and NaN are not counted. The values come from the map's grid in memory when it holds one
// (no data -9999), otherwise from band 1 read in blocks (its no-data value, -9999 when it declares
// none). False when the band cannot be read.
bool CountClassFrequencies(const CMapData& map, const std::vector<ColorClassEntry>& classes,
                           std::vector<int64_t>* counts);

class CHistogramsDlg : public KvDialog {
    Q_OBJECT
public:
    static constexpr int kMinWidth = 385;
    static constexpr int kMinHeight = 250;

    explicit CHistogramsDlg(CMapData* map, QWidget* parent = nullptr);

    // Rebuilds the bars from the class counts: heights count x 100 / the largest count (integer
    // division), labels "%d [%.*f,%.*f]" with the bounds, or the count alone. A map without any
    // counted cell leaves the graph as it is.
    void FillHistogram(bool showBounds, int decimals);
    // The check box or the decimals changed.
    void OnOptionsChanged();
    // Saves the graph as a BMP picture chosen with the save chooser.
    void OnBnClickedSave();

    CGraphCtrl m_Graph;       // 1653
    QCheckBox m_chkClasses;   // 1584
    QLabel m_lblDecimals;     // 1655
    QComboBox m_cmbDecimals;  // 1654
    CButtonST m_btnSave;      // 1027
    QPushButton m_btnOK;      // 1
    QPushButton m_btnCancel;  // 2

protected:
    bool OnInitDialog() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void LayoutGraph();

    CMapData* m_pMap;
    // Counted once, when first asked for.
    std::vector<int64_t> m_counts;
    bool m_bCounted = false;
    // The graph's margins to the client edges.
    int m_nLeft = 0;
    int m_nTop = 0;
    int m_nRight = 0;
    int m_nBottom = 0;
};
