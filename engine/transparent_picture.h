#pragma once
#include "image_settings.h"
#include "picture.h"
#include "polygon_mesh.h"

// The mesh's triangles and outlines over fully transparent pixels: straight alpha, source
// over, no background layer and no background picture.
//
// Drawing over an opaque background is affine in the background's colour: a pixel becomes
// P + T * B, with P the colour the shapes add (premultiplied) and T what they let through.
// So the mesh is drawn twice, over black (giving P) and over white (giving P + T * 255),
// and alpha = 1 - T follows, each within a level or so of the exact value. The straight
// colour of a pixel is a mix of the triangle colour and the outline colour only; it is taken
// as the point of that segment nearest to P / alpha, which keeps faint pixels (where P / alpha
// magnifies the rounding) on the colours the picture can hold. Without outlines it is
// exactly the triangle colour.
Picture RenderTransparentPicture(const ImageSettings& settings, const PolygonMesh& mesh);
