#include "facetta_view.h"

#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPrinter>
#include <QProgressBar>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <climits>
#include <utility>

#include "clipboard_export.h"
#include "facetta_doc.h"
#include "image_encoder.h"
#include "memory_budget.h"
#include "picture_image.h"
#include "picture_writer.h"
#include "print_helper.h"
#include "raster.h"
#include "recipe.h"
#include "renderer.h"
#include "screen_size.h"
#include "svg_writer.h"
#include "wallpaper.h"

namespace {

const char* const kAppTitle = "Facetta";

// Sizes derived from user numbers may exceed an int; they are held at its limits instead.
int ClampToInt(double v) {
    if (!(v > 0)) return 0;
    if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
    return static_cast<int>(v);
}

int ClampToInt(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, 0, INT_MAX));
}

bool IsOpaque(const Picture& picture) {
    uint32_t all = 0xFF000000u;
    const uint32_t* p = picture.Pixels();
    for (size_t i = 0, n = picture.PixelCount(); i < n; ++i) all &= p[i];
    return all == 0xFF000000u;
}

// The picture's own pixels as an image without alpha, valid only while every pixel is opaque.
QImage OpaqueImage(const Picture& picture) {
    return QImage(reinterpret_cast<const uchar*>(picture.Pixels()), picture.Width(),
                  picture.Height(), picture.Width() * 4, QImage::Format_RGB32);
}

QString BackImagePathOf(const ImageSettings& settings) {
    return QString::fromStdU16String(settings.BackImagePath());
}

}  // namespace

bool CFacettaView::s_bFirstView = true;
// 3840x2160 and up: at that size fresh memory was measured to stall a render for up to 260 ms.
int64_t CFacettaView::s_nWorkerRenderPixels = int64_t{3840} * 2160;
CFacettaView::SaveDialogFunction CFacettaView::s_fnSaveDialog;
CFacettaView::MessageBoxFunction CFacettaView::s_fnMessageBox;
CFacettaView::DialogExecFunction CFacettaView::s_fnExecDialog;

CFacettaView::CFacettaView(CFacettaDoc* pDoc, QWidget* parent)
    : QAbstractScrollArea(parent),
      m_settings(DefaultSettings()),
      m_nFadeAlpha(0),
      m_fZoom(-1.0f),
      m_nDisplayWidth(0),
      m_nDisplayHeight(0),
      m_pDoc(pDoc),
      m_startTimer(this),
      m_fadeTimer(this) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Every paint covers its whole area; nothing is erased first, so nothing flickers.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);

    m_startTimer.setObjectName(QStringLiteral("startTimer"));
    m_fadeTimer.setObjectName(QStringLiteral("fadeTimer"));
    connect(&m_startTimer, &QTimer::timeout, this, [this] { OnTimer(kStartTimer); });
    connect(&m_fadeTimer, &QTimer::timeout, this, [this] { OnTimer(kFadeTimer); });
}

CFacettaView::~CFacettaView() {
    // Closed while its picture is written: the file is finished first, from this picture.
    m_saveFuture.waitForFinished();
    // A render reads the mesh and the scaled background, which go with the view.
    m_renderWatcher.disconnect(this);
    m_renderWatcher.waitForFinished();
}

void CFacettaView::OnInitialUpdate() {
    viewport()->update();
    UpdateScrollSizes(false);
    if (s_bFirstView) {
        s_bFirstView = false;
        m_startTimer.start(500);
    } else {
        m_startTimer.start(100);
    }
}

void CFacettaView::OnTimer(int nIDEvent) {
    switch (nIDEvent) {
        case kStartTimer:
            m_startTimer.stop();
            // Posted, so that the first picture is made from the event loop like any command;
            // not when one has come or is being rendered by then.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (!m_pPicture && !m_bRendering) OnGeneratePreview();
                },
                Qt::QueuedConnection);
            break;
        case kFadeTimer:
            m_nFadeAlpha += 25;
            if (m_nFadeAlpha >= 255) m_fadeTimer.stop();
            viewport()->update();
            break;
        default:
            break;
    }
}

