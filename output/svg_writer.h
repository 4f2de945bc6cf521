#pragma once
// The picture as vector shapes: the background layers, the background picture embedded in
// the file, the mesh's triangles and their outlines. It scales to any size and opens in
// browsers and vector editors.
//
// Viewers anti-alias every shape on its own, so two translucent triangles that share an edge
// let the background show through along it. Over a solid or gradient background (and without
// outlines) every shape is therefore written opaque, its paint blended beforehand with the
// background under it, and each shape reaches a little way under the later shapes that cover
// its edges. Over a background picture or a transparent background, and under outlines, the
// triangles are translucent, as drawn.
#include <QByteArray>
#include <QString>

#include "image_settings.h"
#include "picture.h"
#include "polygon_mesh.h"

// The SVG document of the picture the renderer paints from the same input. `backImage` is the
// decoded background picture (none: no picture layer); `backImagePath` its file, whose bytes
// are embedded as they are when it is PNG or JPEG and shows the decoded pixels (otherwise the
// decoded picture is embedded as PNG). Statuses:
//   Ok             `out` holds the document
//   OutOfMemory    no memory for the document
//   GenericError   the background picture cannot be embedded; *error says why
// `out` is replaced; on failure it is empty.
Status EncodeSvg(const ImageSettings& settings, const PolygonMesh& mesh, const Picture* backImage,
                 const QString& backImagePath, QByteArray& out, QString* error = nullptr);

// Writes the document atomically to `path`, as WritePicture does (a failure keeps an existing
// file as it was). Statuses as EncodeSvg's, plus Win32Error with *osError the errno when the
// OS refuses.
Status WriteSvg(const ImageSettings& settings, const PolygonMesh& mesh, const Picture* backImage,
                const QString& backImagePath, const QString& path, int* osError = nullptr,
                QString* error = nullptr);

// How far (in pixels) an opaque shape reaches under a later shape that covers its edge.
inline constexpr double kSvgOverdraw = 1.0;
