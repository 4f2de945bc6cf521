#include <gtest/gtest.h>

#include <limits>

#include "grid_property.h"
#include "typed_value.h"

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

TEST(ParseTypedInt, ReadsLeadingNumber) {
    const struct {
        const char* text;
        int32_t expected;
    } cases[] = {
        {"1920", 1920},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {" 7", 7},
        {"\t\n 42", 42},
        {"-15", -15},
        {"+15", 15},
        {"- 5", 0},
        {"--5", 0},
        {"7 8", 7},
        {"3.9", 3},
        {"0x1F", 0},
        {"00042", 42},
        {"2147483647", kMax},
        {"-2147483648", kMin},
        // Beyond 32 bits: held at the ends, never wrapped.
        {"2147483648", kMax},
        {"-2147483649", kMin},
        {"4294967296", kMax},
        {"99999999999999999999999999", kMax},
        {"-99999999999999999999999999x", kMin},
        {"１２", 0},  // full-width digits are not decimal digits here
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseTypedInt(QString::fromUtf8(c.text)), c.expected) << '"' << c.text << '"';
}

TEST(ParseTypedColor, ReadsTwoDigitGroups) {
    const struct {
        const char* text;
        COLORREF expected;
    } cases[] = {
        {"ff0000", RGBColor(255, 0, 0)},
        {"00FF00", RGBColor(0, 255, 0)},
        {"46c8ff", RGBColor(70, 200, 255)},
        {"abc", RGBColor(0xab, 0x0c, 0)},
        {"a", RGBColor(0x0a, 0, 0)},
        {"", RGBColor(0, 0, 0)},
        {"1234567", RGBColor(0x12, 0x34, 0x56)},
    };
    for (const auto& c : cases) {
        const auto color = ParseTypedColor(QString::fromUtf8(c.text));
        ASSERT_TRUE(color.has_value()) << c.text;
        EXPECT_EQ(*color, c.expected) << c.text;
    }
    for (const char* bad : {"0x12", "12 34", "zz", "#ffffff", "ff-000"})
        EXPECT_FALSE(ParseTypedColor(QString::fromUtf8(bad)).has_value()) << bad;
}

TEST(ParseTypedColor, FormatReadsBack) {
    for (COLORREF c : {RGBColor(0, 0, 0), RGBColor(255, 255, 255), RGBColor(8, 105, 173)}) {
        const QString text = FormatColorText(c);
        EXPECT_EQ(text.size(), 6);
        EXPECT_EQ(text, text.toLower());
        EXPECT_EQ(ParseTypedColor(text), c);
    }
    EXPECT_EQ(FormatColorText(RGBColor(70, 200, 255)), "46c8ff");
}

TEST(ConvertFileFilter, PairsBecomeNameFilters) {
    const QString filter = QString::fromUtf8(
        "图片文件|*.jpg;*.bmp;*.gif;*.png|JPG图片(*.jpg)|*.jpg|BMP图片(*.bmp)|*.bmp|");
    const QStringList expected = {QString::fromUtf8("图片文件 (*.jpg *.bmp *.gif *.png)"),
                                  QString::fromUtf8("JPG图片(*.jpg) (*.jpg)"),
                                  QString::fromUtf8("BMP图片(*.bmp) (*.bmp)")};
    EXPECT_EQ(ConvertFileFilter(filter), expected);
    EXPECT_TRUE(ConvertFileFilter("").isEmpty());
    EXPECT_EQ(ConvertFileFilter("All|*"), QStringList{"All (*)"});
}

}  // namespace
