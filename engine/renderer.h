#pragma once
#include "image_settings.h"
#include "picture.h"
#include "polygon_mesh.h"

// Paints a finished nWidth x nHeight picture: background, optional background picture,
// then the mesh's triangles. In kBackTransparent mode there is neither background nor
// background picture: the triangles lie over transparent pixels. A size that cannot be held gives a picture without pixels
// whose LastStatus() says why.
Picture RenderPicture(const ImageSettings& settings, const PolygonMesh& mesh,
                      const Picture* backImage);
