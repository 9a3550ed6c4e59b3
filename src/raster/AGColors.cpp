#include "raster/AGColors.h"

#include <QFile>

#include "platform/tools/SafeFile.h"
#include "platform/ui/Interaction.h"
#include "raster/ArchiveStream.h"

const char* const PaletteNames[kPaletteCount] = {
    "Default",        "Bright",          "Black-White",    "Black-Red",
    "Black-Green",    "Black-Blue",      "White-Red",      "White-Green",
    "White-Blue",     "Yellow-Red",      "Yellow-Green",   "Yellow-Blue",
    "Red-Green",      "Red-Blue",        "Green-Blue",     "Red-Grey-Blue",
    "Red-Grey-Green", "Green-Grey-Blue", "Red-Green-Blue", "Red-Blue-Green",
    "Green-Red-Blue", "Rainbow",         "Neon",           "Topography",
    "Aspect1",        "Aspect2",         "Aspect3",
};

int SagaPaletteOf(int paletteIndex) {
    // The program's list is the older SAGA list: SAGA has since put "green > red" before
    // "red > green" and two more topography ramps and "precipitation" before the aspect ramps.
    static const int kSaga[kPaletteCount] = {
        SG_COLORS_DEFAULT,        SG_COLORS_DEFAULT_BRIGHT, SG_COLORS_BLACK_WHITE,
        SG_COLORS_BLACK_RED,      SG_COLORS_BLACK_GREEN,    SG_COLORS_BLACK_BLUE,
        SG_COLORS_WHITE_RED,      SG_COLORS_WHITE_GREEN,    SG_COLORS_WHITE_BLUE,
        SG_COLORS_YELLOW_RED,     SG_COLORS_YELLOW_GREEN,   SG_COLORS_YELLOW_BLUE,
        SG_COLORS_RED_GREEN,      SG_COLORS_RED_BLUE,       SG_COLORS_GREEN_BLUE,
        SG_COLORS_RED_GREY_BLUE,  SG_COLORS_RED_GREY_GREEN, SG_COLORS_GREEN_GREY_BLUE,
        SG_COLORS_RED_GREEN_BLUE, SG_COLORS_RED_BLUE_GREEN, SG_COLORS_GREEN_RED_BLUE,
        SG_COLORS_RAINBOW,        SG_COLORS_NEON,           SG_COLORS_TOPOGRAPHY,
        SG_COLORS_ASPECT_1,       SG_COLORS_ASPECT_2,       SG_COLORS_ASPECT_3,
    };
    if (paletteIndex < 0 || paletteIndex >= kPaletteCount) {
        return -1;
    }
    return kSaga[paletteIndex];
}

CAGColors::CAGColors() : m_colorCount(Get_Count()) {}

CAGColors::CAGColors(int colorCount, int paletteIndex, bool revert) {
    Set_Palette(paletteIndex, revert, colorCount);
}

CAGColors::CAGColors(const CAGColors& other) : CSG_Colors() {
    *this = other;
}

CAGColors::~CAGColors() = default;

CAGColors& CAGColors::operator=(const CAGColors& source) {
    if (this == &source) {
        return *this;
    }
    CSG_Colors::operator=(source);
    m_bRevert = source.m_bRevert;
    m_bInvert = source.m_bInvert;
    m_paletteIndex = source.m_paletteIndex;
    m_version = source.m_version;
    m_colorCount = Get_Count();
    Set_Palette(m_paletteIndex, m_bRevert, m_colorCount);
    if (m_bInvert) {
        Invert();
    }
    m_classes = source.m_classes;
    return *this;
}

bool CAGColors::Set_Palette(int paletteIndex, bool revert, int colorCount) {
    m_paletteIndex = paletteIndex;
    m_bRevert = revert;
    // Built afresh, so that the colours depend on the settings alone and not on the ramp before.
    int saga = SagaPaletteOf(paletteIndex);
    bool built = saga >= 0 && colorCount > 0 && colorCount <= kMaxPaletteColors &&
                 CSG_Colors::Create(colorCount, saga, revert);
    m_colorCount = Get_Count();
    return built;
}