void CFacettaView::UpdatePicture(bool bNewMesh) {
    if (m_bBackLoading || m_bSaving || m_bRendering) {
        // Made once the background picture is there: nothing is drawn without it. A save
        // reads the picture meanwhile: the new one follows it. So does a render under way,
        // which reads the mesh.
        m_bRenderPending = true;
        m_bPendingNewMesh = m_bPendingNewMesh || bNewMesh;
        return;
    }
    // Taken only now, so that a picture made later, once its background is there, still
    // gets them.
    const std::optional<uint32_t> seed = std::exchange(m_nextSeed, std::nullopt);
    const bool bRecord = std::exchange(m_bRecordVariant, true);
    bool bNewVariant = false;
    if (bNewMesh || m_mesh.IsEmpty()) {
        if (!Picture::Fits(m_settings.nWidth, m_settings.nHeight)) {
            // No picture can be made at this size: its mesh would only cost seconds and
            // gigabytes. Rendering below then gives the picture without pixels.
            m_mesh.Clear();
        } else if ((seed ? GenerateMesh(m_settings, m_mesh, *seed)
                         : GenerateMesh(m_settings, m_mesh)) == MeshResult::OutOfMemory) {
            // The previous picture stays; the empty mesh makes the next picture try again.
            m_mesh.Clear();
            ShowMessage(QMessageBox::Warning, tr("内存不足。"));
            return;
        } else {
            bNewVariant = !m_mesh.IsEmpty();
        }
    }
    if (bNewVariant && bRecord) {
        // A browser's history: what lay ahead of the shown variant goes.
        m_variants.resize(static_cast<size_t>(m_nVariant + 1));
        m_variants.push_back(Variant{m_settings, m_mesh.nSeed});
        if (m_variants.size() > kMaxVariants) m_variants.erase(m_variants.begin());
        m_nVariant = static_cast<int>(m_variants.size()) - 1;
    } else if (m_nVariant >= 0 && !m_mesh.IsEmpty()) {
        // Colours, background or outlines changed over the same mesh: still this variant.
        m_variants[static_cast<size_t>(m_nVariant)].settings = m_settings;
    }
    if (Picture::Fits(m_settings.nWidth, m_settings.nHeight) &&
        int64_t{m_settings.nWidth} * m_settings.nHeight >= s_nWorkerRenderPixels) {
        StartRender();
    } else {
        // The old picture goes first, so that two full-size pictures never coexist.
        m_pPicture.reset();
        m_cache = DisplayCache();
        TakePicture(std::make_unique<Picture>(
            RenderPicture(m_settings, m_mesh, m_pBackImage.get(), ScaledBackImage())));
    }
    if (bNewVariant) emit variantChanged(!bRecord || seed.has_value());
}

void CFacettaView::TakePicture(std::unique_ptr<Picture> pPicture) {
    m_pPicture = std::move(pPicture);
    m_cache = DisplayCache();
    ++m_nPictureGeneration;
    if (m_nFadeAlpha == 0) {
        m_nFadeAlpha = 10;
        m_fadeTimer.start(100);
    }
}

void CFacettaView::StartRender() {
    const ScaledBackground* pScaled = ScaledBackImage();
    // The old picture stays on screen meanwhile when it has the new size and there is room
    // for both; otherwise it goes first (the window shows the generating text), as it would
    // go when rendering here.
    const int w = m_settings.nWidth, h = m_settings.nHeight;
    const size_t nBytes = static_cast<size_t>(w) * static_cast<size_t>(h) * 4;
    if (m_pPicture && (m_pPicture->Width() != w || m_pPicture->Height() != h ||
                       !MemoryBudget::WouldFit(nBytes))) {
        m_pPicture.reset();
        m_cache = DisplayCache();
    }
    m_bRendering = true;
    const uint64_t nRender = ++m_nRender;
    // The mesh and the scaled background stay as they are until the render is over: new
    // pictures wait for it, and the view waits for it before it goes.
    m_renderWatcher.disconnect(this);
    m_renderWatcher.setFuture(
        QtConcurrent::run([settings = m_settings, pMesh = &m_mesh, pBack = m_pBackImage, pScaled] {
            return std::make_shared<Picture>(RenderPicture(settings, *pMesh, pBack.get(), pScaled));
        }));
    connect(&m_renderWatcher, &QFutureWatcherBase::finished, this,
            [this, nRender] { OnRenderFinished(nRender); });
}

void CFacettaView::OnRenderFinished(uint64_t nRender) {
    if (!m_bRendering || nRender != m_nRender || !m_renderWatcher.isFinished()) return;
    m_bRendering = false;
    const std::shared_ptr<Picture> pResult = m_renderWatcher.future().result();
    TakePicture(std::make_unique<Picture>(std::move(*pResult)));
    viewport()->update();
    RenderPending();
}

void CFacettaView::FinishRender() {
    while (m_bRendering) {
        m_renderWatcher.waitForFinished();
        OnRenderFinished(m_nRender);
    }
}

void CFacettaView::RenderPending() {
    if (!m_bRenderPending || m_bBackLoading || m_bSaving || m_bRendering) return;
    const bool bNewMesh = m_bPendingNewMesh;
    m_bRenderPending = m_bPendingNewMesh = false;
    UpdatePicture(bNewMesh);
    UpdateScrollSizes(true);
}

