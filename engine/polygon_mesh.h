#pragma once
// The random vertex grid and triangle list of one preview window.
#include <cstdint>
#include <vector>

#include "image_settings.h"
#include "memory_budget.h"

struct MeshVertex {
    int32_t x = 0;
    int32_t y = 0;
    int32_t homeX = 0;
    int32_t homeY = 0;
};

// Corners are indices into PolygonMesh::pVertices, so a triangle follows its corners
// when they are moved after the triangles were built.
struct MeshTriangle {
    int32_t a = 0;
    int32_t b = 0;
    int32_t c = 0;
    int32_t alpha = 0;  // only the low 8 bits are drawn
};

struct PolygonMesh {
    std::vector<MeshVertex> pVertices;
    int32_t nVertexCount = 0;
    std::vector<MeshTriangle> pTriangles;
    int32_t nTriangleCount = 0;

    // How the last generation laid the grid out, and the seed it drew from.
    uint32_t nSeed = 0;
    int32_t nCols = 0;
    int32_t nRows = 0;
    int32_t nCellWidth = 0;
    int32_t nCellHeight = 0;

    // The arrays' memory, held on the process-wide budget.
    MemoryCharge charge;

    bool IsEmpty() const { return nTriangleCount == 0; }
    void Clear();
};

enum class MeshResult {
    Ok,
    InvalidSettings,  // a grid with no cells: polygon size negative or larger than the grid
    OutOfMemory,      // the grid is too large to hold, or more than the memory budget has left
};

// Vertex limit: beyond it a generation reports OutOfMemory instead of trying to allocate.
constexpr int64_t kMaxMeshVertices = int64_t{1} << 26;

// Replaces `mesh` with a new random mesh drawn from a fresh seed.
MeshResult GenerateMesh(const ImageSettings& settings, PolygonMesh& mesh);
// Same from a given seed: the same seed and settings give the same mesh everywhere.
MeshResult GenerateMesh(const ImageSettings& settings, PolygonMesh& mesh, uint32_t seed);
