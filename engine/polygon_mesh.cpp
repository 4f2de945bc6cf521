#include "polygon_mesh.h"

#include <algorithm>
#include <limits>
#include <new>

#include "random.h"

void PolygonMesh::Clear() {
    pVertices.clear();
    pVertices.shrink_to_fit();
    pTriangles.clear();
    pTriangles.shrink_to_fit();
    charge.Reset();
    nVertexCount = nTriangleCount = 0;
    nCols = nRows = nCellWidth = nCellHeight = 0;
}

MeshResult GenerateMesh(const ImageSettings& settings, PolygonMesh& mesh) {
    return GenerateMesh(settings, mesh, FreshSeed());
}

MeshResult GenerateMesh(const ImageSettings& settings, PolygonMesh& mesh, uint32_t seed) {
    mesh.Clear();
    mesh.nSeed = seed;
    SeedRandom(seed);

    // 64-bit throughout: widths near the 32-bit limit must not overflow.
    int64_t W = int64_t{settings.nWidth} + 100;
    int64_t H = int64_t{settings.nHeight} + 100;
    if (W <= 0 || H <= 0) return MeshResult::InvalidSettings;

    int64_t cell = settings.nPolySize;
    if (cell == 0) cell = std::clamp<int64_t>((W + H) / 15, 70, 150);
    if (W > H) H = std::max(H, W * 9 / 16 + 100);

    if (cell <= 0) return MeshResult::InvalidSettings;
    const int64_t cols = W / cell;
    const int64_t rows = H / cell;
    if (cols <= 0 || rows <= 0) return MeshResult::InvalidSettings;

    // Vertex positions must fit 32 bits, and the arrays must fit memory.
    if (W > std::numeric_limits<int32_t>::max() || H > std::numeric_limits<int32_t>::max())
        return MeshResult::OutOfMemory;
    const int64_t nx = cols + 1;
    const int64_t vertexCount = nx * (rows + 1);
    if (cols > kMaxMeshVertices || rows > kMaxMeshVertices || vertexCount > kMaxMeshVertices)
        return MeshResult::OutOfMemory;
    const int64_t triangleCount = 2 * cols * rows;

    const int32_t cellW = static_cast<int32_t>(W / cols);
    const int32_t cellH = static_cast<int32_t>(H / rows);
    const int32_t right = static_cast<int32_t>(cols * cellW);
    const int32_t bottom = static_cast<int32_t>(rows * cellH);

    // Counted before anything is allocated.
    mesh.charge = MemoryCharge::Take(static_cast<size_t>(vertexCount) * sizeof(MeshVertex) +
                                     static_cast<size_t>(triangleCount) * sizeof(MeshTriangle));
    if (!mesh.charge.Held()) return MeshResult::OutOfMemory;
    try {
        mesh.pVertices.resize(static_cast<size_t>(vertexCount));
        mesh.pTriangles.reserve(static_cast<size_t>(triangleCount));
    } catch (const std::bad_alloc&) {
        mesh.Clear();
        return MeshResult::OutOfMemory;
    }

    const int32_t alphaStart = OpacityToAlpha(settings.nStartOpacity);
    const int32_t alphaEnd = OpacityToAlpha(settings.nEndOpacity);
    auto drawAlpha = [&] {
        return alphaStart == alphaEnd ? alphaStart : RandomBetween(alphaStart, alphaEnd);
    };

    for (int64_t r = 0; r <= rows; ++r) {
        for (int64_t c = 0; c <= cols; ++c) {
            MeshVertex& v = mesh.pVertices[static_cast<size_t>(r * nx + c)];
            v.homeX = v.x = static_cast<int32_t>(c * cellW);
            v.homeY = v.y = static_cast<int32_t>(r * cellH);
        }
    }

    const int32_t nx32 = static_cast<int32_t>(nx);
    for (int32_t k = 0; k < static_cast<int32_t>(vertexCount); ++k) {
        const MeshVertex& v = mesh.pVertices[static_cast<size_t>(k)];
        if (v.homeX == right || v.homeY == bottom) continue;
        const int32_t tl = k, tr = k + 1, bl = k + nx32, br = k + nx32 + 1;
        const int d = NextRandom() % 2;
        // A d = 1 cell covers one quarter twice and leaves the opposite quarter bare.
        MeshTriangle first{tl, bl, d == 0 ? br : tr, 0};
        first.alpha = drawAlpha();
        mesh.pTriangles.push_back(first);
        MeshTriangle second{tl, tr, br, 0};
        second.alpha = drawAlpha();
        mesh.pTriangles.push_back(second);
    }

    mesh.nTriangleCount = static_cast<int32_t>(mesh.pTriangles.size());
    mesh.nVertexCount = static_cast<int32_t>(vertexCount);
    mesh.nCols = static_cast<int32_t>(cols);
    mesh.nRows = static_cast<int32_t>(rows);
    mesh.nCellWidth = cellW;
    mesh.nCellHeight = cellH;

    for (MeshVertex& v : mesh.pVertices) {
        if (v.homeX != 0 && v.homeX != right) v.x = v.homeX - cellW / 2 + RandomBetween(0, cellW);
        if (v.homeY != 0 && v.homeY != bottom) v.y = v.homeY - cellH / 2 + RandomBetween(0, cellH);
    }
    return MeshResult::Ok;
}
