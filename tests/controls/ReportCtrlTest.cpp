#include <QHeaderView>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>

#include <gtest/gtest.h>

#include "controls/ReportCtrl.h"
#include "support/Pictures.h"
#include "support/TestEnv.h"

namespace {

QStringList Column(const CReportCtrl& list, int column) {
    QStringList texts;
    for (int r = 0; r < list.GetItemCount(); ++r) {
        texts << list.GetItemText(r, column);
    }
    return texts;
}

void ClickHeader(CReportCtrl& list, int column) {
    QHeaderView* header = list.header();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

// The list with a name column and a value column, shown so that clicks reach it.
struct Fixture {
    CReportCtrl list;
    Fixture(const QStringList& values) {
        list.InsertColumn(0, "Name", 120);
        list.InsertColumn(1, "Value", 80);
        for (int i = 0; i < values.size(); ++i) {
            const int row = list.InsertItem(list.GetItemCount(), QStringLiteral("row%1").arg(i));
            list.SetItemText(row, 1, values[i]);
        }
        list.resize(300, 200);
        list.show();
    }
};

}  // namespace

TEST(CReportCtrl, ComparisonRecognisesHexDecimalsDatesAndText) {
    EXPECT_LT(CReportCtrl::CompareTexts("9", "10"), 0);  // both hexadecimal
    EXPECT_GT(CReportCtrl::CompareTexts("a", "9"), 0);   // hexadecimal too
    EXPECT_LT(CReportCtrl::CompareTexts("9%", "12.5%"), 0);
    EXPECT_LT(CReportCtrl::CompareTexts("-2.5", "1e1"), 0);
    // "12.5 %" is not a number, so it is compared as text: '1' < '9'.
    EXPECT_LT(CReportCtrl::CompareTexts("12.5 %", "9%"), 0);
    // "0x1F" is not hexadecimal: text order puts it before "1" ('0' < '1').
    EXPECT_LT(CReportCtrl::CompareTexts("0x1F", "1"), 0);
    EXPECT_LT(CReportCtrl::CompareTexts("", "0"), 0);
    EXPECT_EQ(CReportCtrl::CompareTexts("abc", "abc"), 0);
    EXPECT_LT(CReportCtrl::CompareTexts("2023-01-05", "2023-11-30"), 0);
    EXPECT_LT(CReportCtrl::CompareTexts("1850-03-01", "1950-03-01"), 0);  // before 1899 too
    EXPECT_LT(CReportCtrl::CompareTexts("Gamma", "beta"), 0);             // case-sensitive text
}

TEST(CReportCtrl, HeaderClicksSortAscendingThenDescending) {
    Fixture f({"10", "9", "", "12.5%", "9%"});
    QSignalSpy sorted(&f.list, &CReportCtrl::Sorted);

    ClickHeader(f.list, 1);
    // Hexadecimal pairs decide "9" < "10"; the percentages and "10"/"9" mix kinds, where the
    // comparison is no strict order, so only the pairs that share a kind are checked.
    QStringList asc = Column(f.list, 1);
    EXPECT_EQ(asc.first(), "");
    EXPECT_LT(asc.indexOf("9"), asc.indexOf("10"));
    EXPECT_LT(asc.indexOf("9%"), asc.indexOf("12.5%"));
    EXPECT_EQ(f.list.GetSortColumn(), 1);
    EXPECT_TRUE(f.list.IsSortAscending());

    ClickHeader(f.list, 1);
    QStringList desc = Column(f.list, 1);
    EXPECT_EQ(desc.last(), "");
    EXPECT_GT(desc.indexOf("9"), desc.indexOf("10"));
    EXPECT_GT(desc.indexOf("9%"), desc.indexOf("12.5%"));
    EXPECT_FALSE(f.list.IsSortAscending());

    ASSERT_EQ(sorted.count(), 2);
    EXPECT_EQ(sorted[0], (QList<QVariant>{1, 1}));
    EXPECT_EQ(sorted[1], (QList<QVariant>{1, 0}));
    // The rows are written on the list's base colour.
    const QImage sortedShot = kvtest::Screenshot(&f.list, "CReportCtrl_sorted");
    const QRect rows(f.list.viewport()->mapTo(&f.list, QPoint(0, 0)), f.list.viewport()->size());
    EXPECT_GT(kvtest::ColourShare(sortedShot, f.list.palette().color(QPalette::Base), rows), 0.5);
    EXPECT_GT(kvtest::ColourShare(sortedShot, f.list.palette().color(QPalette::Text), rows, 96), 0.0);

    // Inserting a row forgets the order: the next click sorts ascending again.
    f.list.InsertItem(0, "new");
    f.list.SetItemText(0, 1, "5");
    ClickHeader(f.list, 1);
    EXPECT_TRUE(f.list.IsSortAscending());
    EXPECT_EQ(Column(f.list, 1).first(), "");
}

TEST(CReportCtrl, SortingMovesRecordsImagesAndSelectionWithTheRows) {
    Fixture f({"3", "1", "2"});
    f.list.SetImageListFromBitmap();
    ASSERT_GE(f.list.ImageList().size(), 3);
    int data[3] = {};
    for (int r = 0; r < 3; ++r) {
        f.list.SetItemDataPtr(r, &data[r]);
        f.list.SetItemImage(r, 1, r);
    }
    f.list.SetItemTextColor(0, kv::Rgb(219, 167, 27));
    f.list.topLevelItem(2)->setSelected(true);

    f.list.SortItems(1, true);
    EXPECT_EQ(Column(f.list, 0), (QStringList{"row1", "row2", "row0"}));
    EXPECT_EQ(f.list.GetItemDataPtr(0), &data[1]);
    EXPECT_EQ(f.list.GetItemDataPtr(2), &data[0]);
    EXPECT_EQ(f.list.GetItemImage(2, 1), 0);
    EXPECT_EQ(f.list.GetItemTextColor(2, 0), kv::Rgb(219, 167, 27));
    EXPECT_TRUE(f.list.topLevelItem(1)->isSelected());
    EXPECT_FALSE(f.list.topLevelItem(2)->isSelected());

    // A column outside the list, or a header that cannot be clicked, sorts nothing.
    f.list.SortItems(5, false);
    f.list.header()->setSectionsClickable(false);
    f.list.SortItems(1, false);
    EXPECT_EQ(Column(f.list, 0), (QStringList{"row1", "row2", "row0"}));
}

TEST(CReportCtrl, ColourRecordsFollowColumnsAndRows) {
    CReportCtrl list;
    list.InsertColumn(0, "Data name", 120);
    const COLORREF text = kv::ToColorRef(list.palette().color(QPalette::Text));
    const COLORREF back = kv::ToColorRef(list.palette().color(QPalette::Base));
    list.InsertItem(0, "dem.tif");
    list.InsertItem(1, "ortho.tif");
    list.SetItemTextColor(1, kv::Rgb(47, 179, 222));
    EXPECT_EQ(list.GetItemTextColor(0, 0), text);
    EXPECT_EQ(list.GetItemTextColor(1, 0), kv::Rgb(47, 179, 222));
    // A row outside the list colours every row.
    list.SetItemTextColor(-1, kv::Rgb(37, 186, 30));
    EXPECT_EQ(list.GetItemTextColor(0, 0), kv::Rgb(37, 186, 30));

    list.InsertColumn(0, "First", 50);
    list.InsertColumnColors(0);
    EXPECT_EQ(list.GetItemText(0, 1), "dem.tif");
    EXPECT_EQ(list.GetItemTextColor(0, 0), text);
    EXPECT_EQ(list.GetItemTextColor(0, 1), kv::Rgb(37, 186, 30));
    EXPECT_EQ(list.GetItemBkColor(0, 1), back);

    int dataset = 0;
    list.SetItemDataPtr(0, &dataset);
    list.ResetColumnColors();
    EXPECT_EQ(list.GetItemTextColor(0, 1), text);
    EXPECT_EQ(list.GetItemDataPtr(0), &dataset);  // the caller's pointer stays

    EXPECT_EQ(list.EndEdit(true), 0);
    EXPECT_EQ(list.DeleteAllItems(), 2);
    EXPECT_EQ(list.GetItemCount(), 0);
    EXPECT_EQ(list.GetItemDataPtr(0), nullptr);
}

TEST(CReportCtrl, CheckBoxClicksSelectTheRowAndTellTheOwnerSpaceDoesNothing) {
    Fixture f({"1", "2", "3"});
    f.list.SetCheckboxes(true);
    QSignalSpy checked(&f.list, &CReportCtrl::CheckChangedByClick);
    f.list.topLevelItem(0)->setSelected(true);

    QTreeWidgetItem* item = f.list.topLevelItem(2);
    QStyleOptionViewItem opt;
    opt.initFrom(f.list.viewport());
    opt.rect = f.list.visualItemRect(item);
    opt.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    opt.text = item->text(0);
    const QRect box = f.list.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, &f.list);

