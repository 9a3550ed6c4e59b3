// The layers' records in the project archive: what each version holds, and what a read layer
// takes from it.
#include <QBuffer>

#include <gtest/gtest.h>

#include "platform/cad/Cad.h"
#include "raster/ArchiveStream.h"
#include "raster/DEM.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"

namespace {

struct Drawing {
    Drawing() : cad(CadCreate()) {}
    ~Drawing() { CadDelete(cad); }
    CadEntity* Polyline(double x) {
        CadClearVertices();
        CadAddVertex(x, 0.0, 0.0);
        CadAddVertex(x + 1.0, 0.0, 0.0);
        CadAddVertex(x + 1.0, 1.0, 0.0);
        return CadAddPolyline(cad, 0, 1);
    }
    CadDrawing* cad;
};

// Bytes written by f(writer).
template <typename F>
QByteArray Bytes(F&& f) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    kv::ArchiveWriter out(&buffer);
    f(out);
    EXPECT_TRUE(out.Ok());
    return buffer.data();
}

// Runs f(reader) over the bytes and answers whether all of them were consumed.
template <typename F>
bool ReadAll(const QByteArray& bytes, F&& f) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    kv::ArchiveReader in(&buffer);
    f(in);
    return in.Ok() && in.Remaining() == 0;
}

// A DEM record as an archive of the version lays it out.
QByteArray OldDemRecord(int version, const std::vector<uint32_t>& ids) {
    return Bytes([&](kv::ArchiveWriter& out) {
        out.WriteDouble(12.5);
        out.WriteDouble(480.0);
        out.WriteString("hill.tif");
        out.WriteString("/data/Survey/hill.tif");
        if (version >= 4) {
            out.WriteUInt64(ids.size());
            for (uint32_t id : ids) {
                out.WriteUInt32(id);
            }
        }
    });
}

}  // namespace

TEST(SerializeDem, RoundTripKeepsEveryArchivedField) {
    Drawing d;
    CadEntity* first = d.Polyline(0.0);
    CadEntity* second = d.Polyline(5.0);
    CDEM dem(nullptr);
    dem.m_minElevation = -3.25;
    dem.m_maxElevation = 1234.5;
    dem.m_name = "hill.tif";
    dem.m_path = "/data/Survey/Hill.v2.tif";
    dem.SeamlinePolylines = {second, nullptr, first};
    dem.m_colorRangeMin = 10.0;
    dem.m_colorRangeMax = 900.0;
    dem.m_colors.Set_Palette(7, true, 40);
    dem.m_colors.m_bInvert = true;

    QByteArray bytes = Bytes([&](kv::ArchiveWriter& out) { EXPECT_EQ(dem.Serialize(out), 1); });
    // Both elevations, two texts, count and two ids, the colour block.
    EXPECT_EQ(bytes.size(), 16 + 9 + 25 + 8 + 8 + 26);

    CDEM back(nullptr);
    ASSERT_TRUE(ReadAll(bytes, [&](kv::ArchiveReader& in) { EXPECT_EQ(back.Serialize(in, 6, d.cad), 1); }));
    EXPECT_EQ(back.m_minElevation, -3.25);
    EXPECT_EQ(back.m_maxElevation, 1234.5);
    EXPECT_EQ(back.m_name, "hill.tif");
    EXPECT_EQ(back.m_path, "/data/Survey/Hill.v2.tif");
    EXPECT_EQ(back.m_maskPath, "/data/Survey/Hill.v2_mask.tif");
    EXPECT_EQ(back.SeamlinePolylines, (CadEntityList{second, first}));
    EXPECT_EQ(back.m_colorRangeMin, 10.0);
    EXPECT_EQ(back.m_colorRangeMax, 900.0);
    EXPECT_EQ(back.m_colors.m_paletteIndex, 7);
    EXPECT_EQ(back.m_colors.m_colorCount, 40);
    EXPECT_TRUE(back.m_colors.m_bRevert);
    EXPECT_TRUE(back.m_colors.m_bInvert);
    EXPECT_EQ(back.m_colors.Get_Count(), 40);
    EXPECT_EQ(back.m_colorRangePending, 0);
    EXPECT_EQ(back.ArchiveRecord(), dem.ArchiveRecord());
}

