// The classification editor's geometry without a window: a strip of W = 400 pixels over the
// values -1 to 1, its columns, the palette entries rewritten after every change and the menu.
#include <gtest/gtest.h>

#include <numeric>

#include "products/ColorRangeModel.h"
#include "raster/AGColors.h"

namespace {

class ColorRangeModelTest : public ::testing::Test {
protected:
    void SetUp() override { Bind(400); }
    void Bind(int width) {
        palette.Set_Palette(12, false, 11);  // "Red-Green"
        palette.m_classes.clear();
        model.Bind(
            &palette, [this] { ++changes; }, width);
        model.SetRange(-1.0f, 1.0f);
        model.DeleteAllColumns();
        model.AddRange();
        model.AddRange();
    }
    // One entry per column, limits from its edges, colours from its column, in order; and the
    // colours are those of a ramp of the palette with one colour per column.
    void ExpectPaletteMatchesColumns() const {
        ASSERT_EQ(palette.m_classes.size(), size_t(model.Count()));
        CAGColors ramp(model.Count(), palette.m_paletteIndex, palette.m_bRevert);
        int left = 0;
        for (int i = 0; i < model.Count(); ++i) {
            const ColorClassEntry& e = palette.m_classes[size_t(i)];
            const int right = left + model.Widths()[size_t(i)];
            EXPECT_EQ(e.lowerLimit, float(model.PixelToValue(left))) << i;
            EXPECT_EQ(e.upperLimit, float(model.PixelToValue(right))) << i;
            EXPECT_EQ(e.color, model.Colors()[size_t(i)]) << i;
            EXPECT_EQ(e.color, uint32_t(ramp.Get_Color(i)) & 0xFFFFFFu) << i;
            left = right;
        }
        EXPECT_EQ(left, model.Width());
    }
    static bool Offers(const std::vector<ColorRangeModel::MenuItem>& menu, int id) {
        return std::any_of(menu.begin(), menu.end(), [id](const auto& item) { return item.id == id; });
    }

    CAGColors palette;
    ColorRangeModel model;
    int changes = 0;
};

}  // namespace

TEST_F(ColorRangeModelTest, PixelsAndValuesTruncateAndClampAtTheEnds) {
    EXPECT_EQ(model.ValueToPixel(-1.0), 0);
    EXPECT_EQ(model.ValueToPixel(-2.0), 0);
    EXPECT_EQ(model.ValueToPixel(1.0), 400);
    EXPECT_EQ(model.ValueToPixel(5.0), 400);
    EXPECT_EQ(model.ValueToPixel(0.0049), 200);  // 200.98 truncated
    EXPECT_EQ(model.ValueToPixel(-0.4999), 100);
    EXPECT_EQ(model.ValueToPixel(0.7437), 348);  // 348.74
    EXPECT_DOUBLE_EQ(model.PixelToValue(-3), -1.0);
    EXPECT_DOUBLE_EQ(model.PixelToValue(100), -0.5);
    EXPECT_DOUBLE_EQ(model.PixelToValue(401), 1.0);
    // A limit stored as a float comes back to the pixel it was written from.
    for (int p = 1; p < 400; ++p) {
        EXPECT_EQ(model.ValueToPixel(float(model.PixelToValue(p))), p) << p;
    }
    model.SetRange(0.5f, 0.5f);
    EXPECT_EQ(model.ValueToPixel(0.7), 0);
    EXPECT_EQ(model.PixelToValue(200), 0.0);
    EXPECT_EQ(model.HeaderText(1), "0.000");
}

TEST_F(ColorRangeModelTest, TwoDefaultRangesSplitTheStripTheSecondTakingAnOddPixel) {
    EXPECT_EQ(model.Widths(), (std::vector<int>{200, 200}));
    EXPECT_EQ(model.HeaderText(0), "-1.000");
    EXPECT_EQ(model.HeaderText(1), "0.000");
    ExpectPaletteMatchesColumns();
    Bind(401);
    EXPECT_EQ(model.Widths(), (std::vector<int>{200, 201}));
    ExpectPaletteMatchesColumns();
}

