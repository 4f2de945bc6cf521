#pragma once
// Pictures the output benchmarks share: rendered once per size and mode, from a fixed seed and
// fixed colours, so that every run measures the same bytes.
#include <map>
#include <memory>
#include <tuple>

#include "image_settings.h"
#include "picture.h"
#include "polygon_mesh.h"
#include "renderer.h"

inline const Picture& RenderedPicture(int width, int height, int mode) {
    static std::map<std::tuple<int, int, int>, std::unique_ptr<Picture>> cache;
    auto& slot = cache[{width, height, mode}];
    if (!slot) {
        ImageSettings s = DefaultSettings();
        s.nWidth = width;
        s.nHeight = height;
        s.nBackMode = mode;
        s.crBackColor = s.crGradColor1 = kPalette[6];
        s.crGradColor2 = kPalette[9];
        PolygonMesh mesh;
        GenerateMesh(s, mesh, 20170326u);
        slot = std::make_unique<Picture>(RenderPicture(s, mesh, nullptr));
        slot->SetResolution(120, 120);
    }
    return *slot;
}