TEST(SerializeDem, OlderVersionsReadOnlyTheirBlocks) {
    Drawing d;
    CadEntity* kept = d.Polyline(0.0);
    const uint32_t keptId = static_cast<uint32_t>(CadEntityGetID(kept));

    // Version 1: no linked entities, no colours.
    CDEM v1(nullptr);
    ASSERT_TRUE(ReadAll(OldDemRecord(1, {}),
                        [&](kv::ArchiveReader& in) { EXPECT_EQ(v1.Serialize(in, 1, d.cad), 1); }));
    EXPECT_EQ(v1.m_path, "/data/Survey/hill.tif");
    EXPECT_TRUE(v1.SeamlinePolylines.empty());

    // Version 4: linked entities (an id the drawing does not hold is dropped), still no colours:
    // the default palette, and the range taken from the elevations once the document asks.
    CDEM v4(nullptr);
    ASSERT_TRUE(ReadAll(OldDemRecord(4, {99999, keptId}),
                        [&](kv::ArchiveReader& in) { EXPECT_EQ(v4.Serialize(in, 4, d.cad), 1); }));
    EXPECT_EQ(v4.SeamlinePolylines, (CadEntityList{kept}));
    EXPECT_EQ(v4.m_colors.m_paletteIndex, 0);
    EXPECT_EQ(v4.m_colors.m_colorCount, 100);
    EXPECT_EQ(v4.m_colors.Get_Count(), 100);
    EXPECT_FALSE(v4.m_colors.m_bRevert);
    EXPECT_EQ(v4.m_colorRangePending, 1);
    v4.ApplyPendingColorRange();
    EXPECT_EQ(v4.m_colorRangeMin, 12.5);
    EXPECT_EQ(v4.m_colorRangeMax, 480.0);
    EXPECT_EQ(v4.m_colorRangePending, 0);

    // A layer of a version-6 file with the unset range keeps it as stored.
    CDEM v6(nullptr);
    DemArchiveRecord record = v6.ArchiveRecord();
    v6.ApplyArchiveRecord(record, d.cad);
    v6.ApplyPendingColorRange();
    EXPECT_EQ(v6.m_colorRangeMin, -9999.0);
    EXPECT_EQ(v6.m_colorRangeMax, 9999.0);
}

TEST(SerializeDem, DamagedRecordLeavesTheLayerAlone) {
    Drawing d;
    CDEM source(nullptr);
    source.m_name = "a.tif";
    QByteArray bytes = Bytes([&](kv::ArchiveWriter& out) { source.Serialize(out); });

    CDEM target(nullptr);
    target.m_name = "before.tif";
    ReadAll(bytes.left(bytes.size() - 1),
            [&](kv::ArchiveReader& in) { EXPECT_EQ(target.Serialize(in, 6, d.cad), 0); });
    EXPECT_EQ(target.m_name, "before.tif");

    // A linked-entity count that the rest of the file cannot hold.
    QByteArray absurd = OldDemRecord(4, {});
    absurd.chop(8);
    absurd += Bytes([](kv::ArchiveWriter& out) { out.WriteUInt64(0x4000000000000000ull); });
    ReadAll(absurd, [&](kv::ArchiveReader& in) { EXPECT_EQ(target.Serialize(in, 4, d.cad), 0); });
    EXPECT_EQ(target.m_name, "before.tif");

    // A colour count out of all reason gives the usual 100 colours instead of a huge palette.
    DemArchiveRecord record;
    record.colorCount = 2000000000;
    target.ApplyArchiveRecord(record, d.cad);
    EXPECT_EQ(target.m_colors.m_colorCount, 100);
}

