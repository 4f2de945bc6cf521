// Variants and recipes as the user reaches them: keys and commands of the main window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QMdiArea>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

#include "child_frame.h"
#include "clipboard_export.h"
#include "commands.h"
#include "facetta_app.h"
#include "facetta_view.h"
#include "main_frame.h"
#include "my_color_property.h"
#include "my_int_property.h"
#include "properties_wnd.h"
#include "property_value_text.h"
#include "recipe.h"

namespace {

class VariantCommands : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        TheClipboardExport().strTempFolder = m_dir.path();
        m_app.m_fnShiftHeld = [] { return false; };
        ASSERT_TRUE(m_app.InitInstance({}));
        m_frame = m_app.GetMainFrame();
        ASSERT_NE(m_frame, nullptr);
        QApplication::setActiveWindow(m_frame);
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_frame));
        CFacettaView::s_fnMessageBox = [this](QWidget*, QMessageBox::Icon, const QString&,
                                              const QString& text) { m_messages << text; };
    }
    void TearDown() override {
        CFacettaView::s_fnMessageBox = nullptr;
        if (m_frame) m_frame->close();
        QCoreApplication::processEvents();
        TheClipboardExport().ReleaseClipboardPayloads();
        TheClipboardExport().strTempFolder.clear();
    }

    CFacettaView* View() const { return m_frame->GetActivePreviewView(); }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(m_frame, key, modifiers);
    }
    // Ctrl+C, and the picture as another program reads it from the clipboard.
    QImage CopyPicture() {
        Key(Qt::Key_C, Qt::ControlModifier);
        return QImage::fromData(QGuiApplication::clipboard()->mimeData()->data("PNG"), "PNG");
    }
    // A small picture keeps the test quick; everything else stays the window's own.
    void MakeSmall(CFacettaView* view, int32_t mode = 0) {
        ImageSettings s = view->m_settings;
        s.nWidth = 400;
        s.nHeight = 300;
        s.nBackMode = mode;
        view->ApplySettings(&s);
    }
    std::vector<uint32_t> Seeds() const {
        std::vector<uint32_t> seeds;
        for (const auto& v : View()->GetVariants()) seeds.push_back(v.nSeed);
        return seeds;
    }

    QTemporaryDir m_dir;
    CFacettaApp m_app;
    CMainFrame* m_frame = nullptr;
    QStringList m_messages;
};

QImage AsImage(const Picture& p) {
    QImage image(p.Width(), p.Height(), QImage::Format_ARGB32);
    for (int y = 0; y < p.Height(); ++y)
        for (int x = 0; x < p.Width(); ++x) image.setPixel(x, y, p.Pixel(x, y));
    return image;
}

TEST_F(VariantCommands, SteppingBackShowsTheSamePixelsAndGeneratingDropsWhatLayAhead) {
    CFacettaView* view = View();
    ASSERT_NE(view, nullptr);
    MakeSmall(view);  // the first picture: one variant
    ASSERT_EQ(view->GetVariants().size(), 1u);
    QAction* back = m_frame->GetCommand(ID_PREVIOUS_VARIANT);
    QAction* forward = m_frame->GetCommand(ID_NEXT_VARIANT);
    EXPECT_FALSE(back->isEnabled());

    std::vector<QImage> copies;
    for (int i = 0; i < 3; ++i) {
        Key(Qt::Key_F5);
        copies.push_back(CopyPicture());
        ASSERT_FALSE(copies.back().isNull());
    }
    ASSERT_EQ(view->GetVariants().size(), 4u);
    EXPECT_NE(copies[0], copies[1]);
    EXPECT_TRUE(back->isEnabled());
    EXPECT_FALSE(forward->isEnabled());
    const std::vector<uint32_t> seeds = Seeds();

    Key(Qt::Key_Left, Qt::AltModifier);
    Key(Qt::Key_Left, Qt::AltModifier);
    EXPECT_EQ(view->GetVariantIndex(), 1);
    EXPECT_EQ(CopyPicture(), copies[0]);  // identical pixels
    EXPECT_EQ(GetValueText(m_frame->m_wndProperties->m_pPropSeed), QString::number(seeds[1]));
    EXPECT_TRUE(forward->isEnabled());

    Key(Qt::Key_Right, Qt::AltModifier);
    EXPECT_EQ(CopyPicture(), copies[1]);
    Key(Qt::Key_F5);
    const std::vector<uint32_t> after = Seeds();
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(std::vector<uint32_t>(after.begin(), after.begin() + 3),
              std::vector<uint32_t>(seeds.begin(), seeds.begin() + 3));
    EXPECT_NE(after[3], seeds[3]);  // the third generated variant is gone
    EXPECT_EQ(view->GetVariantIndex(), 3);
    EXPECT_FALSE(forward->isEnabled());
    EXPECT_EQ(GetValueText(m_frame->m_wndProperties->m_pPropSeed), QString::number(after[3]));
}

