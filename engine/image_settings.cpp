#include "image_settings.h"

#include <algorithm>
#include <cstring>

#include "random.h"

const std::array<COLORREF, kPaletteSize> kPalette = {
    0x003EDAFE, 0x009866CC, 0x00AD6908, 0x000083FF, 0x00B8867A, 0x003351F0, 0x00E0A92A,
    0x0045BF71, 0x00390EEF, 0x00D7799E, 0x00FED400, 0x00FFC846, 0x00FFDA28,
};

std::u16string ImageSettings::BackImagePath() const {
    const char16_t* end = std::find(szBackImage, szBackImage + kBackImagePathLength, u'\0');
    return std::u16string(szBackImage, end);
}

void ImageSettings::SetBackImagePath(std::u16string_view path) {
    const size_t n = std::min<size_t>(path.size(), kBackImagePathLength - 1);
    std::fill(std::begin(szBackImage), std::end(szBackImage), u'\0');
    std::copy_n(path.data(), n, szBackImage);
}

bool operator==(const ImageSettings& a, const ImageSettings& b) {
    return a.nWidth == b.nWidth && a.nHeight == b.nHeight && a.nResolution == b.nResolution &&
           a.nQuality == b.nQuality && a.nBackMode == b.nBackMode &&
           a.crBackColor == b.crBackColor && a.crGradColor1 == b.crGradColor1 &&
           a.crGradColor2 == b.crGradColor2 && a.nPolySize == b.nPolySize &&
           a.crPolyColor == b.crPolyColor && a.nStartOpacity == b.nStartOpacity &&
           a.nEndOpacity == b.nEndOpacity && a.crLineColor == b.crLineColor &&
           a.nLineOpacity == b.nLineOpacity &&
           std::memcmp(a.szBackImage, b.szBackImage, sizeof a.szBackImage) == 0;
}

void ApplyDefaultSettings(ImageSettings& s) {
    s.nWidth = 1920;
    s.nHeight = 1080;
    s.nResolution = 120;
    s.nQuality = 100;
    s.nBackMode = kBackSolid;
    const COLORREF c1 = PickPaletteColor(kNoColor);
    s.crBackColor = c1;
    s.crGradColor1 = c1;
    s.crGradColor2 = PickPaletteColor(c1);
    s.nPolySize = 0;
    s.crPolyColor = 0x00000000;
    s.nStartOpacity = 2;
    s.nEndOpacity = 25;
    s.crLineColor = 0x00FFFFFF;
    s.nLineOpacity = 0;
    s.SetBackImagePath(u"");
}

ImageSettings DefaultSettings() {
    ImageSettings s;
    ApplyDefaultSettings(s);
    return s;
}

int32_t OpacityToAlpha(int32_t percent) {
    // Exact in 64 bits (equal to the truncated p * 2.55 for whole percentages); a typed
    // percentage far beyond 100 wraps modulo 2^32 instead of overflowing, which keeps the
    // low 8 bits that are all the consumers use.
    return static_cast<int32_t>(static_cast<int64_t>(percent) * 255 / 100);
}

COLORREF PickPaletteColor(COLORREF excluded) {
    SeedRandom(FreshSeed());
    int index = RandomBetween(0, kPaletteSize - 1);
    while (kPalette[static_cast<size_t>(index)] == excluded)
        index = RandomBetween(0, kPaletteSize - 1);
    return kPalette[static_cast<size_t>(index)];
}

int32_t RandomBetween(int32_t lo, int32_t hi) {
    // 64-bit so that bounds far apart cannot overflow the range's size.
    const int64_t m = std::min(lo, hi);
    const int64_t span = static_cast<int64_t>(std::max(lo, hi)) - m + 1;
    return static_cast<int32_t>(m + NextRandom() % span);
}
