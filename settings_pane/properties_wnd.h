#pragma once
// The settings pane: a dockable property list showing the active preview window's settings
// and handing every committed edit back to that window.
#include <cstdint>
#include <functional>
#include <optional>

#include <QDockWidget>
#include <QFont>

#include "image_settings.h"
#include "my_property_grid_ctrl.h"

class CFacettaView;
class CGridFileProperty;
class CMyColorProperty;
class CMyComboProperty;
class CMyIntProperty;

class CPropertiesWnd : public QDockWidget {
    Q_OBJECT
public:
    static constexpr int kPropListId = 152;

    explicit CPropertiesWnd(const QString& title, QWidget* parent = nullptr);
    ~CPropertiesWnd() override;

    // Shows a view's settings; keeps nothing of the record.
    void BindSettings(const ImageSettings* pSettings);
    // Shows the active view's mesh seed in the row "种子"; empty before its first mesh.
    void BindSeed(std::optional<uint32_t> seed);
    // How the pane finds the view an edit goes to.
    void SetActiveViewProvider(std::function<CFacettaView*()> provider);
    // Shows the background colour for a solid background, the gradient colours otherwise.
    void UpdateColorVisibility(int32_t nBackMode);
    // Rebuilds the whole record from the list, corrects it and applies it to the active view.
    int OnPropertyChanged(int nCtrlId, CGridProperty* pProperty);
    // Shows a new picture size and applies it as a typed value would be.
    void ApplyPictureSize(int32_t nWidth, int32_t nHeight);

    CMyMFCPropertyGridCtrl& PropList() { return m_wndPropList; }

    CMyIntProperty* m_pPropWidth = nullptr;
    CMyIntProperty* m_pPropHeight = nullptr;
    CMyIntProperty* m_pPropResolution = nullptr;
    CMyIntProperty* m_pPropQuality = nullptr;
    CMyComboProperty* m_pPropBackMode = nullptr;
    CMyColorProperty* m_pPropBackColor = nullptr;
    CMyColorProperty* m_pPropGradColor1 = nullptr;
    CMyColorProperty* m_pPropGradColor2 = nullptr;
    CMyComboProperty* m_pPropPolySize = nullptr;
    CMyColorProperty* m_pPropPolyColor = nullptr;
    CMyIntProperty* m_pPropStartOpacity = nullptr;
    CMyIntProperty* m_pPropEndOpacity = nullptr;
    CMyColorProperty* m_pPropLineColor = nullptr;
    CMyIntProperty* m_pPropLineOpacity = nullptr;
    CGridFileProperty* m_pPropBackImage = nullptr;
    CGridProperty* m_pPropSeed = nullptr;  // group "变体": the mesh seed, typed as text

protected:
    bool event(QEvent* event) override;

private:
    void InitPropList();
    void SetPropListFont();
    void AdjustLayout();
    void OnSeedChanged(CFacettaView* pView);

    QFont m_fntPropList;
    CMyMFCPropertyGridCtrl m_wndPropList;
    std::function<CFacettaView*()> m_activeViewProvider;
};