const ScaledBackground* CFacettaView::ScaledBackImage() {
    if (!m_pBackImage || m_pBackImage->IsNull()) {
        m_pScaledBack.reset();
        return nullptr;
    }
    if (m_settings.nBackMode == kBackTransparent) return nullptr;  // drawn without it
    const int w = m_settings.nWidth, h = m_settings.nHeight;
    const bool bSameSource = !m_scaledFrom.expired() && !m_scaledFrom.owner_before(m_pBackImage) &&
                             !m_pBackImage.owner_before(m_scaledFrom);
    if (m_pScaledBack && bSameSource && m_pScaledBack->Fits(w, h)) return m_pScaledBack.get();
    m_pScaledBack.reset();
    // Kept only when the picture has room beside it; otherwise each picture scales it.
    if (!Picture::Fits(w, h) ||
        !MemoryBudget::WouldFit(size_t{2} * static_cast<size_t>(w) * static_cast<size_t>(h) * 4))
        return nullptr;
    auto pScaled = std::make_unique<ScaledBackground>(ScaleBackground(w, h, *m_pBackImage));
    if (!pScaled->Fits(w, h)) return nullptr;
    m_pScaledBack = std::move(pScaled);
    m_scaledFrom = m_pBackImage;
    return m_pScaledBack.get();
}

bool CFacettaView::TakeSettings(const ImageSettings& s) {
    // The resolution counts as a mesh change too: changing it gives a new layout.
    bool bNewMesh =
        s.nWidth != m_settings.nWidth || s.nHeight != m_settings.nHeight ||
        s.nResolution != m_settings.nResolution || s.nPolySize != m_settings.nPolySize ||
        s.nStartOpacity != m_settings.nStartOpacity || s.nEndOpacity != m_settings.nEndOpacity;

    const QString strNewPath = BackImagePathOf(s);
    // Compared exactly: on a case-sensitive file system /p/Sky.png and /p/sky.png differ.
    const bool bNewPath = strNewPath != BackImagePathOf(m_settings);
    // A picture decoded reduced for a smaller frame is decoded again for a larger one.
    const bool bLargerFrame =
        !bNewPath && m_backReducedFor.isValid() &&
        (s.nWidth > m_backReducedFor.width() || s.nHeight > m_backReducedFor.height());
    if (&s != &m_settings) m_settings = s;  // the load below decodes for the new frame
    if (bNewPath || bLargerFrame) {
        m_pBackImage.reset();
        m_backReducedFor = QSize();
        // A load still running for the old path no longer counts; what waited for it is done below.
        ++m_nBackLoad;
        // A new mesh asked for while pictures waited is still owed.
        bNewMesh = bNewMesh || m_bPendingNewMesh;
        m_bBackLoading = m_bRenderPending = m_bPendingNewMesh = false;
        if (!strNewPath.isEmpty() && QFileInfo::exists(strNewPath)) StartBackgroundLoad(strNewPath);
    }
    return bNewMesh;
}

void CFacettaView::ApplySettings(const ImageSettings* pNewSettings) {
    if (!pNewSettings) return;
    UpdatePicture(TakeSettings(*pNewSettings));
    UpdateScrollSizes(true);
}

void CFacettaView::ApplyVariant(const ImageSettings& settings, uint32_t nSeed) {
    const ImageSettings copy = settings;  // may be m_settings itself
    TakeSettings(copy);
    m_nextSeed = nSeed;
    UpdatePicture(true);
    UpdateScrollSizes(true);
}

void CFacettaView::ShowVariant(int nIndex) {
    if (nIndex < 0 || nIndex >= static_cast<int>(m_variants.size())) return;
    const Variant variant = m_variants[static_cast<size_t>(nIndex)];
    TakeSettings(variant.settings);
    m_nextSeed = variant.nSeed;
    m_bRecordVariant = false;  // shown again, not a new variant
    const int nOld = m_nVariant;
    m_nVariant = nIndex;
    UpdatePicture(true);
    if (m_mesh.IsEmpty()) m_nVariant = nOld;  // no memory for it: nothing was shown
    UpdateScrollSizes(true);
}

void CFacettaView::OnPreviousVariant() {
    if (CanShowPreviousVariant()) ShowVariant(m_nVariant - 1);
}

void CFacettaView::OnNextVariant() {
    if (CanShowNextVariant()) ShowVariant(m_nVariant + 1);
}

void CFacettaView::OnCopyRecipe() {
    FinishBackgroundLoad();
    FinishRender();
    if (!m_pPicture || m_mesh.IsEmpty()) UpdatePicture(true);
    if (m_mesh.IsEmpty()) return;  // no mesh at this size: there is nothing to remake
    QGuiApplication::clipboard()->setText(MakeRecipe(m_settings, m_mesh.nSeed));
}

void CFacettaView::OnPasteRecipe() {
    PasteRecipe(QGuiApplication::clipboard()->text());
}