TEST_F(ColorRangeModelTest, ThresholdsSplitAtTheirPixelAndNothingAtMax) {
    ColorClassEntry entry;
    entry.lowerLimit = 0.5f;
    entry.tooltip = "high";
    ASSERT_EQ(model.AddThresholdRange(entry), 1);
    EXPECT_EQ(model.Widths(), (std::vector<int>{200, 100, 100}));
    EXPECT_EQ(palette.m_classes[2].tooltip, "high");
    ExpectPaletteMatchesColumns();

    entry.lowerLimit = 1.0f;
    EXPECT_EQ(model.AddThresholdRange(entry), 0);
    entry.lowerLimit = 3.0f;
    EXPECT_EQ(model.AddThresholdRange(entry), 0);
    EXPECT_EQ(model.Count(), 3);

    // At or below min: a first range of no width.
    entry.lowerLimit = -1.0f;
    ASSERT_EQ(model.AddThresholdRange(entry), 1);
    EXPECT_EQ(model.Widths(), (std::vector<int>{0, 200, 100, 100}));
    ExpectPaletteMatchesColumns();
}

TEST_F(ColorRangeModelTest, ADragLeavingARangeUnderFivePixelsIsUndoneAsAWhole) {
    model.AddRange(300);
    ASSERT_EQ(model.Widths(), (std::vector<int>{200, 100, 100}));
    // The first divider dragged to 296: the second range would keep 4 pixels.
    changes = 0;
    model.TrackDivider(0, 296);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(palette.m_classes[0].upperLimit, float(model.PixelToValue(296)));
    EXPECT_EQ(model.Widths(), (std::vector<int>{200, 100, 100}));  // the columns stay while tracking
    model.SetColumnWidth(0, 296);
    model.NormalizeColumnWidths(0);
    EXPECT_EQ(model.Widths(), (std::vector<int>{200, 100, 100}));
    ExpectPaletteMatchesColumns();
    // To 295 the second keeps 5: accepted, and the sum stays W.
    model.SetColumnWidth(0, 295);
    model.NormalizeColumnWidths(0);
    EXPECT_EQ(model.Widths(), (std::vector<int>{295, 5, 100}));
    EXPECT_EQ(model.StoredWidths(), model.Widths());
    ExpectPaletteMatchesColumns();
}

TEST_F(ColorRangeModelTest, ARescaleUnderFivePixelsFailsAndKeepsW) {
    model.AddRange(390);
    ASSERT_EQ(model.Widths(), (std::vector<int>{200, 190, 10}));
    EXPECT_FALSE(model.ScaleColumnWidths(0.4, 160));
    EXPECT_EQ(model.Width(), 400);
    EXPECT_EQ(model.Widths(), (std::vector<int>{200, 190, 10}));
    EXPECT_TRUE(model.ScaleColumnWidths(1.5, 600));
    EXPECT_EQ(model.Width(), 600);
    EXPECT_EQ(model.Widths(), (std::vector<int>{300, 285, 15}));
}

TEST_F(ColorRangeModelTest, RemovingARangeSpreadsTheRestEvenly) {
    model.AddRange(100);
    model.AddRange(390);
    ASSERT_EQ(model.Widths(), (std::vector<int>{100, 100, 190, 10}));
    model.RemoveRange(1, true);
    EXPECT_EQ(model.Widths(), (std::vector<int>{133, 133, 134}));
    ASSERT_EQ(palette.m_classes.size(), 3u);
    for (const ColorClassEntry& e : palette.m_classes) {
        EXPECT_EQ(e.visible, 1);
    }
    EXPECT_EQ(std::accumulate(model.Widths().begin(), model.Widths().end(), 0), 400);
}

TEST_F(ColorRangeModelTest, TheMenuOffersWhatTheRangesAllow) {
    auto menu = model.ContextMenuItems(100);
    ASSERT_FALSE(menu.empty());
    EXPECT_EQ(menu[0].text, "Add range here (-0.500000)");
    EXPECT_TRUE(Offers(menu, ColorRangeModel::ID_VIEW_ONLY));
    EXPECT_FALSE(Offers(menu, ColorRangeModel::ID_VIEW_ALL));
    EXPECT_TRUE(Offers(menu, ColorRangeModel::ID_REMOVE_RANGE));

    model.ShowOnlyRange(1);
    EXPECT_EQ(palette.m_classes[0].visible, 0);
    EXPECT_EQ(palette.m_classes[1].visible, 1);
    menu = model.ContextMenuItems(100);
    EXPECT_TRUE(Offers(menu, ColorRangeModel::ID_VIEW_ALL));
    EXPECT_FALSE(Offers(menu, ColorRangeModel::ID_VIEW_ONLY));
    model.ShowAllRanges();

    model.RemoveRange(0, true);
    menu = model.ContextMenuItems(100);
    EXPECT_FALSE(Offers(menu, ColorRangeModel::ID_REMOVE_RANGE));
    EXPECT_EQ(model.Widths(), std::vector<int>{400});
}
