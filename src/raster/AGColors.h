// The palette that every DEM and map layer carries: a colour ramp plus the settings that rebuild
// it (palette index, colour count, revert and invert) and the classes of the colour
// classification, with its ".ccl" file.
#pragma once

#include <saga_api/saga_api.h>

#include <QString>

#include <cstdint>
#include <vector>

// One class of a classification: values above the previous class's upper limit and up to this
// one's take its colour.
struct ColorClassEntry {
    float upperLimit = 0.0f;  // value at the class's right bound
    float lowerLimit = 0.0f;  // value at its left bound
    uint32_t color = 0;       // 0x00BBGGRR
    int32_t visible = 1;      // 0: drawn transparent
    QString tooltip;          // shown as the class's tooltip
    QString text;

    bool operator==(const ColorClassEntry&) const = default;
};

// The palettes the program offers, in the order of its palette indices. These indices are what
// projects and ".ccl" files store.
inline constexpr int kPaletteCount = 27;
// The largest colour count a palette is built with; a stored count above it is damage.
inline constexpr int kMaxPaletteColors = 65536;
extern const char* const PaletteNames[kPaletteCount];

// The colour ramp of the SAGA API (an SG_COLORS_... value) behind a palette index of the program,
// or -1 for an index outside the program's list.
int SagaPaletteOf(int paletteIndex);

class CAGColors : public CSG_Colors {
public:
    // Current format version of the palette and of its ".ccl" file.
    static constexpr int kVersion = 100;

    CAGColors();
    CAGColors(int colorCount, int paletteIndex, bool revert);
    CAGColors(const CAGColors& other);
    ~CAGColors() override;

    // Takes the settings, colour count and classes of the source and rebuilds the ramp from them.
    virtual CAGColors& operator=(const CAGColors& source);

    // Builds the ramp from a palette index of the program (see PaletteNames) and records the
    // settings. This hides the base's function of the same name, whose indices are SAGA's own.
    bool Set_Palette(int paletteIndex, bool revert = false, int colorCount = 11);

    // Writes the ".ccl" file; the optional values describe the map the classification was made
    // for. Returns 1 on success, 0 for an empty path or after a file error (with a message).
    int Save(const QString& path, const int* mapType = nullptr, const double* minimum = nullptr,
             const double* maximum = nullptr) const;
    // Reads a ".ccl" file; when an expected map type is given, only a file made for that type is
    // taken. Returns 1 when the file was taken; otherwise 0 and this palette is unchanged.
    int Load(const QString& path, const int* expectedMapType = nullptr);

    bool m_bRevert = false;
    bool m_bInvert = false;
    int m_paletteIndex = 0;
    int m_colorCount = 0;
    std::vector<ColorClassEntry> m_classes;
    int m_version = kVersion;
};