bool CFacettaView::PasteRecipe(const QString& strText) {
    Recipe recipe;
    QString strError;
    if (!ParseRecipe(strText, recipe, strError)) {
        ShowMessage(QMessageBox::Warning,
                    tr("剪贴板里的文字不是配方，图片没有改变。\n%1").arg(strError));
        return false;
    }
    // Refused as facetta-cli refuses them: a picture that cannot be held, or no mesh at all.
    const ImageSettings& s = recipe.settings;
    QString strRefused;
    PolygonMesh trial;
    if (!Picture::Fits(s.nWidth, s.nHeight))
        strRefused = tr("%1 x %2 的图片太大，无法生成").arg(s.nWidth).arg(s.nHeight);
    else if (GenerateMesh(s, trial, recipe.nSeed) != MeshResult::Ok)
        strRefused = tr("多边形大小 %1 在 %2 x %3 的图片上生成不了网格")
                         .arg(s.nPolySize)
                         .arg(s.nWidth)
                         .arg(s.nHeight);
    if (!strRefused.isEmpty()) {
        ShowMessage(QMessageBox::Warning, tr("配方没有应用，图片没有改变。\n%1").arg(strRefused));
        return false;
    }
    trial.Clear();
    ApplyVariant(recipe.settings, recipe.nSeed);
    if (!recipe.backImage.isEmpty() && !QFileInfo(recipe.backImage).isFile())
        ShowMessage(QMessageBox::Warning,
                    tr("背景图“%1”不存在，图片没有背景图。").arg(recipe.backImage));
    return true;
}

std::optional<uint32_t> CFacettaView::GetSeed() const {
    if (m_mesh.IsEmpty()) return std::nullopt;
    return m_mesh.nSeed;
}

void CFacettaView::StartBackgroundLoad(const QString& strPath) {
    const uint64_t nLoad = m_nBackLoad;
    m_bBackLoading = true;
    const int nWidth = m_settings.nWidth, nHeight = m_settings.nHeight;
    m_backLoadFrame = QSize(nWidth, nHeight);
    // Off the interface thread: the window keeps repainting while a large picture decodes.
    m_backWatcher.disconnect(this);
    m_backWatcher.setFuture(QtConcurrent::run([strPath, nWidth, nHeight] {
        return std::make_shared<DecodedPicture>(DecodeBackgroundPicture(strPath, nWidth, nHeight));
    }));
    connect(&m_backWatcher, &QFutureWatcherBase::finished, this,
            [this, nLoad] { OnBackgroundLoaded(nLoad); });
}

void CFacettaView::OnBackgroundLoaded(uint64_t nLoad) {
    // (A signal left over from an earlier load finds this one still running.)
    if (!m_bBackLoading || nLoad != m_nBackLoad || !m_backWatcher.isFinished()) return;
    m_bBackLoading = false;
    const std::shared_ptr<DecodedPicture> result = m_backWatcher.future().result();
    if (result && result->picture) {
        if (result->reduced) {
            m_backReducedFor = m_backLoadFrame;
            // The frame grew while it was decoded: decoded again for the frame it has now.
            if (m_settings.nWidth > m_backLoadFrame.width() ||
                m_settings.nHeight > m_backLoadFrame.height()) {
                m_backReducedFor = QSize();
                ++m_nBackLoad;
                StartBackgroundLoad(BackImagePathOf(m_settings));
                return;
            }
        }
        m_pBackImage = std::make_unique<Picture>(std::move(*result->picture));
        result->picture.reset();
    } else if (result && result->error == DecodeError::TooLarge) {
        // Refused like any picture that cannot be held; a file that does not decode is not
        // reported.
        ShowMessage(QMessageBox::Warning, tr("内存不足。"));
    }
    // Rendered now, with the picture, when something asked for it meanwhile or there is a
    // picture to put it in.
    if (m_bRenderPending || m_pPicture) {
        const bool bNewMesh = m_bPendingNewMesh;
        m_bRenderPending = m_bPendingNewMesh = false;
        UpdatePicture(bNewMesh);
        UpdateScrollSizes(true);
    }
}

void CFacettaView::FinishBackgroundLoad() {
    while (m_bBackLoading) {
        m_backWatcher.waitForFinished();
        OnBackgroundLoaded(m_nBackLoad);
    }
}

void CFacettaView::OnGeneratePreview() {
    UpdatePicture(true);
    UpdateScrollSizes(true);
}

void CFacettaView::PictureNow() {
    FinishBackgroundLoad();
    FinishRender();
    if (m_pPicture) return;
    UpdatePicture(true);
    FinishRender();
}

void CFacettaView::OnCopyPicture() {
    PictureNow();
    // The vector document too, for editors that paste it; a background picture that cannot
    // be embedded just leaves it out.
    QByteArray svg;
    if (m_pPicture && !m_pPicture->IsNull())
        EncodeSvg(m_settings, m_mesh, m_pBackImage.get(),
                  QString::fromStdU16String(m_settings.BackImagePath()), svg);
    if (!CopyPictureToClipboard(TheClipboardExport(), m_pPicture.get(), svg))
        ShowMessage(QMessageBox::Warning, tr("内存不足。"));
}

