// GenerateMesh + RenderPicture on random settings records: every one of the fifteen fields
// is taken from the input, plus a seed and an optional small background picture.
// Checked beyond the sanitizers: the mesh's invariants, and that a rendered picture has
// the asked size and is opaque everywhere.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz_check.h"
#include "image_settings.h"
#include "picture.h"
#include "polygon_mesh.h"
#include "renderer.h"

namespace {

// Keep one execution small: pictures beyond this are refused by Picture::Create (which is
// itself under test), meshes beyond this are folded to smaller sizes before generating.
constexpr size_t kMaxPictureBytes = size_t{1} << 20;
constexpr int64_t kMaxVertices = int64_t{1} << 14;

// Rough vertex count GenerateMesh would make; only used to keep runs small.
int64_t EstimateVertices(const ImageSettings& s) {
    int64_t W = int64_t{s.nWidth} + 100;
    int64_t H = int64_t{s.nHeight} + 100;
    if (W <= 0 || H <= 0) return 0;
    int64_t cell = s.nPolySize;
    if (cell == 0) cell = std::clamp<int64_t>((W + H) / 15, 70, 150);
    if (W > H) H = std::max(H, W * 9 / 16 + 100);
    if (cell <= 0) return 0;
    return (W / cell + 1) * (H / cell + 1);
}

void CheckMesh(const ImageSettings& s, const PolygonMesh& mesh) {
    FUZZ_CHECK(mesh.nCols > 0 && mesh.nRows > 0);
    FUZZ_CHECK(int64_t{mesh.nVertexCount} == int64_t{mesh.nCols + 1} * (mesh.nRows + 1));
    FUZZ_CHECK(int64_t{mesh.nTriangleCount} == 2 * int64_t{mesh.nCols} * mesh.nRows);
    FUZZ_CHECK(mesh.pVertices.size() == static_cast<size_t>(mesh.nVertexCount));
    FUZZ_CHECK(mesh.pTriangles.size() == static_cast<size_t>(mesh.nTriangleCount));
    const int64_t right = int64_t{mesh.nCols} * mesh.nCellWidth;
    const int64_t bottom = int64_t{mesh.nRows} * mesh.nCellHeight;
    for (const MeshVertex& v : mesh.pVertices) {
        if (v.homeX == 0 || v.homeX == right) {
            FUZZ_CHECK(v.x == v.homeX);
        } else {
            FUZZ_CHECK(v.x >= int64_t{v.homeX} - mesh.nCellWidth / 2);
            FUZZ_CHECK(v.x <= int64_t{v.homeX} - mesh.nCellWidth / 2 + mesh.nCellWidth);
        }
        if (v.homeY == 0 || v.homeY == bottom) {
            FUZZ_CHECK(v.y == v.homeY);
        } else {
            FUZZ_CHECK(v.y >= int64_t{v.homeY} - mesh.nCellHeight / 2);
            FUZZ_CHECK(v.y <= int64_t{v.homeY} - mesh.nCellHeight / 2 + mesh.nCellHeight);
        }
    }
    const int32_t a1 = OpacityToAlpha(s.nStartOpacity), a2 = OpacityToAlpha(s.nEndOpacity);
    for (const MeshTriangle& t : mesh.pTriangles) {
        for (int32_t i : {t.a, t.b, t.c}) FUZZ_CHECK(i >= 0 && i < mesh.nVertexCount);
        FUZZ_CHECK(t.alpha >= std::min(a1, a2) && t.alpha <= std::max(a1, a2));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Picture::SetMaxBytes(kMaxPictureBytes);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    ImageSettings s;
    s.nWidth = in.ConsumeIntegral<int32_t>();
    s.nHeight = in.ConsumeIntegral<int32_t>();
    s.nResolution = in.ConsumeIntegral<int32_t>();
    s.nQuality = in.ConsumeIntegral<int32_t>();
    s.nBackMode = in.ConsumeIntegral<int32_t>();
    s.crBackColor = in.ConsumeIntegral<uint32_t>();
    s.crGradColor1 = in.ConsumeIntegral<uint32_t>();
    s.crGradColor2 = in.ConsumeIntegral<uint32_t>();
    s.nPolySize = in.ConsumeIntegral<int32_t>();
    s.crPolyColor = in.ConsumeIntegral<uint32_t>();
    s.nStartOpacity = in.ConsumeIntegral<int32_t>();
    s.nEndOpacity = in.ConsumeIntegral<int32_t>();
    s.crLineColor = in.ConsumeIntegral<uint32_t>();
    s.nLineOpacity = in.ConsumeIntegral<int32_t>();
    const size_t pathLength = in.ConsumeIntegralInRange<size_t>(0, kBackImagePathLength - 1);
    for (size_t i = 0; i < pathLength; ++i) s.szBackImage[i] = in.ConsumeIntegral<char16_t>();
    const uint32_t seed = in.ConsumeIntegral<uint32_t>();

    if (EstimateVertices(s) > kMaxVertices) {
        s.nWidth %= 4096;
        s.nHeight %= 4096;
        if (EstimateVertices(s) > kMaxVertices) s.nPolySize = 0;
    }

    Picture back;
    if (in.ConsumeBool()) {
        const int iw = in.ConsumeIntegralInRange(1, 48), ih = in.ConsumeIntegralInRange(1, 48);
        back = Picture::Create(iw, ih);
        FUZZ_CHECK(!back.IsNull());
        for (size_t i = 0; i < back.PixelCount(); ++i)
            back.Pixels()[i] = in.ConsumeIntegral<uint32_t>();
    }

    PolygonMesh mesh;
    const MeshResult result = GenerateMesh(s, mesh, seed);
    if (result == MeshResult::Ok) {
        CheckMesh(s, mesh);
        PolygonMesh again;
        FUZZ_CHECK(GenerateMesh(s, again, seed) == MeshResult::Ok);
        FUZZ_CHECK(again.pVertices.size() == mesh.pVertices.size());
        FUZZ_CHECK(std::equal(
            mesh.pVertices.begin(), mesh.pVertices.end(), again.pVertices.begin(),
            [](const MeshVertex& a, const MeshVertex& b) { return a.x == b.x && a.y == b.y; }));
    } else {
        FUZZ_CHECK(mesh.IsEmpty() && mesh.pVertices.empty());
    }

    // The view renders whatever mesh it has, an empty one included.
    const Picture picture = RenderPicture(s, mesh, back.IsNull() ? nullptr : &back);
    if (picture.IsNull()) {
        FUZZ_CHECK(picture.LastStatus() != Status::Ok);
        return 0;
    }
    FUZZ_CHECK(picture.Width() == s.nWidth && picture.Height() == s.nHeight);
    // Every background layer is opaque; only the transparent mode leaves pixels see-through.
    if (s.nBackMode != kBackTransparent) {
        for (size_t i = 0; i < picture.PixelCount(); ++i)
            FUZZ_CHECK((picture.Pixels()[i] >> 24) == 0xFF);
    }
    return 0;
}
