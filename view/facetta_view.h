#pragma once
// The preview of one window: it owns the window's settings, mesh and full-size picture,
// makes the first picture shortly after it opens and fades it in, regenerates on command,
// takes over new settings, shows the picture centred on white at its zoom or fitted into
// the window, saves and prints it.
#include <QAbstractScrollArea>
#include <QBrush>
#include <QFutureWatcher>
#include <QImage>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "image_settings.h"
#include "picture.h"
#include "picture_image.h"
#include "polygon_mesh.h"
#include "renderer.h"

class CFacettaDoc;
class QDialog;
class QPainter;
class QPrinter;

class CFacettaView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CFacettaView(CFacettaDoc* pDoc, QWidget* parent = nullptr);
    ~CFacettaView() override;

    ImageSettings m_settings;
    PolygonMesh m_mesh;
    std::unique_ptr<Picture> m_pPicture;
    // Shared with a save that writes it into an SVG file while the window goes on.
    std::shared_ptr<Picture> m_pBackImage;
    int m_nFadeAlpha;
    float m_fZoom;  // -1: fit the window
    int m_nDisplayWidth, m_nDisplayHeight;
    QString m_strSavePath;
    static bool s_bFirstView;

    // Timer ids: the delayed first generation and the fade-in of the first picture.
    static constexpr int kStartTimer = 100;
    static constexpr int kFadeTimer = 200;

    CFacettaDoc* GetDocument() const { return m_pDoc; }

    // Starts the timer that makes the first picture; call once, when the window is shown.
    void OnInitialUpdate();
    // A new picture from the current settings, with a new mesh when asked or when there is
    // none. Does not repaint.
    void UpdatePicture(bool bNewMesh);
    // Takes over a complete settings record (copied), renders and repaints.
    void ApplySettings(const ImageSettings* pNewSettings);
    // Display size and scroll area from the settings, the zoom and the client size.
    void UpdateScrollSizes(bool bRepaint);
    void OnGeneratePreview();
    // Whether a background picture is being decoded (off the interface thread); the picture
    // follows once it is there.
    bool IsLoadingBackground() const { return m_bBackLoading; }
    // Waits for a background picture being decoded and takes it over now.
    void FinishBackgroundLoad();
    // Copies the full-size picture, making one first when there is none yet.
    void OnCopyPicture();
    // Writes the full-size picture to the wallpapers folder and sets it as the desktop
    // background, then says which desktop took it or what failed.
    void OnSetWallpaper();
    // The file is encoded and written off the interface thread while the window goes on
    // (edits are shown once it is written); returns when it is written and reported.
    void OnSavePicture();
    // Whether a save is being written.
    bool IsSaving() const { return m_bSaving; }
    // Pictures of at least this many pixels are rendered off the interface thread: their fresh
    // memory alone can take a quarter of a second to come in. The window shows the previous
    // picture (or the generating text) meanwhile, and takes edits in to render once it is done.
    static int64_t s_nWorkerRenderPixels;
    // Whether a picture is being rendered off the interface thread.
    bool IsRendering() const { return m_bRendering; }
    // Waits for a picture being rendered and takes it over now, with what waited for it.
    void FinishRender();
    void OnFilePrint();
    void OnFilePrintDirect();
    void OnFilePrintPreview();
    void OnTimer(int nIDEvent);

    // Variants: every new mesh the window shows is kept as its settings and mesh seed (not
    // its pixels), so that it can be shown again exactly. Edits that keep the mesh update
    // the shown variant; making a mesh after stepping back drops the variants ahead.
    struct Variant {
        ImageSettings settings;
        uint32_t nSeed = 0;
    };
    static constexpr size_t kMaxVariants = 500;
    const std::vector<Variant>& GetVariants() const { return m_variants; }
    // Index of the shown variant, -1 before the first.
    int GetVariantIndex() const { return m_nVariant; }
    bool CanShowPreviousVariant() const { return m_nVariant > 0; }
    bool CanShowNextVariant() const { return m_nVariant + 1 < static_cast<int>(m_variants.size()); }
    void OnPreviousVariant();
    void OnNextVariant();
    // The seed of the shown mesh; none before the first mesh.
    std::optional<uint32_t> GetSeed() const;
    // Makes the mesh of `nSeed` from these settings and shows it as a new variant.
    void ApplyVariant(const ImageSettings& settings, uint32_t nSeed);
    // Same with the current settings.
    void ApplySeed(uint32_t nSeed) { ApplyVariant(m_settings, nSeed); }
    // Puts the recipe of the shown variant on the clipboard as text, making a picture first
    // when there is none yet.
    void OnCopyRecipe();
    // Reads a recipe from the clipboard and shows it as a new variant; any other text changes
    // nothing and a message box says why.
    void OnPasteRecipe();
    // Same from a text: true when it was a recipe.
    bool PasteRecipe(const QString& strText);
    // Shows a message box captioned with the program's title (the test seam applies).
    void ReportMessage(QMessageBox::Icon icon, const QString& strText) {
        ShowMessage(icon, strText);
    }

signals:
    // The shown variant changed: a new mesh, or another variant shown. `bSettingsReplaced`
    // when the settings did not come from the settings pane (stepping, a seed, a recipe).
    void variantChanged(bool bSettingsReplaced);