void CFacettaView::OnSetWallpaper() {
    PictureNow();
    if (!m_pPicture) return;
    // One picture over several screens is spanned; anything else fills each screen.
    const QList<QScreen*> screens = QGuiApplication::screens();
    WallpaperRequest request;
    request.bSpanned = screens.size() > 1 && AllScreensPixelSize(screens) ==
                                                 QSize(m_pPicture->Width(), m_pPicture->Height());
    for (const QScreen* s : screens) request.monitorNames << s->name();
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const WallpaperResult r = SetWallpaper(*m_pPicture, request);
    QGuiApplication::restoreOverrideCursor();

    const QString strPath = QDir::toNativeSeparators(r.strPath);
    if (r.strPath.isEmpty()) {
        ShowMessage(QMessageBox::Critical, tr("无法保存桌面背景图片：%1").arg(r.strWriteError));
    } else if (!r.bApplied) {
        const QString strDesktop =
            r.desktop == DesktopKind::None ? tr("未找到") : DesktopName(r.desktop);
        ShowMessage(QMessageBox::Warning,
                    tr("无法设置桌面背景。\n\n找到的桌面：%1\n失败原因：%2\n解决办法：%"
                       "3\n\n图片已保存：%4")
                        .arg(strDesktop, r.strFailure, r.strAdvice, strPath));
    } else {
        ShowMessage(QMessageBox::Information,
                    tr("已设为 %1 的桌面背景。\n\n图片：%2").arg(DesktopName(r.desktop), strPath));
    }
}

void CFacettaView::UpdateScrollSizes(bool bRepaint) {
    // Showing or hiding a scroll bar resizes the viewport, which lands here again; the outer
    // call then computes once more for the new client size.
    if (m_bInScrollUpdate) {
        m_bScrollSizeStale = true;
        return;
    }
    m_bInScrollUpdate = true;
    const QRect rcOldPicture = GetPictureRect();
    // Everything below is in device pixels: on a 2x screen a picture pixel at 100 % is one
    // device pixel, and a fitted picture is reduced straight to the device's pixels.
    m_dDevicePixelRatio = viewport()->devicePixelRatioF();
    for (int nPass = 0; nPass < 4; ++nPass) {
        m_bScrollSizeStale = false;
        const int nViewportWidth = viewport()->width();
        const int nViewportHeight = viewport()->height();
        const int cw = ClampToInt(nViewportWidth * m_dDevicePixelRatio);
        const int ch = ClampToInt(nViewportHeight * m_dDevicePixelRatio);
        const int nWidth = m_settings.nWidth;
        const int nHeight = m_settings.nHeight;

        m_nDisplayWidth = ClampToInt(static_cast<double>(nWidth) * m_fZoom);
        m_nDisplayHeight = ClampToInt(static_cast<double>(nHeight) * m_fZoom);
        // Zoom truncated to -1 means fit; compared as a range, so no zoom value is undefined.
        if (m_fZoom > -2.0f && m_fZoom <= -1.0f) {
            // Fitting only ever shrinks.
            int64_t w = nWidth, h = nHeight;
            if (nWidth > cw && nWidth > 0) {
                w = cw;
                h = int64_t{nHeight} * cw / nWidth;
            }
            if (h > ch && h > 0) {
                w = w * ch / h;
                h = ch;
            }
            m_nDisplayWidth = ClampToInt(w);
            m_nDisplayHeight = ClampToInt(h);
        }

        m_nScrollWidth = std::max(m_nDisplayWidth, cw);
        m_nScrollHeight = std::max(m_nDisplayHeight, ch);
        QScrollBar* pH = horizontalScrollBar();
        QScrollBar* pV = verticalScrollBar();
        pH->setPageStep(std::max(1, m_nScrollWidth / 10));
        pH->setSingleStep(std::max(1, m_nScrollWidth / 100));
        pV->setPageStep(std::max(1, m_nScrollHeight / 10));
        pV->setSingleStep(std::max(1, m_nScrollHeight / 100));
        pH->setRange(0, m_nScrollWidth - cw);
        pV->setRange(0, m_nScrollHeight - ch);
        if (!m_bScrollSizeStale && viewport()->width() == nViewportWidth &&
            viewport()->height() == nViewportHeight)
            break;
    }
    m_bInScrollUpdate = false;
    // A picture that changed its size or place is always shown anew, also when the caller
    // (the zoom box) asks for no repaint: the window must not keep showing the old size.
    if (bRepaint || GetPictureRect() != rcOldPicture) viewport()->update();
}

QRect CFacettaView::GetPictureRect() const {
    return QRect((m_nScrollWidth - m_nDisplayWidth) / 2, (m_nScrollHeight - m_nDisplayHeight) / 2,
                 m_nDisplayWidth, m_nDisplayHeight);
}

QPoint CFacettaView::GetScrollPosition() const {
    return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void CFacettaView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollSizes(false);
}

void CFacettaView::paintEvent(QPaintEvent* event) {
    // Moved to a screen of another density: lay out again in its pixels.
    if (viewport()->devicePixelRatioF() != m_dDevicePixelRatio) UpdateScrollSizes(false);
    // The backing store double-buffers: the window only ever shows complete frames.
    QPainter painter(viewport());
    // Drawn in device pixels: the painter's scale and the screen's cancel out, so pictures
    // are copied pixel for pixel.
    const qreal dpr = m_dDevicePixelRatio;
    painter.scale(1.0 / dpr, 1.0 / dpr);
    const QPoint ptOrigin = GetScrollPosition();
    painter.translate(-ptOrigin);
    const QRectF rcDirty(event->rect());
    const QRect rcClip =
        QRectF(rcDirty.topLeft() * dpr, rcDirty.size() * dpr).toAlignedRect().translated(ptOrigin);
    OnDraw(painter, rcClip);
}