TEST_F(VariantCommands, AnEditOverTheSameMeshStaysInItsVariant) {
    CFacettaView* view = View();
    MakeSmall(view);
    Key(Qt::Key_F5);
    ImageSettings s = view->m_settings;
    s.crPolyColor = RGBColor(200, 0, 0);  // keeps the mesh
    view->ApplySettings(&s);
    const QImage red = CopyPicture();
    Key(Qt::Key_Left, Qt::AltModifier);
    Key(Qt::Key_Right, Qt::AltModifier);
    EXPECT_EQ(view->m_settings.crPolyColor, RGBColor(200, 0, 0));
    EXPECT_EQ(CopyPicture(), red);
    // The pane shows the variant's own settings after each step.
    Key(Qt::Key_Left, Qt::AltModifier);
    EXPECT_EQ(m_frame->m_wndProperties->m_pPropPolyColor->GetColor(), view->m_settings.crPolyColor);
    EXPECT_NE(view->m_settings.crPolyColor, RGBColor(200, 0, 0));
}

TEST_F(VariantCommands, AtLeastAHundredVariantsAreKept) {
    CFacettaView* view = View();
    MakeSmall(view);
    for (int i = 0; i < 130; ++i) Key(Qt::Key_F5);
    const int kept = static_cast<int>(view->GetVariants().size());
    EXPECT_GE(kept, 100);
    for (int i = 0; i < 200; ++i) Key(Qt::Key_Left, Qt::AltModifier);
    EXPECT_EQ(view->GetVariantIndex(), 0);
    EXPECT_FALSE(m_frame->GetCommand(ID_PREVIOUS_VARIANT)->isEnabled());
}