namespace {

// Smallest stored class entry: two floats, colour, visible flag and two empty texts.
constexpr qint64 kMinClassBytes = 4 + 4 + 4 + 4 + 1 + 1;

int ReadingError() {
    KvMessageBox(QStringLiteral("File reading error"), MB_OK | MB_ICONERROR);
    return 0;
}

}  // namespace

int CAGColors::Save(const QString& path, const int* mapType, const double* minimum,
                    const double* maximum) const {
    if (path.isEmpty()) {
        return 0;
    }
    // The file is written beside its final name and renamed into place only when complete.
    kv::SafeFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        KvMessageBox(QStringLiteral("File writing error"), MB_OK | MB_ICONERROR);
        return 0;
    }
    kv::ArchiveWriter out(&file);
    out.WriteInt32(m_version);
    out.WriteBool(m_bInvert);
    out.WriteBool(m_bRevert);
    out.WriteInt32(m_paletteIndex);
    out.WriteInt32(static_cast<int32_t>(m_classes.size()));
    for (const ColorClassEntry& c : m_classes) {
        out.WriteFloat(c.upperLimit);
        out.WriteFloat(c.lowerLimit);
        out.WriteUInt32(c.color);
        out.WriteInt32(c.visible);
        out.WriteString(c.tooltip);
        out.WriteString(c.text);
    }
    out.WriteBool(mapType != nullptr);
    if (mapType) {
        out.WriteInt32(*mapType);
    }
    out.WriteBool(minimum != nullptr);
    if (minimum) {
        out.WriteDouble(*minimum);
    }
    out.WriteBool(maximum != nullptr);
    if (maximum) {
        out.WriteDouble(*maximum);
    }
    if (!out.Ok() || !file.commit()) {
        KvMessageBox(QStringLiteral("File writing error"), MB_OK | MB_ICONERROR);
        return 0;
    }
    return 1;
}

int CAGColors::Load(const QString& path, const int* expectedMapType) {
    if (path.isEmpty()) {
        return 0;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return ReadingError();
    }
    kv::ArchiveReader in(&file);
    int version = in.ReadInt32();
    if (!in.Ok()) {
        return ReadingError();
    }
    if (version > kVersion) {
        return 0;
    }
    // The scratch palette starts as this one, so that the colour count, which the file does not
    // store, stays the count of the layer the file is loaded onto.
    CAGColors scratch(*this);
    scratch.m_version = version;
    scratch.m_bInvert = in.ReadBool();
    scratch.m_bRevert = in.ReadBool();
    scratch.m_paletteIndex = in.ReadInt32();
    int32_t count = in.ReadInt32();
    if (!in.Ok() || SagaPaletteOf(scratch.m_paletteIndex) < 0 || count < 0 ||
        count > in.Remaining() / kMinClassBytes) {
        return ReadingError();
    }
    scratch.m_classes.clear();
    scratch.m_classes.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count && in.Ok(); ++i) {
        ColorClassEntry c;
        c.upperLimit = in.ReadFloat();
        c.lowerLimit = in.ReadFloat();
        c.color = in.ReadUInt32();
        c.visible = in.ReadInt32();
        c.tooltip = in.ReadString();
        c.text = in.ReadString();
        scratch.m_classes.push_back(std::move(c));
    }
    bool hasMapType = in.ReadBool();
    int32_t mapType = hasMapType ? in.ReadInt32() : 0;
    // The map's minimum and maximum are stored for the classification tool's information only.
    if (in.ReadBool()) {
        in.ReadDouble();
    }
    if (in.ReadBool()) {
        in.ReadDouble();
    }
    if (!in.Ok()) {
        return ReadingError();
    }
    if (expectedMapType && (!hasMapType || mapType != *expectedMapType)) {
        return 0;
    }
    *this = scratch;
    return 1;
}
