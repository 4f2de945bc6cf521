#pragma once
// The parameters from which one preview window makes and saves its picture, and the
// colour, opacity and palette helpers that the engine and the settings pane share.
#include <array>
#include <cstdint>
#include <string>

// 0x00BBGGRR: red in the low byte.
using COLORREF = uint32_t;
// 0xAARRGGBB: what the raster code takes.
using ARGB = uint32_t;

constexpr COLORREF RGBColor(int r, int g, int b) {
    return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int GetRValue(COLORREF c) {
    return static_cast<int>(c & 0xFF);
}
constexpr int GetGValue(COLORREF c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int GetBValue(COLORREF c) {
    return static_cast<int>((c >> 16) & 0xFF);
}

// Only the low 8 bits of the alpha count; the COLORREF's top byte is ignored.
constexpr ARGB MakeArgb(COLORREF color, int32_t alpha) {
    return (static_cast<ARGB>(alpha & 0xFF) << 24) | (static_cast<ARGB>(GetRValue(color)) << 16) |
           (static_cast<ARGB>(GetGValue(color)) << 8) | static_cast<ARGB>(GetBValue(color));
}
constexpr COLORREF ArgbToColorref(ARGB c) {
    return RGBColor(static_cast<int>((c >> 16) & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                    static_cast<int>(c & 0xFF));
}

constexpr int kBackImagePathLength = 260;  // UTF-16 units, terminator included

struct ImageSettings {
    int32_t nWidth = 0;
    int32_t nHeight = 0;
    int32_t nResolution = 0;
    int32_t nQuality = 0;
    int32_t nBackMode = 0;
    COLORREF crBackColor = 0;
    COLORREF crGradColor1 = 0;
    COLORREF crGradColor2 = 0;
    int32_t nPolySize = 0;
    COLORREF crPolyColor = 0;
    int32_t nStartOpacity = 0;
    int32_t nEndOpacity = 0;
    COLORREF crLineColor = 0;
    int32_t nLineOpacity = 0;
    char16_t szBackImage[kBackImagePathLength] = {};

    // The path as a string, up to its terminator.
    std::u16string BackImagePath() const;
    // Copies at most 259 units and always terminates.
    void SetBackImagePath(std::u16string_view path);
};

bool operator==(const ImageSettings& a, const ImageSettings& b);

// Fills a record with the defaults a new preview window starts from (two palette picks).
void ApplyDefaultSettings(ImageSettings& settings);
// Same, returned by value.
ImageSettings DefaultSettings();

// p * 255 / 100 in floating point, truncated toward zero.
int32_t OpacityToAlpha(int32_t percent);

constexpr int kPaletteSize = 13;
extern const std::array<COLORREF, kPaletteSize> kPalette;
constexpr COLORREF kNoColor = 0xFFFFFFFF;

// A palette colour other than `excluded` (kNoColor: any). Reseeds the generator.
COLORREF PickPaletteColor(COLORREF excluded);

// Uniform integer between two bounds given in either order; consumes one generator value.
int32_t RandomBetween(int32_t lo, int32_t hi);

// Background modes; any other value is drawn like kBackSolid.
enum BackMode : int32_t {
    kBackSolid = 0,
    kBackLeftRight = 1,
    kBackLeftMiddleRight = 2,
    kBackTopBottom = 3,
    kBackTopMiddleBottom = 4,
    kBackTopLeftBottomRight = 5,
    kBackBottomLeftTopRight = 6,
    kBackTransparent = 7,  // no background: the triangles over transparent pixels
};