public:
    // Draws the part `rcClip` of the scroll area (scroll-area coordinates; the painter's
    // origin is the scroll area's origin): white, and the picture centred at its display
    // size or the "generating" text. Used for the screen, printing and print preview.
    void OnDraw(QPainter& painter, const QRect& rcClip);
    // Grey and white squares shown under transparent parts of the picture.
    static QBrush CheckerboardBrush();
    // Paints one page: the scroll area at one device pixel per screen pixel, top-left.
    void PaintPage(QPainter& painter, const QRect& rcPage);
    // Prints to an already configured printer; false when the printer cannot be painted on.
    bool PrintTo(QPrinter& printer);

    // Size of the scroll area, and where the picture lies in it; like the display size and the
    // scroll position, in device pixels (screen pixels times the device pixel ratio).
    QSize GetScrollAreaSize() const { return QSize(m_nScrollWidth, m_nScrollHeight); }
    QRect GetPictureRect() const;
    // Top-left of the scroll area's visible part.
    QPoint GetScrollPosition() const;

    // Seams, replaceable by tests; empty means the real dialog or box.
    // Save dialog: returns the chosen path, or an empty string when cancelled.
    using SaveDialogFunction =
        std::function<QString(QWidget* pParent, const QString& strInitialPath,
                              const QString& strDefaultSuffix, const QStringList& nameFilters)>;
    using MessageBoxFunction =
        std::function<void(QWidget* pParent, QMessageBox::Icon icon, const QString& strCaption,
                           const QString& strText)>;
    // Runs a modal dialog (print, print preview) and returns its result.
    using DialogExecFunction = std::function<int(QDialog& dialog)>;
    static SaveDialogFunction s_fnSaveDialog;
    static MessageBoxFunction s_fnMessageBox;
    static DialogExecFunction s_fnExecDialog;

    // The save dialog's filters, in the order shown, the first selected.
    static QStringList SaveNameFilters();
    // The extension a name typed without one gets under a filter of the save dialog.
    static QString SuffixOfSaveFilter(const QString& strFilter, const QString& strDefault);
    // The folder a save dialog opens in when the window has saved nothing yet.
    static QString SaveStartFolder();
    // The folder of the last save in this run (empty before the first).
    static QString s_strLastSaveFolder;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class CPrintHelper;
    void ShowMessage(QMessageBox::Icon icon, const QString& strText);
    static void ShowMessageFor(QWidget* pParent, QMessageBox::Icon icon, const QString& strText);
    int ExecDialog(QDialog& dialog);
    struct SaveOutcome {
        Status status = Status::UnknownImageFormat;
        int nOsError = 0;
    };
    // Runs `job` on a worker thread, keeping the interface going, with a wait cursor and, when
    // it lasts, a note in the status bar. `pGuard` turns null when the view is destroyed
    // meanwhile (its destructor waits for the file).
    static SaveOutcome RunSave(CFacettaView* pView, const std::function<SaveOutcome()>& job,
                               const QPointer<CFacettaView>& pGuard);
    void FinishSave();
    QString DefaultSaveName() const;
    // The picture reduced to the display size, made once per picture and display size; a null
    // image when there is no memory for it.
    QImage ReducedPicture();
    // Takes a settings record over: reloads the background picture when its path changed.
    // True when the mesh depends on a field that changed.
    bool TakeSettings(const ImageSettings& s);
    void ShowVariant(int nIndex);

    void StartBackgroundLoad(const QString& strPath);
    void OnBackgroundLoaded(uint64_t nLoad);
    // For commands that need the full-size picture: waits for what is being loaded or rendered,
    // and makes a picture when there is none.
    void PictureNow();
    // Shows a new picture: the fade-in starts with the first.
    void TakePicture(std::unique_ptr<Picture> pPicture);
    void StartRender();
    void OnRenderFinished(uint64_t nRender);
    // Edits taken in while something held pictures back are rendered now.
    void RenderPending();

    CFacettaDoc* m_pDoc;
    QTimer m_startTimer;
    QTimer m_fadeTimer;
    int m_nScrollWidth = 0;
    int m_nScrollHeight = 0;
    uint64_t m_nPictureGeneration = 0;  // bumped by every new picture
    qreal m_dDevicePixelRatio = 1.0;    // of the screen the last layout was made for
    bool m_bInScrollUpdate = false;
    bool m_bScrollSizeStale = false;

    struct DisplayCache {
        const Picture* pSource = nullptr;
        uint64_t nGeneration = 0;
        QImage image;
    };
    DisplayCache m_cache;

    std::vector<Variant> m_variants;
    int m_nVariant = -1;
    std::optional<uint32_t> m_nextSeed;  // the seed the next mesh is made from, once
    bool m_bRecordVariant = true;        // off while an earlier variant is shown again
    // The background picture's decoding: the newest load only counts; a picture is asked for
    // while it runs is made once it is done.
    QFutureWatcher<std::shared_ptr<DecodedPicture>> m_backWatcher;
    uint64_t m_nBackLoad = 0;
    bool m_bBackLoading = false;
    bool m_bRenderPending = false;
    // A picture being rendered off the interface thread; the newest render only counts.
    QFutureWatcher<std::shared_ptr<Picture>> m_renderWatcher;
    uint64_t m_nRender = 0;
    bool m_bRendering = false;
    // A save being written: the picture it reads must stay as it is, so pictures wait for it.
    bool m_bSaving = false;
    QFuture<SaveOutcome> m_saveFuture;
    bool m_bPendingNewMesh = false;
    // The frame the background was decoded for, when it was decoded reduced: a larger frame
    // decodes it again.
    QSize m_backReducedFor;
    QSize m_backLoadFrame;  // the frame the running load decodes for
    // The background picture scaled to the frame, kept for the pictures of that size: only a
    // new size or a new background picture scales it again.
    std::unique_ptr<ScaledBackground> m_pScaledBack;
    std::weak_ptr<Picture> m_scaledFrom;
    const ScaledBackground* ScaledBackImage();
};
