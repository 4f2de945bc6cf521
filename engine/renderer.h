#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "image_settings.h"
#include "picture.h"
#include "polygon_mesh.h"

// Paints a finished nWidth x nHeight picture: background, optional background picture,
// then the mesh's triangles. In kBackTransparent mode there is neither background nor
// background picture: the triangles lie over transparent pixels. A size that cannot be held gives a
// picture without pixels whose LastStatus() says why.
Picture RenderPicture(const ImageSettings& settings, const PolygonMesh& mesh,
                      const Picture* backImage);

// A background picture scaled into a frame once, for the pictures of that frame size to
// share: each pixel holds the colour and alpha the background picture lays on that pixel of
// the frame (alpha 0 where it lays nothing). Scaling is most of a picture's cost at large sizes.
struct ScaledBackground {
    Picture pixels;        // without pixels when there was no memory for them
    bool bOpaque = false;  // lays an opaque colour on every pixel: hides the layers below
    bool Fits(int width, int height) const {
        return !pixels.IsNull() && pixels.Width() == width && pixels.Height() == height;
    }
};
ScaledBackground ScaleBackground(int width, int height, const Picture& backImage);

// The same picture as RenderPicture(settings, mesh, backImage), with `scaled` made from
// backImage for this frame size; a `scaled` of another size is scaled anew.
Picture RenderPicture(const ImageSettings& settings, const PolygonMesh& mesh,
                      const Picture* backImage, const ScaledBackground* scaled);

// Renders the same picture a band of rows at a time, each band's pixels exactly those rows of
// RenderPicture's picture, so that a picture can be written without ever being held whole.
// Keeps references to its arguments. Render may run on several threads at once.
class BandRenderer {
public:
    BandRenderer(const ImageSettings& settings, const PolygonMesh& mesh, const Picture* backImage);
    ~BandRenderer();
    BandRenderer(const BandRenderer&) = delete;
    BandRenderer& operator=(const BandRenderer&) = delete;

    // Rows [firstRow, firstRow + rows) of the picture into the top `rows` rows of `band`, which
    // is nWidth wide. False for rows outside the picture, or when working memory ran out
    // (band.LastStatus() then says so).
    bool Render(int firstRow, int rows, Picture& band) const;

private:
    struct Parts;
    const ImageSettings m_settings;
    const PolygonMesh& m_mesh;
    const Picture* m_backImage;
    std::unique_ptr<Parts> m_parts;
};
