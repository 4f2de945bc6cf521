#pragma once
#include "image_settings.h"
#include "picture.h"
#include "polygon_mesh.h"

// Paints a finished nWidth x nHeight picture: background, optional background picture,
// then the mesh's triangles. A size that cannot be held gives a picture without pixels
// whose LastStatus() says why.
Picture RenderPicture(const ImageSettings& settings, const PolygonMesh& mesh,
                      const Picture* backImage);