TEST(SerializeOrtho, LinkedEntitiesFromVersionTwo) {
    Drawing d;
    CadEntity* line = d.Polyline(2.0);
    COrtho ortho(nullptr);
    ortho.m_name = "Tile 1.tif";
    ortho.m_path = "/data/Tile 1.tif";
    ortho.SeamlinePolylines = {line};
    QByteArray bytes = Bytes([&](kv::ArchiveWriter& out) { EXPECT_EQ(ortho.Serialize(out), 1); });

    COrtho back(nullptr);
    ASSERT_TRUE(ReadAll(bytes, [&](kv::ArchiveReader& in) { EXPECT_EQ(back.Serialize(in, 2, d.cad), 1); }));
    EXPECT_EQ(back.m_path, "/data/Tile 1.tif");
    EXPECT_EQ(back.SeamlinePolylines, (CadEntityList{line}));

    // A version-1 record is the two texts alone.
    QByteArray v1 = Bytes([](kv::ArchiveWriter& out) {
        out.WriteString("o.tif");
        out.WriteString("/o.tif");
    });
    COrtho old(nullptr);
    ASSERT_TRUE(ReadAll(v1, [&](kv::ArchiveReader& in) { EXPECT_EQ(old.Serialize(in, 1, d.cad), 1); }));
    EXPECT_EQ(old.m_name, "o.tif");
    EXPECT_TRUE(old.SeamlinePolylines.empty());
}

TEST(SerializeMap, KindTravelsAsItsStoredCode) {
    CMapData slope(nullptr);
    slope.m_name = "Slope";
    slope.m_path = "/maps/slope.tif";
    slope.m_mapType = MapTypeSlope;
    slope.m_colors.Set_Palette(9, false, 64);
    slope.m_pRangeMin = std::make_unique<double>(0.0);
    slope.m_pRangeMax = std::make_unique<double>(0.5);
    QByteArray bytes = Bytes([&](kv::ArchiveWriter& out) { EXPECT_EQ(slope.Serialize(out), 1); });
    EXPECT_EQ(bytes.size(), 6 + 16 + 4 + 4 + 1 + 4 + 16);

    CMapData back(nullptr);
    ASSERT_TRUE(ReadAll(bytes, [&](kv::ArchiveReader& in) { EXPECT_EQ(back.Serialize(in), 1); }));
    EXPECT_EQ(back.m_mapType, MapTypeSlope);
    EXPECT_EQ(back.m_storedCode, 3);
    EXPECT_EQ(back.m_colors.m_paletteIndex, 9);
    EXPECT_EQ(back.m_colors.m_colorCount, 64);
    ASSERT_TRUE(back.m_pRangeMin && back.m_pRangeMax);
    EXPECT_EQ(*back.m_pRangeMin, 0.0);
    EXPECT_EQ(*back.m_pRangeMax, 0.5);

    // A temperature map has no code of its own: it reads back as "other", and writing it leaves
    // the open layer's kind alone.
    CMapData temperature(nullptr);
    temperature.m_mapType = MapTypeTemperature;
    bytes = Bytes([&](kv::ArchiveWriter& out) { temperature.Serialize(out); });
    EXPECT_EQ(temperature.m_mapType, MapTypeTemperature);
    CMapData other(nullptr);
    ASSERT_TRUE(ReadAll(bytes, [&](kv::ArchiveReader& in) { EXPECT_EQ(other.Serialize(in), 1); }));
    EXPECT_EQ(other.m_mapType, MapTypeOther);
    EXPECT_FALSE(other.m_storedCode >= 0 && other.m_storedCode <= 4);
    // A map without a display range stores -9999 for both ends.
    EXPECT_EQ(*other.m_pRangeMin, -9999.0);
    EXPECT_EQ(*other.m_pRangeMax, -9999.0);
}