QBrush CFacettaView::CheckerboardBrush() {
    static const QBrush brush = [] {
        constexpr int kSquare = 8;
        QImage tile(2 * kSquare, 2 * kSquare, QImage::Format_RGB32);
        tile.fill(QColor(255, 255, 255));
        for (int y = 0; y < 2 * kSquare; ++y)
            for (int x = 0; x < 2 * kSquare; ++x)
                if ((x < kSquare) != (y < kSquare)) tile.setPixel(x, y, qRgb(204, 204, 204));
        return QBrush(tile);
    }();
    return brush;
}

QImage CFacettaView::ReducedPicture() {
    const Picture* pSource = m_pPicture.get();
    if (m_cache.pSource == pSource && m_cache.nGeneration == m_nPictureGeneration &&
        m_cache.image.size() == QSize(m_nDisplayWidth, m_nDisplayHeight))
        return m_cache.image;
    m_cache = DisplayCache();
    QImage reduced;
    if (IsOpaque(*pSource)) {
        // Rendered pictures are opaque; Qt's smooth reduction of opaque pixels is an exact
        // area average, and several times faster than the general one below.
        reduced = OpaqueImage(*pSource).scaled(m_nDisplayWidth, m_nDisplayHeight,
                                               Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    } else {
        Picture small = Picture::Create(m_nDisplayWidth, m_nDisplayHeight);
        if (small.IsNull()) return QImage();
        std::fill_n(small.Pixels(), small.PixelCount(), 0u);
        DrawPicture(small, *pSource, RectI{0, 0, pSource->Width(), pSource->Height()},
                    RectF{0, 0, static_cast<double>(m_nDisplayWidth),
                          static_cast<double>(m_nDisplayHeight)});
        reduced = PictureAsImage(static_cast<const Picture&>(small)).copy();
    }
    if (reduced.isNull()) return QImage();
    m_cache.pSource = pSource;
    m_cache.nGeneration = m_nPictureGeneration;
    m_cache.image = reduced;
    return reduced;
}

void CFacettaView::OnDraw(QPainter& painter, const QRect& rcClip) {
    painter.fillRect(rcClip, Qt::white);
    const QRect rcArea(0, 0, m_nScrollWidth, m_nScrollHeight);

    if (!m_pPicture) {
        // Sized in pixels, so that a printed page shows it as the screen does.
        // The scroll area is in device pixels: on a dense screen the text needs as many more.
        QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        const qreal pixels =
            font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * logicalDpiY() / 72.0;
        font.setPixelSize(std::max(1, qRound(pixels * dpr)));
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(rcArea, Qt::AlignCenter | Qt::TextSingleLine, tr("正在生成"));
        return;
    }
    const Picture& picture = *m_pPicture;
    const QRect rcPicture = GetPictureRect();
    const QRect rcVisible = rcPicture.intersected(rcClip);
    if (picture.IsNull() || rcVisible.isEmpty()) return;

    painter.save();
    if (m_nFadeAlpha < 255) painter.setOpacity(std::max(0, m_nFadeAlpha) / 255.0);
    // Transparent parts show a checkerboard, as image editors do; paper stays white.
    const bool bPrinting = painter.device() && painter.device()->devType() == QInternal::Printer;
    if (m_settings.nBackMode == kBackTransparent && !bPrinting) {
        painter.setBrushOrigin(rcPicture.topLeft());
        painter.fillRect(rcVisible, CheckerboardBrush());
    }
    const QPoint ptInPicture = rcVisible.topLeft() - rcPicture.topLeft();
    const bool bReduce = m_nDisplayWidth <= picture.Width() && m_nDisplayHeight <= picture.Height();
    QImage shown;
    if (m_nDisplayWidth == picture.Width() && m_nDisplayHeight == picture.Height())
        shown = PictureAsImage(picture);
    else if (bReduce)
        shown = ReducedPicture();

    if (!shown.isNull()) {
        painter.drawImage(rcVisible.topLeft(), shown, QRect(ptInPicture, rcVisible.size()));
    } else {
        // Enlarged (or no memory for the reduced copy): only the visible part is scaled.
        const double sx = static_cast<double>(m_nDisplayWidth) / picture.Width();
        const double sy = static_cast<double>(m_nDisplayHeight) / picture.Height();
        const QRectF rcSource(ptInPicture.x() / sx, ptInPicture.y() / sy, rcVisible.width() / sx,
                              rcVisible.height() / sy);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(rcVisible), PictureAsImage(picture), rcSource);
    }
    painter.restore();
}

