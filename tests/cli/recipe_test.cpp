// Recipes: written from a settings record and a seed, read back with facetta-cli's own parser.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "recipe.h"

namespace {

ImageSettings Sample(int32_t mode, const char16_t* back) {
    ImageSettings s = DefaultSettings();
    s.nWidth = 640;
    s.nHeight = 360;
    s.nResolution = 150;
    s.nQuality = 77;
    s.nBackMode = mode;
    s.crBackColor = RGBColor(1, 2, 3);
    s.crGradColor1 = RGBColor(250, 128, 7);
    s.crGradColor2 = RGBColor(9, 200, 255);
    s.nPolySize = 60;
    s.crPolyColor = RGBColor(10, 20, 30);
    s.nStartOpacity = 150;  // typed values reach the record unheld
    s.nEndOpacity = -10;
    s.crLineColor = RGBColor(255, 0, 128);
    s.nLineOpacity = 40;
    s.SetBackImagePath(back);
    return s;
}

TEST(Recipe, ReadsBackEveryFieldAndTheSeed) {
    const struct {
        int32_t mode;
        const char16_t* back;
        uint32_t seed;
    } cases[] = {
        {0, u"", 0},
        {3, u"", 4294967295u},
        {6, u"/tmp/plain.png", 12345},
        {1, u"/tmp/with space/it's \"quoted\" $HOME `x` ; rm.png", 7},
        {2, u"/tmp/日落 ~!*?[#].png", 99},
    };
    for (const auto& c : cases) {
        const ImageSettings s = Sample(c.mode, c.back);
        const QString text = MakeRecipe(s, c.seed);
        Recipe r;
        QString error;
        ASSERT_TRUE(ParseRecipe(text, r, error))
            << text.toStdString() << ": " << error.toStdString();
        EXPECT_TRUE(r.settings == s) << text.toStdString();
        EXPECT_EQ(r.nSeed, c.seed);
        EXPECT_TRUE(r.bSeedGiven);
        EXPECT_EQ(r.backImage, QString::fromStdU16String(c.back));
    }
}

// What the text means to a real shell is what it means here: sh prints the words it gets.
TEST(Recipe, SplitsWordsAsAShellDoes) {
    const QString lines[] = {
        QStringLiteral(R"(facetta-cli --back-image 'a b'"c d"e\ f --seed 1)"),
        QStringLiteral("facetta-cli \\\n  --width 300 \\\n  --height 200"),
        QStringLiteral(R"(facetta-cli "x\"y\\z" '\n')"),
        QStringLiteral(R"(./build/cli/facetta-cli --mode=3)"),
        // Our own quoting of a hostile path.
        MakeRecipe(Sample(1, u"/tmp/it's \"q\" $HOME `x` ; rm -rf ~ #.png"), 7),
    };
    for (const QString& line : lines) {
        QStringList words;
        QString error;
        ASSERT_TRUE(SplitCommandLine(line, words, error))
            << line.toStdString() << error.toStdString();
        QProcess sh;
        sh.start(QStringLiteral("/bin/sh"),
                 {QStringLiteral("-c"), QStringLiteral("printf '%s\\n' ") + line});
        ASSERT_TRUE(sh.waitForFinished(10000));
        const QStringList expected =
            QString::fromUtf8(sh.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        EXPECT_EQ(words, expected) << line.toStdString();
    }
}

// Without --seed a recipe still remakes what the CLI makes for that seed: the colours the
// options leave out are drawn from the seed.
TEST(Recipe, UnsetColoursComeFromTheSeedAsInTheCli) {
    Recipe a, b;
    QString error;
    ASSERT_TRUE(ParseRecipe(QStringLiteral("facetta-cli --mode 1 --seed 42"), a, error));
    ASSERT_TRUE(ParseRecipe(QStringLiteral("facetta-cli --seed 42 --mode 1 -o x.png"), b, error));
    EXPECT_TRUE(a.settings == b.settings);
    EXPECT_NE(a.settings.crGradColor1, a.settings.crGradColor2);
    EXPECT_EQ(a.settings.crBackColor, a.settings.crGradColor1);
    Recipe spaced;  // as a chat program or an input method may pass it on
    ASSERT_TRUE(
        ParseRecipe(QString::fromUtf8("facetta-cli\u00a0--mode 1\u3000--seed 42"), spaced, error));
    EXPECT_TRUE(spaced.settings == a.settings);
    Recipe fresh;
    ASSERT_TRUE(ParseRecipe(QStringLiteral("facetta-cli"), fresh, error));
    EXPECT_FALSE(fresh.bSeedGiven);
}

}  // namespace
