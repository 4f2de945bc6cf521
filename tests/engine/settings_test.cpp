#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "image_settings.h"
#include "random.h"

TEST(ImageSettings, DefaultsMatchANewWindow) {
    for (int i = 0; i < 200; ++i) {
        const ImageSettings s = DefaultSettings();
        EXPECT_EQ(s.nWidth, 1920);
        EXPECT_EQ(s.nHeight, 1080);
        EXPECT_EQ(s.nResolution, 120);
        EXPECT_EQ(s.nQuality, 100);
        EXPECT_EQ(s.nBackMode, 0);
        EXPECT_EQ(s.nPolySize, 0);
        EXPECT_EQ(s.crPolyColor, 0x00000000u);
        EXPECT_EQ(s.nStartOpacity, 2);
        EXPECT_EQ(s.nEndOpacity, 25);
        EXPECT_EQ(s.crLineColor, 0x00FFFFFFu);
        EXPECT_EQ(s.nLineOpacity, 0);
        EXPECT_TRUE(s.BackImagePath().empty());
        EXPECT_EQ(s.crBackColor, s.crGradColor1);
        EXPECT_NE(s.crGradColor1, s.crGradColor2);
        EXPECT_NE(std::find(kPalette.begin(), kPalette.end(), s.crGradColor1), kPalette.end());
        EXPECT_NE(std::find(kPalette.begin(), kPalette.end(), s.crGradColor2), kPalette.end());
    }
}

TEST(ImageSettings, DefaultConstructionIsAllZero) {
    const ImageSettings s;
    EXPECT_EQ(s.nWidth, 0);
    EXPECT_EQ(s.crBackColor, 0u);
    EXPECT_TRUE(std::all_of(std::begin(s.szBackImage), std::end(s.szBackImage),
                            [](char16_t c) { return c == 0; }));
}

TEST(ImageSettings, BackImagePathIsCutAt259UnitsAndTerminated) {
    ImageSettings s;
    const std::u16string longPath(400, u'a');
    s.SetBackImagePath(longPath);
    EXPECT_EQ(s.BackImagePath().size(), 259u);
    EXPECT_EQ(s.szBackImage[259], u'\0');
    s.SetBackImagePath(u"C:\\图片\\a.png");
    EXPECT_EQ(s.BackImagePath(), u"C:\\图片\\a.png");
}

TEST(OpacityToAlpha, Table) {
    const struct {
        int32_t percent, alpha;
    } cases[] = {{0, 0},    {1, 2},     {2, 5},     {25, 63},  {50, 127},
                 {99, 252}, {100, 255}, {150, 382}, {-10, -25}};
    for (const auto& c : cases) EXPECT_EQ(OpacityToAlpha(c.percent), c.alpha) << c.percent;
    // Used as an alpha only the low byte counts.
    EXPECT_EQ(MakeArgb(0, OpacityToAlpha(150)) >> 24, 126u);
    EXPECT_EQ(MakeArgb(0, OpacityToAlpha(-10)) >> 24, 231u);
    // Far beyond the pane's range: no overflow, still a value with a low byte.
    (void)OpacityToAlpha(std::numeric_limits<int32_t>::max());
    (void)OpacityToAlpha(std::numeric_limits<int32_t>::min());
}

TEST(Colours, ColorrefToArgb) {
    EXPECT_EQ(MakeArgb(0x003EDAFE, 255), 0xFFFEDA3Eu);
    EXPECT_EQ(MakeArgb(0xAB123456, 0x1FF), 0xFF563412u);  // top byte ignored, low 8 bits of alpha
    EXPECT_EQ(ArgbToColorref(0x80FEDA3E), 0x003EDAFEu);
    EXPECT_EQ(RGBColor(254, 218, 62), 0x003EDAFEu);
}

TEST(PickPaletteColor, NeverReturnsTheExcludedColour) {
    for (COLORREF excluded : kPalette)
        for (int i = 0; i < 50; ++i) EXPECT_NE(PickPaletteColor(excluded), excluded);
    std::set<COLORREF> seen;
    for (int i = 0; i < 2000; ++i) seen.insert(PickPaletteColor(kNoColor));
    EXPECT_EQ(seen.size(), 13u);
}

TEST(RandomBetween, BoundsInEitherOrderAndExtremes) {
    SeedRandom(7);
    std::set<int> seen;
    for (int i = 0; i < 2000; ++i) {
        const int v = RandomBetween(60, 10);
        ASSERT_GE(v, 10);
        ASSERT_LE(v, 60);
        seen.insert(v);
    }
    EXPECT_EQ(seen.size(), 51u);
    EXPECT_EQ(RandomBetween(5, 5), 5);
    const int32_t big =
        RandomBetween(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    EXPECT_GE(big, std::numeric_limits<int32_t>::min());
}

TEST(Random, SameSeedSameSequenceAndFullRange) {
    SeedRandom(12345);
    std::vector<int> a(1000);
    for (int& v : a) v = NextRandom();
    SeedRandom(12345);
    for (int v : a) ASSERT_EQ(NextRandom(), v);
    EXPECT_GE(*std::min_element(a.begin(), a.end()), 0);
    EXPECT_LE(*std::max_element(a.begin(), a.end()), kRandomMax);
    // Pinned: the sequence must be the same on every compiler and platform.
    SeedRandom(1);
    for (int expected : {6611, 32559, 6843, 5914}) EXPECT_EQ(NextRandom(), expected);
    EXPECT_NE(FreshSeed(), FreshSeed());
}