void CFacettaView::PaintPage(QPainter& painter, const QRect& rcPage) {
    const QRect rcClip = QRect(0, 0, m_nScrollWidth, m_nScrollHeight)
                             .intersected(QRect(QPoint(0, 0), rcPage.size()));
    painter.save();
    painter.translate(rcPage.topLeft());
    painter.setClipRect(rcClip);
    OnDraw(painter, rcClip);
    painter.restore();
}

bool CFacettaView::PrintTo(QPrinter& printer) {
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    // The painter's origin is the printable area's top-left corner.
    const QRect rcPage(QPoint(0, 0),
                       printer.pageLayout().paintRectPixels(printer.resolution()).size());
    PaintPage(painter, rcPage);
    return painter.end();
}

void CFacettaView::OnFilePrint() {
    FinishRender();
    CPrintHelper(*this).Print(true);
}

void CFacettaView::OnFilePrintDirect() {
    FinishRender();
    CPrintHelper(*this).Print(false);
}

void CFacettaView::OnFilePrintPreview() {
    FinishRender();
    CPrintHelper(*this).Preview();
}

namespace {
// Each label is shown as written; the patterns after it are what the dialog matches.
const char* const kSaveFilters[][2] = {
    {QT_TRANSLATE_NOOP("CFacettaView", "图片文件(*.jpg;*.png;*.gif;*.bmp;*.svg)"),
     "*.jpg *.png *.gif *.bmp *.svg"},
    {QT_TRANSLATE_NOOP("CFacettaView", "PNG图片(*.png)"), "*.png"},
    {QT_TRANSLATE_NOOP("CFacettaView", "JPG图片(*.jpg)"), "*.jpg"},
    {QT_TRANSLATE_NOOP("CFacettaView", "GIF图片(*.gif)"), "*.gif"},
    {QT_TRANSLATE_NOOP("CFacettaView", "BMP位图(*.bmp)"), "*.bmp"},
    {QT_TRANSLATE_NOOP("CFacettaView", "SVG矢量图(*.svg)"), "*.svg"},
};
}  // namespace

QString CFacettaView::s_strLastSaveFolder;

QStringList CFacettaView::SaveNameFilters() {
    QStringList filters;
    for (const auto& f : kSaveFilters)
        filters << QStringLiteral("%1 (%2)").arg(tr(f[0]), QString::fromUtf8(f[1]));
    return filters;
}

QString CFacettaView::SuffixOfSaveFilter(const QString& strFilter, const QString& strDefault) {
    // An entry of one format gives its extension; the entry of all formats keeps the default.
    const QStringList filters = SaveNameFilters();
    for (qsizetype i = 0; i < filters.size(); ++i) {
        if (strFilter != filters[i] && !filters[i].startsWith(strFilter)) continue;
        const QString strPatterns = QString::fromUtf8(kSaveFilters[i][1]);
        if (strPatterns.contains(u' ')) return strDefault;
        return strPatterns.mid(2);  // "*.jpg" -> "jpg"
    }
    return strDefault;
}

QString CFacettaView::SaveStartFolder() {
    // Where the last save of this run went, as the desktop's own dialogs remember it; before
    // any, the user's pictures folder, never the folder the program was started from.
    if (!s_strLastSaveFolder.isEmpty() && QFileInfo(s_strLastSaveFolder).isDir())
        return s_strLastSaveFolder;
    const QString strPictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!strPictures.isEmpty() && QFileInfo(strPictures).isDir()) return strPictures;
    return QDir::homePath();
}

QString CFacettaView::DefaultSaveName() const {
    return QDateTime::currentDateTime().toString(QStringLiteral("'Facetta_'yyyyMMddHHmm"));
}

