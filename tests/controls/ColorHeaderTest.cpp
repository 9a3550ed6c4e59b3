#include <QStandardItemModel>
#include <QTableView>

#include <gtest/gtest.h>

#include "controls/ColorHeaderCtrl.h"
#include "support/Pictures.h"
#include "support/TestEnv.h"

TEST(CColorHeaderCtrl, TitleIsBlackOnLightColoursWhiteOnDarkOnes) {
    CColorHeaderCtrl header;
    header.SetColumnColor(0, kv::Rgb(255, 255, 0));
    header.SetColumnColor(1, kv::Rgb(128, 128, 128));
    header.SetColumnColor(2, kv::Rgb(128, 128, 127));
    EXPECT_EQ(header.GetTitleColor(0), kv::Rgb(0, 0, 0));
    EXPECT_EQ(header.GetTitleColor(1), kv::Rgb(0, 0, 0));
    EXPECT_EQ(header.GetTitleColor(2), kv::Rgb(255, 255, 255));
    EXPECT_EQ(header.GetColumnColor(7), 0u);
    header.SetColumnColor(-1, kv::Rgb(1, 2, 3));
    EXPECT_FALSE(header.HasColumnColor(-1));
}

TEST(CColorHeaderCtrl, RemovingAColumnMovesTheLaterColoursDown) {
    const COLORREF c0 = kv::Rgb(10, 0, 0), c1 = kv::Rgb(0, 20, 0), c2 = kv::Rgb(0, 0, 30);
    CColorHeaderCtrl header;
    header.SetColumnColor(0, c0);
    header.SetColumnColor(1, c1);
    header.SetColumnColor(2, c2);
    EXPECT_NE(header.RemoveColumnColor(1), 0);
    EXPECT_EQ(header.GetColumnColor(0), c0);
    EXPECT_EQ(header.GetColumnColor(1), c2);
    EXPECT_FALSE(header.HasColumnColor(2));

    // Beyond the highest coloured column, or negative: nothing is removed.
    EXPECT_EQ(header.RemoveColumnColor(5), 0);
    EXPECT_EQ(header.RemoveColumnColor(-1), 0);
    EXPECT_EQ(header.GetColumnColor(1), c2);

    // A column without a colour between moves down like the others.
    CColorHeaderCtrl gaps;
    gaps.SetColumnColor(0, c0);
    gaps.SetColumnColor(3, c2);
    EXPECT_NE(gaps.RemoveColumnColor(1), 0);
    EXPECT_EQ(gaps.GetColumnColor(0), c0);
    EXPECT_FALSE(gaps.HasColumnColor(1));
    EXPECT_EQ(gaps.GetColumnColor(2), c2);
    EXPECT_FALSE(gaps.HasColumnColor(3));
    EXPECT_NE(gaps.RemoveColumnColor(2), 0);  // the last coloured one
    EXPECT_FALSE(gaps.HasColumnColor(2));
    EXPECT_EQ(gaps.RemoveColumnColor(0), 1);
    EXPECT_EQ(gaps.RemoveColumnColor(0), 0);  // nothing left
}

TEST(CColorHeaderCtrl, Screenshot) {
    QStandardItemModel model(0, 4);
    model.setHorizontalHeaderLabels({"0.00", "25.50", "51.00", "A long title that does not fit"});
    QTableView table;
    auto* header = new CColorHeaderCtrl(&table);
    table.setHorizontalHeader(header);
    table.setModel(&model);
    header->SetColumnColor(0, kv::Rgb(255, 255, 0));
    header->SetColumnColor(1, kv::Rgb(128, 128, 127));
    header->SetColumnColor(2, kv::Rgb(30, 120, 200));
    header->SetColumnColor(3, kv::Rgb(236, 232, 117));
    for (int c = 0; c < 4; ++c) {
        table.setColumnWidth(c, 90);
    }
    table.resize(400, 60);
    table.show();
    // Every section is filled with its column's colour.
    const QImage shot = kvtest::Screenshot(&table, "CColorHeaderCtrl");
    const QColor colours[4] = {QColor(255, 255, 0), QColor(128, 128, 127), QColor(30, 120, 200),
                               QColor(236, 232, 117)};
    for (int c = 0; c < 4; ++c) {
        const QPoint at = header->mapTo(&table, QPoint(header->sectionViewportPosition(c), 0));
        const QRect section(at, QSize(header->sectionSize(c), header->height()));
        EXPECT_GT(kvtest::ColourShare(shot, colours[c], section.intersected(shot.rect())), 0.5) << c;
    }
}
