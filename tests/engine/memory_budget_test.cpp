// The process-wide memory budget: pictures and meshes hold their bytes on it while they live,
// and what would go beyond it is refused before anything is allocated.
#include <gtest/gtest.h>

#include <cstddef>
#include <utility>

#include "memory_budget.h"
#include "picture.h"
#include "polygon_mesh.h"

namespace {

class Budget : public ::testing::Test {
protected:
    void SetUp() override { m_saved = MemoryBudget::Limit(); }
    void TearDown() override { MemoryBudget::SetLimit(m_saved); }
    size_t m_saved = 0;
};

TEST_F(Budget, PicturesHoldTheirBytesAndWhatIsLeftIsAllThatCanBeHad) {
    const size_t before = MemoryBudget::InUse();
    MemoryBudget::SetLimit(before + 3 * 1000 * 1000 * 4 / 2);  // one and a half 1000x1000 pictures
    {
        Picture a = Picture::Create(1000, 1000);
        ASSERT_FALSE(a.IsNull());
        EXPECT_EQ(MemoryBudget::InUse(), before + a.ByteCount());
        // Each fits alone, both together do not: the second is refused like a size too large.
        Picture b = Picture::Create(1000, 1000);
        EXPECT_TRUE(b.IsNull());
        EXPECT_EQ(b.LastStatus(), Status::OutOfMemory);
        EXPECT_EQ(MemoryBudget::InUse(), before + a.ByteCount());
        // A move carries the charge along; only one picture is counted.
        Picture moved = std::move(a);
        EXPECT_EQ(MemoryBudget::InUse(), before + moved.ByteCount());
    }
    EXPECT_EQ(MemoryBudget::InUse(), before);
    // Released, the room is there again.
    EXPECT_FALSE(Picture::Create(1000, 1000).IsNull());
    EXPECT_EQ(MemoryBudget::InUse(), before);
}

TEST_F(Budget, MeshesAreCountedBeforeTheyAreAllocated) {
    ImageSettings s = DefaultSettings();
    s.nWidth = 3000;
    s.nHeight = 2000;
    s.nPolySize = 2;
    const size_t before = MemoryBudget::InUse();
    PolygonMesh mesh;
    ASSERT_EQ(GenerateMesh(s, mesh, 7), MeshResult::Ok);
    const size_t held = MemoryBudget::InUse() - before;
    EXPECT_GE(held, mesh.pVertices.capacity() * sizeof(MeshVertex) +
                        mesh.pTriangles.capacity() * sizeof(MeshTriangle));
    {
        // A copy holds memory of its own.
        const PolygonMesh copy = mesh;
        EXPECT_EQ(MemoryBudget::InUse(), before + 2 * held);
    }
    mesh.Clear();
    EXPECT_EQ(MemoryBudget::InUse(), before);

    // One byte short: refused, and nothing was allocated.
    MemoryBudget::SetLimit(before + held - 1);
    EXPECT_EQ(GenerateMesh(s, mesh, 7), MeshResult::OutOfMemory);
    EXPECT_TRUE(mesh.IsEmpty());
    EXPECT_EQ(mesh.pVertices.capacity(), 0u);
    EXPECT_EQ(MemoryBudget::InUse(), before);
    MemoryBudget::SetLimit(before + held);
    EXPECT_EQ(GenerateMesh(s, mesh, 7), MeshResult::Ok);
}

// What the system says it can still give refuses large requests even within the limit.
TEST_F(Budget, LargeRequestsAreCheckedAgainstWhatTheSystemHasAvailable) {
    static uint64_t s_available = 0;
    MemoryBudget::SetAvailableProbe([] { return s_available; });
    s_available = uint64_t{40} << 20;
    EXPECT_TRUE(MemoryBudget::WouldFit(size_t{36} << 20));
    EXPECT_FALSE(MemoryBudget::WouldFit(size_t{48} << 20));
    EXPECT_FALSE(Picture::Create(3000, 3000).IsNull());  // 36 MB: fits
    s_available = uint64_t{20} << 20;
    EXPECT_TRUE(Picture::Create(3000, 3000).IsNull());
    EXPECT_FALSE(Picture::Create(2000, 2000).IsNull());  // small requests do not ask
    MemoryBudget::SetAvailableProbe(nullptr);
    EXPECT_FALSE(Picture::Create(3000, 3000).IsNull());
}

}  // namespace