void CFacettaView::OnSavePicture() {
    // One save at a time per window: the command again meanwhile is not taken.
    if (m_bSaving) return;
    FinishBackgroundLoad();
    FinishRender();
    if (!m_pPicture) return;
    if (m_strSavePath.isEmpty() && m_pDoc) m_strSavePath = m_pDoc->GetTitle();
    if (m_strSavePath.isEmpty()) m_strSavePath = DefaultSaveName();
    QString strSuffix = ExtensionOfPath(m_strSavePath);
    if (strSuffix.isEmpty()) strSuffix = QStringLiteral("png");
    // A bare name (the title, the time-stamped name) opens in the folder last saved to.
    const QString strInitialPath = QFileInfo(m_strSavePath).isAbsolute()
                                       ? m_strSavePath
                                       : QDir(SaveStartFolder()).filePath(m_strSavePath);

    QString strChosen;
    if (s_fnSaveDialog) {
        strChosen = s_fnSaveDialog(this, strInitialPath, strSuffix, SaveNameFilters());
    } else {
        QFileDialog dialog(this);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setNameFilters(SaveNameFilters());
        dialog.selectNameFilter(SaveNameFilters().constFirst());
        dialog.setDefaultSuffix(strSuffix);
        // A name typed without an extension gets the one of the entry the user picked.
        connect(&dialog, &QFileDialog::filterSelected, &dialog,
                [&dialog, strSuffix](const QString& strFilter) {
                    dialog.setDefaultSuffix(SuffixOfSaveFilter(strFilter, strSuffix));
                });
        dialog.selectFile(strInitialPath);
        if (ExecDialog(dialog) == QDialog::Accepted) strChosen = dialog.selectedFiles().value(0);
    }
    if (strChosen.isEmpty()) return;

    const PictureFilePath target = ResolvePictureFilePath(strChosen);
    // Remembered before writing, so that a failed save offers the same path again.
    m_strSavePath = target.path;
    s_strLastSaveFolder = QFileInfo(target.path).absolutePath();

    Status status = Status::UnknownImageFormat;
    int nOsError = 0;
    ImageEncoderId encoder{};
    m_pPicture->SetResolution(static_cast<float>(m_settings.nResolution),
                              static_cast<float>(m_settings.nResolution));
    // The job holds copies of what may change meanwhile; the picture and the mesh stay as they
    // are until the save is over (new pictures wait for it).
    std::function<SaveOutcome()> job;
    const bool bSvg = target.IsSvg();
    if (bSvg) {
        job = [settings = m_settings, pMesh = &m_mesh, pBack = m_pBackImage,
               strBack = QString::fromStdU16String(m_settings.BackImagePath()),
               strPath = target.path] {
            SaveOutcome r;
            r.status = WriteSvg(settings, *pMesh, pBack.get(), strBack, strPath, &r.nOsError);
            return r;
        };
    } else if (FindImageEncoder(target.mimeType, &encoder) >= 0) {
        job = [pPicture = static_cast<const Picture*>(m_pPicture.get()), strPath = target.path,
               encoder, nQuality = m_settings.nQuality] {
            SaveOutcome r;
            r.status = WritePicture(*pPicture, strPath, encoder, nQuality, &r.nOsError);
            return r;
        };
    }
    QPointer<CFacettaView> pGuard(this);
    if (job) {
        const SaveOutcome r = RunSave(this, job, pGuard);
        status = r.status;
        nOsError = r.nOsError;
    }
    // The window may have been closed meanwhile: what went wrong is still said, unowned.
    QWidget* pOwner = pGuard ? this : nullptr;
    if (bSvg && status == Status::GenericError) {
        ShowMessageFor(pOwner, QMessageBox::Critical, tr("背景图无法嵌入SVG文件，图片未保存。"));
    } else if (status != Status::Ok) {
        ShowMessageFor(
            pOwner, QMessageBox::Critical,
            tr("保存图片错误，错误代码：%1/%2").arg(static_cast<int>(status)).arg(nOsError));
    }
    if (pGuard) FinishSave();
}

CFacettaView::SaveOutcome CFacettaView::RunSave(CFacettaView* pView,
                                                const std::function<SaveOutcome()>& job,
                                                const QPointer<CFacettaView>& pGuard) {
    pView->m_bSaving = true;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    QFuture<SaveOutcome> future = QtConcurrent::run(job);
    pView->m_saveFuture = future;

    QEventLoop loop;
    QFutureWatcher<SaveOutcome> watcher;
    connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    // A save that lasts says so in the main window's status bar.
    QPointer<QStatusBar> pBar = pView->window()->findChild<QStatusBar*>();
    QPointer<QProgressBar> pBusy;
    QTimer noteTimer;
    noteTimer.setSingleShot(true);
    connect(&noteTimer, &QTimer::timeout, &loop, [&pBar, &pBusy] {
        if (!pBar) return;
        pBar->showMessage(tr("正在保存图片……"));
        pBusy = new QProgressBar(pBar);
        pBusy->setRange(0, 0);  // busy, without a known end
        pBusy->setMaximumWidth(160);
        pBusy->setTextVisible(false);
        pBar->insertPermanentWidget(0, pBusy);
    });
    noteTimer.start(500);
    if (!watcher.isFinished()) loop.exec();
    noteTimer.stop();
    // The loop also ends when the program quits: the file is finished all the same.
    future.waitForFinished();
    delete pBusy.data();
    if (pBar) pBar->clearMessage();
    QGuiApplication::restoreOverrideCursor();
    if (pGuard) pView->m_bSaving = false;
    return future.result();
}

void CFacettaView::FinishSave() {
    // Edits made while the file was written are shown now.
    RenderPending();
}

void CFacettaView::ShowMessage(QMessageBox::Icon icon, const QString& strText) {
    ShowMessageFor(this, icon, strText);
}

void CFacettaView::ShowMessageFor(QWidget* pParent, QMessageBox::Icon icon,
                                  const QString& strText) {
    const QString strCaption = QString::fromUtf8(kAppTitle);
    if (s_fnMessageBox) {
        s_fnMessageBox(pParent, icon, strCaption, strText);
        return;
    }
    QMessageBox box(icon, strCaption, strText, QMessageBox::Ok, pParent);
    if (s_fnExecDialog)
        s_fnExecDialog(box);
    else
        box.exec();
}

int CFacettaView::ExecDialog(QDialog& dialog) {
    if (s_fnExecDialog) return s_fnExecDialog(dialog);
    return dialog.exec();
}