// The recipe run by facetta-cli writes the window's pixels, and pasted into a new window it
// makes the same picture again.
TEST_F(VariantCommands, RecipeRemakesThePictureInTheCliAndInANewWindow) {
    QImage photo(97, 61, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, qRgb(x * 2, y * 4, (x * y) & 0xFF));
    const QString photoPath = m_dir.filePath(QStringLiteral("photo it's.png"));
    ASSERT_TRUE(photo.save(photoPath));

    struct Case {
        int32_t mode;
        int32_t lineOpacity;
        bool photo;
    };
    std::vector<Case> cases;
    for (int32_t mode = 0; mode <= 6; ++mode) cases.push_back({mode, 0, false});
    cases.push_back({5, 60, false});  // outlines
    cases.push_back({2, 35, true});   // a background picture, with outlines
    CFacettaView* view = View();
    for (const Case& c : cases) {
        const std::string label = "mode " + std::to_string(c.mode) + (c.photo ? " photo" : "");
        m_frame->GetMdiArea()->setActiveSubWindow(m_frame->GetChildFrames().front());
        ASSERT_EQ(View(), view);
        ImageSettings s = view->m_settings;
        s.nWidth = 400;
        s.nHeight = 300;
        s.nBackMode = c.mode;
        s.nLineOpacity = c.lineOpacity;
        s.SetBackImagePath(c.photo ? photoPath.toStdU16String() : std::u16string());
        view->ApplySettings(&s);
        Key(Qt::Key_F5);
        view->FinishBackgroundLoad();  // the picture is drawn once its background is decoded
        const QImage window = AsImage(*view->m_pPicture);

        Key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        const QString recipe = QGuiApplication::clipboard()->text();
        QStringList words;
        QString error;
        ASSERT_TRUE(SplitCommandLine(recipe, words, error)) << label << error.toStdString();
        ASSERT_EQ(words.value(0), QStringLiteral("facetta-cli")) << label;
        QProcess cli;
        cli.setWorkingDirectory(m_dir.path());
        cli.start(QStringLiteral(FACETTA_CLI), words.mid(1) + QStringList{"-o", "x.png"});
        ASSERT_TRUE(cli.waitForFinished(60000)) << label;
        ASSERT_EQ(cli.exitCode(), 0) << label << cli.readAllStandardError().toStdString();
        const QImage written =
            QImage(m_dir.filePath("x.png")).convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(written, window) << label << " " << recipe.toStdString();

        Key(Qt::Key_N, Qt::ControlModifier);
        CFacettaView* pasted = View();
        ASSERT_NE(pasted, view);
        Key(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        pasted->FinishBackgroundLoad();
        ASSERT_NE(pasted->m_pPicture, nullptr) << label;
        EXPECT_EQ(AsImage(*pasted->m_pPicture), window) << label;
        EXPECT_EQ(GetValueText(m_frame->m_wndProperties->m_pPropSeed),
                  QString::number(*view->GetSeed()));
        m_frame->GetCommand(ID_WINDOW_CLOSE_ACTIVE)->trigger();
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join('\n').toStdString();
}

TEST_F(VariantCommands, TextThatIsNoRecipeChangesNothingAndSaysWhy) {
    CFacettaView* view = View();
    MakeSmall(view, 3);
    Key(Qt::Key_F5);
    const ImageSettings before = view->m_settings;
    const std::optional<uint32_t> seed = view->GetSeed();
    const size_t variants = view->GetVariants().size();
    const int32_t shownWidth = m_frame->m_wndProperties->m_pPropWidth->GetIntValue();

    QString huge = QStringLiteral("facetta-cli");
    while (huge.size() < 200000) huge += QStringLiteral(" --width 300");
    const QString binary = QString::fromLatin1(QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    const struct {
        QString text;
        const char* why;  // a piece of the message
    } cases[] = {
        {QString(), "没有文字"},
        {QStringLiteral(" \n\t "), "没有文字"},
        {huge, "太长"},
        {binary, "控制字符"},
        {QStringLiteral("rm -rf /tmp/x"), "不是 facetta-cli"},
        {QStringLiteral("convert in.png -resize 50% out.png"), "不是 facetta-cli"},
        {QStringLiteral("https://example.com/recipe?seed=1"), "?"},
        {QStringLiteral("facetta-cli --width 300; rm -rf ~"), ";"},
        {QStringLiteral("facetta-cli --width $(id -u)"), "$"},
        {QStringLiteral("facetta-cli --width `id -u`"), "`"},
        {QStringLiteral("facetta-cli --width 300 | sh"), "|"},
        {QStringLiteral("facetta-cli --width 300 > /tmp/out"), ">"},
        {QStringLiteral("facetta-cli --width 300 && reboot"), "&"},
        {QStringLiteral("facetta-cli --width 300\nreboot"), "不止一条命令"},
        {QStringLiteral("facetta-cli --width 'unterminated"), "单引号"},
        {QStringLiteral("facetta-cli --bogus 1"), "bogus"},
        {QStringLiteral("facetta-cli --width abc"), "abc"},
        {QStringLiteral("facetta-cli --width"), "width"},
        {QStringLiteral("facetta-cli --mode 9"), "--mode"},
        {QStringLiteral("facetta-cli --back-color zzzzzz"), "zzzzzz"},
        {QStringLiteral("facetta-cli --seed -1"), "--seed"},
        {QStringLiteral("facetta-cli --seed 4294967296"), "4294967296"},
        {QStringLiteral("facetta-cli --help"), "帮助"},
        {QStringLiteral("facetta-cli --mesh-json"), "--mesh-json"},
        {QStringLiteral("facetta-cli --count 3"), "--count"},
        {QStringLiteral("facetta-cli stray"), "stray"},
        {QStringLiteral("facetta-cli --back-image ") + QString(300, QLatin1Char('a')), "259"},
        {QStringLiteral("facetta-cli --width 2147483647 --height 2147483647"), "太大"},
        {QStringLiteral("facetta-cli --poly-size 100000"), "网格"},
    };
    for (const auto& c : cases) {
        const std::string label = c.text.left(60).toStdString();
        m_messages.clear();
        QGuiApplication::clipboard()->setText(c.text);
        Key(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_TRUE(view->m_settings == before) << label;
        EXPECT_EQ(view->GetSeed(), seed) << label;
        EXPECT_EQ(view->GetVariants().size(), variants) << label;
        EXPECT_EQ(m_frame->m_wndProperties->m_pPropWidth->GetIntValue(), shownWidth) << label;
        ASSERT_EQ(m_messages.size(), 1) << label;
        EXPECT_TRUE(m_messages[0].contains(QString::fromUtf8(c.why)))
            << label << ": " << m_messages[0].toStdString();
    }

    // A recipe whose background picture is missing is still a recipe: it is applied, and the
    // message names the picture.
    m_messages.clear();
    QGuiApplication::clipboard()->setText(
        QStringLiteral("facetta-cli --width 320 --back-image /no/such/sky.png --seed 9"));
    Key(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(view->m_settings.nWidth, 320);
    EXPECT_EQ(view->GetSeed(), std::optional<uint32_t>(9));
    EXPECT_EQ(GetValueText(m_frame->m_wndProperties->m_pPropBackImage),
              QStringLiteral("/no/such/sky.png"));
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages[0].contains(QStringLiteral("/no/such/sky.png")));
}

}  // namespace
