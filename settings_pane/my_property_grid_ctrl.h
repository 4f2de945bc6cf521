#pragma once
#include "property_grid.h"

// The settings pane's grid.
class CMyMFCPropertyGridCtrl : public CPropertyGrid {
    Q_OBJECT
public:
    using CPropertyGrid::CPropertyGrid;
    ~CMyMFCPropertyGridCtrl() override = default;
};