    QTest::mouseClick(f.list.viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_EQ(f.list.GetCheck(2), 1);
    ASSERT_EQ(checked.count(), 1);
    EXPECT_EQ(checked[0][0].toInt(), 2);
    EXPECT_EQ(f.list.selectedItems(), QList<QTreeWidgetItem*>{item});
    EXPECT_EQ(f.list.currentItem(), item);

    // A click on the text changes no check box and tells nothing.
    QTest::mouseClick(f.list.viewport(), Qt::LeftButton, {},
                      f.list.visualItemRect(f.list.topLevelItem(1)).center());
    EXPECT_EQ(checked.count(), 1);

    // The space bar toggles nothing.
    f.list.setCurrentItem(item);
    QTest::keyClick(f.list.viewport(), Qt::Key_Space);
    QTest::keyClick(&f.list, Qt::Key_Space);
    EXPECT_EQ(f.list.GetCheck(2), 1);
    EXPECT_EQ(checked.count(), 1);
}

TEST(CReportCtrl, Screenshot) {
    CReportCtrl list;
    list.SetImageListFromBitmap();
    list.InsertColumn(0, "Data name", 120);
    list.InsertColumn(1, "Chn 1", 60);
    list.InsertColumn(2, "Chn 2", 60);
    const struct {
        const char* name;
        COLORREF color;
        int bands;
    } rows[] = {{"dem.tif", kv::Rgb(219, 167, 27), 1},
                {"ortho.tif", kv::Rgb(47, 179, 222), 2},
                {"ndvi", kv::Rgb(37, 186, 30), 1}};
    for (const auto& r : rows) {
        const int row = list.InsertItem(list.GetItemCount(), r.name);
        list.SetItemTextColor(row, r.color);
        list.SetItemImage(row, 0, 2);
        for (int b = 1; b <= r.bands; ++b) {
            list.SetItemImage(row, b, 0);
        }
    }
    list.resize(280, 120);
    list.show();
    // Each name is written in its row's colour, and the band columns hold their icons.
    const QImage shot = kvtest::Screenshot(&list, "CReportCtrl_raster_list");
    const QPoint origin = list.viewport()->mapTo(&list, QPoint(0, 0));
    for (int row = 0; row < 3; ++row) {
        const QRect line = list.visualItemRect(list.topLevelItem(row)).translated(origin);
        const QRect name(origin.x(), line.top(), 120, line.height());
        const QRect band1(origin.x() + 120, line.top(), 60, line.height());
        EXPECT_GT(kvtest::ColourShare(shot, kv::ToQColor(rows[row].color), name, 40), 0.0) << rows[row].name;
        EXPECT_GT(kvtest::ColourCount(shot, band1), 2) << rows[row].name;
    }
}
