#include "svg_writer.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <map>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "picture_writer.h"

namespace {

struct Pt {
    double x = 0;
    double y = 0;
};
using Poly = std::vector<Pt>;

double Cross(Pt o, Pt a, Pt b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

double SignedArea(const Poly& p) {
    double a = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        const Pt& u = p[i];
        const Pt& v = p[(i + 1) % p.size()];
        a += u.x * v.y - v.x * u.y;
    }
    return a / 2;
}

// The part of `poly` where nx * x + ny * y <= c.
Poly ClipHalfPlane(const Poly& poly, double nx, double ny, double c) {
    Poly out;
    for (size_t i = 0; i < poly.size(); ++i) {
        const Pt& p = poly[i];
        const Pt& q = poly[(i + 1) % poly.size()];
        const double fp = nx * p.x + ny * p.y - c, fq = nx * q.x + ny * q.y - c;
        if (fp <= 0) out.push_back(p);
        if ((fp < 0 && fq > 0) || (fp > 0 && fq < 0)) {
            const double t = fp / (fp - fq);
            out.push_back({p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)});
        }
    }
    return out;
}

// The intersection of `a` with the convex polygon `b`.
Poly Intersect(Poly a, const Poly& b) {
    const double orient = SignedArea(b) >= 0 ? 1 : -1;
    for (size_t i = 0; i < b.size() && !a.empty(); ++i) {
        const Pt& p = b[i];
        const Pt& q = b[(i + 1) % b.size()];
        // Inside of b is where Cross(p, q, x) * orient >= 0.
        const double nx = (q.y - p.y) * orient, ny = -(q.x - p.x) * orient;
        a = ClipHalfPlane(a, nx, ny, nx * p.x + ny * p.y);
    }
    return a;
}

// Colours as doubles so that a chain of tints rounds once.
struct Rgb {
    double r = 0, g = 0, b = 0;
};
Rgb RgbOf(COLORREF c) {
    return {double(GetRValue(c)), double(GetGValue(c)), double(GetBValue(c))};
}
Rgb Blend(const Rgb& src, int alpha, const Rgb& dst) {
    const double a = alpha / 255.0;
    return {src.r * a + dst.r * (1 - a), src.g * a + dst.g * (1 - a), src.b * a + dst.b * (1 - a)};
}
uint32_t Packed(const Rgb& c) {
    auto ch = [](double v) { return static_cast<uint32_t>(std::clamp(std::lround(v), 0L, 255L)); };
    return (ch(c.r) << 16) | (ch(c.g) << 8) | ch(c.b);
}

void AppendHex(std::string& s, uint32_t rgb) {
    static const char kDigits[] = "0123456789abcdef";
    s += '#';
    for (int shift = 20; shift >= 0; shift -= 4) s += kDigits[(rgb >> shift) & 0xF];
}

// Up to two decimals, no trailing zeros: enough for shapes that meet exactly, since the
// shapes that share a point write the same number for it.
void AppendNum(std::string& s, double v) {
    const long long hundredths = std::llround(v * 100);
    if (hundredths % 100 == 0) {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, hundredths / 100);
        s.append(buf, r.ptr);
        return;
    }
    char buf[32];
    const auto r =
        std::to_chars(buf, buf + sizeof buf, hundredths / 100.0, std::chars_format::fixed, 2);
    std::string_view text(buf, static_cast<size_t>(r.ptr - buf));
    while (text.back() == '0') text.remove_suffix(1);
    s.append(text);
}

void AppendInt(std::string& s, long long v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    s.append(buf, r.ptr);
}

// The gradient of a background mode, as its layers blend into one opaque paint.
struct BackPaint {
    bool gradient = false;  // false: `c0` everywhere
    Rgb c0, c1;             // opaque colours at p0 and p1
    Pt p0, p1;
    // The layers as drawn: the solid colour when `solidLayer`, then the gradient layer with
    // its own colours and alphas.
    bool solidLayer = true;
    uint32_t layerArgb0 = 0, layerArgb1 = 0;
};

BackPaint BackPaintFor(const ImageSettings& s) {
    const int w = s.nWidth, h = s.nHeight;
    BackPaint bp;
    const Rgb solid = RgbOf(s.crBackColor);
    bp.c0 = bp.c1 = solid;
    const uint32_t g1 = MakeArgb(s.crGradColor1, 255), g2 = MakeArgb(s.crGradColor2, 255);
    Pt p0{0, 0}, p1{0, 0};
    uint32_t a0 = g1, a1 = g2;
    switch (s.nBackMode) {
        case kBackLeftRight:
            p1 = {double(w), 0};
            break;
        case kBackLeftMiddleRight:
            p1 = {double(w / 2), 0};
            break;
        case kBackTopBottom:
            p1 = {0, double(h)};
            break;
        case kBackTopMiddleBottom:
            p1 = {0, double(h / 2)};
            break;
        case kBackTopLeftBottomRight:
            p1 = {double(w), double(h)};
            break;
        case kBackBottomLeftTopRight:
            p0 = {0, double(h)};
            p1 = {double(w), 0};
            break;
        default:
            // The solid colour with a dark shade at both side edges.
            p1 = {double(w / 2), 0};
            a0 = w < 300 ? 0x50000000u : 0x78000000u;
            a1 = 0;
            break;
    }
    if (p0.x == p1.x && p0.y == p1.y) return bp;  // no direction: the gradient draws nothing
    bp.gradient = true;
    bp.p0 = p0;
    bp.p1 = p1;
    bp.layerArgb0 = a0;
    bp.layerArgb1 = a1;
    auto over = [&solid](uint32_t argb) {
        const Rgb c{double((argb >> 16) & 0xFF), double((argb >> 8) & 0xFF), double(argb & 0xFF)};
        return Blend(c, int(argb >> 24), solid);
    };
    bp.c0 = over(a0);
    bp.c1 = over(a1);
    bp.solidLayer = (a0 >> 24) != 255 || (a1 >> 24) != 255;
    return bp;
}

constexpr int kNoId = INT32_MIN;

// One shape to write: a triangle of the mesh, or a piece of a cell that two triangles cover
// differently. `ids` name its corners (mesh vertices, or a cell's diagonal crossing) so that
// shapes sharing an edge can find each other; shapes from clipping have none.
struct Shape {
    Poly poly;
    int ids[3] = {kNoId, kNoId, kNoId};
    std::vector<int> tints;   // alphas laid over the background, in order
    std::vector<Poly> under;  // overdraw: strips of later shapes next to this one's edges
};

Shape Tri(Pt a, Pt b, Pt c, int ia, int ib, int ic, int alpha) {
    Shape s;
    s.poly = {a, b, c};
    s.ids[0] = ia;
    s.ids[1] = ib;
    s.ids[2] = ic;
    s.tints = {alpha};
    return s;
}

// Where segments p-q and r-s cross strictly inside both, if they do.
bool Crossing(Pt p, Pt q, Pt r, Pt s, Pt& x) {
    const double d = (q.x - p.x) * (s.y - r.y) - (q.y - p.y) * (s.x - r.x);
    if (d == 0) return false;
    const double t = ((r.x - p.x) * (s.y - r.y) - (r.y - p.y) * (s.x - r.x)) / d;
    const double u = ((r.x - p.x) * (q.y - p.y) - (r.y - p.y) * (q.x - p.x)) / d;
    constexpr double kEps = 1e-9;
    if (t <= kEps || t >= 1 - kEps || u <= kEps || u >= 1 - kEps) return false;
    x = {p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)};
    return true;
}

// The shapes of opaque mode, in drawing order. Two triangles of one cell that overlap (a cell
// cut both ways leaves a quarter covered twice) become pieces that do not: the quarter gets
// both tints as a shape of its own.
std::vector<Shape> OpaqueShapes(const PolygonMesh& mesh, const std::vector<bool>& drawn) {
    const auto& v = mesh.pVertices;
    const auto& tris = mesh.pTriangles;
    auto pt = [&v](int i) { return Pt{double(v[size_t(i)].x), double(v[size_t(i)].y)}; };
    std::vector<Shape> shapes;
    shapes.reserve(tris.size() + tris.size() / 2);
    for (size_t i = 0; i < tris.size(); ++i) {
        if (!drawn[i]) continue;
        const MeshTriangle& t1 = tris[i];
        if (i + 1 < tris.size() && drawn[i + 1]) {
            const MeshTriangle& t2 = tris[i + 1];
            const Poly p1{pt(t1.a), pt(t1.b), pt(t1.c)}, p2{pt(t2.a), pt(t2.b), pt(t2.c)};
            const Poly both = Intersect(p1, p2);
            if (both.size() >= 3 && std::abs(SignedArea(both)) > 1e-9) {
                const int a1 = t1.alpha & 0xFF, a2 = t2.alpha & 0xFF;
                Pt x;
                // (TL, BL, TR) and (TL, TR, BR) of a convex cell: split at the diagonals'
                // crossing into three pieces that meet edge to edge.
                if (t1.a == t2.a && t1.c == t2.b &&
                    Crossing(pt(t1.a), pt(t2.c), pt(t1.b), pt(t1.c), x)) {
                    const int xid = -1 - static_cast<int>(i);
                    shapes.push_back(Tri(pt(t1.a), pt(t1.b), x, t1.a, t1.b, xid, a1));
                    Shape q = Tri(pt(t1.a), pt(t1.c), x, t1.a, t1.c, xid, a1);
                    q.tints.push_back(a2);
                    shapes.push_back(q);
                    shapes.push_back(Tri(x, pt(t2.b), pt(t2.c), xid, t2.b, t2.c, a2));
                    ++i;
                    continue;
                }
            }
        }
        shapes.push_back(Tri(pt(t1.a), pt(t1.b), pt(t1.c), t1.a, t1.b, t1.c, t1.alpha & 0xFF));
    }
    return shapes;
}

struct Box {
    double x0, y0, x1, y1;
};
Box BoxOf(const Poly& p) {
    Box b{p[0].x, p[0].y, p[0].x, p[0].y};
    for (const Pt& q : p) {
        b.x0 = std::min(b.x0, q.x);
        b.y0 = std::min(b.y0, q.y);
        b.x1 = std::max(b.x1, q.x);
        b.y1 = std::max(b.y1, q.y);
    }
    return b;
}

// Where shapes overlap (jittered corners can fold one triangle over its neighbour), the
// renderer tints the overlap once per triangle; an opaque shape would hide the earlier tints.
// So after each shape come the pieces it shares with everything drawn before it, each with
// all the tints that lie there; later pieces are never larger and carry more tints, so the
// last one drawn over a point is the right one.
std::vector<Shape> WithOverlaps(std::vector<Shape> shapes) {
    constexpr double kBin = 64;
    std::vector<Shape> out;
    out.reserve(shapes.size());
    std::unordered_map<uint64_t, std::vector<size_t>> bins;
    auto binKey = [](long long bx, long long by) {
        return (uint64_t(uint32_t(bx)) << 32) | uint32_t(by);
    };
    auto forBins = [&](const Box& b, auto&& fn) {
        for (long long by = (long long)std::floor(b.y0 / kBin);
             by <= (long long)std::floor(b.y1 / kBin); ++by)
            for (long long bx = (long long)std::floor(b.x0 / kBin);
                 bx <= (long long)std::floor(b.x1 / kBin); ++bx)
                fn(binKey(bx, by));
    };
    std::vector<size_t> candidates;
    // Generated meshes fold rarely and shallowly; a mesh whose triangles pile up many deep
    // would multiply pieces without end, so their number is bounded (the picture then shows
    // fewer tints where the pile is, rather than the program hanging).
    size_t budget = 4 * shapes.size() + 1024;
    for (Shape& base : shapes) {
        const Box box = BoxOf(base.poly);
        candidates.clear();
        if (budget > 0)
            forBins(box, [&](uint64_t k) {
                auto it = bins.find(k);
                if (it != bins.end())
                    candidates.insert(candidates.end(), it->second.begin(), it->second.end());
            });
        std::sort(candidates.begin(), candidates.end());
        candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
        std::vector<Shape> pieces;
        for (size_t c : candidates) {
            if (pieces.size() >= budget) break;
            const Box cb = BoxOf(out[c].poly);
            if (cb.x1 <= box.x0 || cb.x0 >= box.x1 || cb.y1 <= box.y0 || cb.y0 >= box.y1) continue;
            Poly both = Intersect(out[c].poly, base.poly);
            if (both.size() < 3 || std::abs(SignedArea(both)) < 1e-6) continue;
            Shape piece;
            piece.poly = std::move(both);
            piece.tints = out[c].tints;
            piece.tints.insert(piece.tints.end(), base.tints.begin(), base.tints.end());
            pieces.push_back(std::move(piece));
        }
        budget -= pieces.size();
        out.push_back(std::move(base));
        for (Shape& p : pieces) out.push_back(std::move(p));
        for (size_t n = out.size() - pieces.size() - 1; n < out.size(); ++n)
            forBins(BoxOf(out[n].poly), [&](uint64_t k) { bins[k].push_back(n); });
    }
    return out;
}

uint64_t EdgeKey(int a, int b) {
    const uint32_t lo = static_cast<uint32_t>(std::min(a, b)),
                   hi = static_cast<uint32_t>(std::max(a, b));
    return (uint64_t{lo} << 32) | hi;
}

// For each edge of a shape that a later shape covers on the far side, the part of that later
// shape within kSvgOverdraw of the edge: drawn with the earlier shape, it leaves no pixel
// along the edge where the background could show between the two.
void AddOverdraw(std::vector<Shape>& shapes) {
    struct Side {
        size_t shape;
        int side;
    };
    std::unordered_map<uint64_t, std::vector<Side>> edges;
    auto sideOf = [](const Shape& s, int k) {
        const int i0 = s.ids[k], i1 = s.ids[(k + 1) % 3];
        Pt p = s.poly[size_t(k)], q = s.poly[size_t((k + 1) % 3)];
        if (i1 < i0) std::swap(p, q);
        const double c = Cross(p, q, s.poly[size_t((k + 2) % 3)]);
        return c > 0 ? 1 : c < 0 ? -1 : 0;
    };
    for (size_t n = 0; n < shapes.size(); ++n) {
        const Shape& s = shapes[n];
        if (s.ids[0] == kNoId || s.poly.size() != 3) continue;
        for (int k = 0; k < 3; ++k)
            edges[EdgeKey(s.ids[k], s.ids[(k + 1) % 3])].push_back({n, sideOf(s, k)});
    }
    for (size_t n = 0; n < shapes.size(); ++n) {
        Shape& s = shapes[n];
        if (s.ids[0] == kNoId || s.poly.size() != 3) continue;
        for (int k = 0; k < 3; ++k) {
            const int side = sideOf(s, k);
            if (side == 0) continue;
            const auto& list = edges[EdgeKey(s.ids[k], s.ids[(k + 1) % 3])];
            for (const Side& other : list) {
                if (other.shape <= n || other.side != -side) continue;
                const Pt p = s.poly[size_t(k)], q = s.poly[size_t((k + 1) % 3)];
                const double len = std::hypot(q.x - p.x, q.y - p.y);
                if (len == 0) break;
                // Unit normal pointing away from this shape, into the later one.
                double nx = (q.y - p.y) / len, ny = -(q.x - p.x) / len;
                const Pt third = s.poly[size_t((k + 2) % 3)];
                if (nx * (third.x - p.x) + ny * (third.y - p.y) > 0) {
                    nx = -nx;
                    ny = -ny;
                }
                Poly strip = ClipHalfPlane(shapes[other.shape].poly, nx, ny,
                                           nx * p.x + ny * p.y + kSvgOverdraw);
                if (strip.size() >= 3) s.under.push_back(std::move(strip));
                break;
            }
        }
    }
}

void AppendPolyPath(std::string& d, const Poly& poly, bool integers) {
    for (size_t i = 0; i < poly.size(); ++i) {
        d += i == 0 ? 'M' : ' ';
        if (integers) {
            AppendInt(d, std::llround(poly[i].x));
            d += ' ';
            AppendInt(d, std::llround(poly[i].y));
        } else {
            AppendNum(d, poly[i].x);
            d += ' ';
            AppendNum(d, poly[i].y);
        }
    }
    d += 'Z';
}

bool IsIntegral(const Poly& p) {
    for (const Pt& q : p)
        if (q.x != std::floor(q.x) || q.y != std::floor(q.y)) return false;
    return true;
}

void AppendGradient(std::string& s, const std::string& id, const BackPaint& bp, const char* stop0,
                    const char* stop1) {
    s += "<linearGradient id=\"";
    s += id;
    s += "\" gradientUnits=\"userSpaceOnUse\" spreadMethod=\"reflect\" x1=\"";
    AppendNum(s, bp.p0.x);
    s += "\" y1=\"";
    AppendNum(s, bp.p0.y);
    s += "\" x2=\"";
    AppendNum(s, bp.p1.x);
    s += "\" y2=\"";
    AppendNum(s, bp.p1.y);
    s += "\"><stop offset=\"0\" ";
    s += stop0;
    s += "/><stop offset=\"1\" ";
    s += stop1;
    s += "/></linearGradient>\n";
}

void AppendOpacity(std::string& s, int alpha);

std::string StopAttrs(uint32_t argb) {
    std::string s = "stop-color=\"";
    AppendHex(s, argb & 0xFFFFFF);
    s += '"';
    const int a = int(argb >> 24);
    if (a != 255) {
        s += " stop-opacity=\"";
        AppendOpacity(s, a);
        s += '"';
    }
    return s;
}

void AppendOpacity(std::string& s, int alpha) {
    // Three decimals: within a fifth of a level of the alpha.
    const long long thousandths = std::llround(alpha * 1000.0 / 255.0);
    if (thousandths == 1000) {
        s += '1';
        return;
    }
    s += "0.";
    char buf[4] = {char('0' + thousandths / 100), char('0' + thousandths / 10 % 10),
                   char('0' + thousandths % 10), 0};
    std::string_view t(buf, 3);
    while (t.size() > 1 && t.back() == '0') t.remove_suffix(1);
    s.append(t);
}

bool IsPng(const QByteArray& b) {
    return b.startsWith("\x89PNG\r\n\x1a\n");
}
bool IsJpeg(const QByteArray& b) {
    return b.startsWith("\xff\xd8\xff");
}

// The background picture as a data URI: the file's own bytes when they are PNG or JPEG and
// show what was decoded, otherwise the decoded pixels as PNG.
bool EmbeddedPicture(const Picture& picture, const QString& path, QByteArray& uri, QString* error) {
    QByteArray bytes;
    const char* mime = nullptr;
    QFile file(path);
    if (!path.isEmpty() && file.open(QIODevice::ReadOnly)) {
        bytes = file.readAll();
        if (IsPng(bytes) || IsJpeg(bytes)) {
            QBuffer buffer(&bytes);
            QImageReader reader(&buffer);
            reader.setAutoTransform(false);
            // The file may have changed since it was decoded, or carry a rotation that
            // some viewers apply and the renderer does not.
            if (reader.size() == QSize(picture.Width(), picture.Height()) &&
                reader.transformation() == QImageIOHandler::TransformationNone)
                mime = IsPng(bytes) ? "image/png" : "image/jpeg";
        }
    }
    if (!mime) {
        const Status st = EncodePngToMemory(picture, bytes);
        if (st != Status::Ok) {
            if (error)
                *error = st == Status::OutOfMemory
                             ? QStringLiteral("not enough memory to embed the background picture")
                             : QStringLiteral("the background picture cannot be encoded as PNG");
            return false;
        }
        mime = "image/png";
    }
    uri = QByteArray("data:") + mime + ";base64," + bytes.toBase64();
    return true;
}

void BuildSvg(const ImageSettings& s, const PolygonMesh& mesh, const Picture* backImage,
              const QString& backImagePath, QByteArray& out, QString* error, Status& status) {
    const int w = s.nWidth, h = s.nHeight;
    const bool transparent = s.nBackMode == kBackTransparent;
    const bool backPicture = !transparent && backImage && !backImage->IsNull();
    const bool outlines = s.nLineOpacity > 0;
    const BackPaint bp = BackPaintFor(s);

    std::string head, defs, body;
    head +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
        "xmlns:xlink=\"http://www.w3.org/1999/xlink\" version=\"1.1\" width=\"";
    AppendInt(head, w);
    head += "\" height=\"";
    AppendInt(head, h);
    head += "\" viewBox=\"0 0 ";
    AppendInt(head, w);
    head += ' ';
    AppendInt(head, h);
    head += "\">\n";

    auto rect = [&](std::string& dst, const std::string& fill) {
        dst += "<rect width=\"";
        AppendInt(dst, w);
        dst += "\" height=\"";
        AppendInt(dst, h);
        dst += "\" fill=\"";
        dst += fill;
        dst += "\"/>\n";
    };
    if (!transparent) {
        if (bp.solidLayer) {
            std::string c;
            AppendHex(c, Packed(RgbOf(s.crBackColor)));
            rect(body, c);
        }
        if (bp.gradient) {
            AppendGradient(defs, "back", bp, StopAttrs(bp.layerArgb0).c_str(),
                           StopAttrs(bp.layerArgb1).c_str());
            rect(body, "url(#back)");
        }
    }
    QByteArray imageUri;
    if (backPicture) {
        if (!EmbeddedPicture(*backImage, backImagePath, imageUri, error)) {
            status = Status::GenericError;
            return;
        }
        const int iw = backImage->Width(), ih = backImage->Height();
        const double sc = std::max(double(w) / iw, double(h) / ih);
        const double dw = std::trunc(iw * sc), dh = std::trunc(ih * sc);
        body += "<image x=\"";
        AppendNum(body, std::trunc((w - dw) / 2));
        body += "\" y=\"";
        AppendNum(body, std::trunc((h - dh) / 2));
        body += "\" width=\"";
        AppendNum(body, dw);
        body += "\" height=\"";
        AppendNum(body, dh);
        body += "\" preserveAspectRatio=\"none\" xlink:href=\"";
        body.append(imageUri.constData(), size_t(imageUri.size()));
        body += "\"/>\n";
        imageUri.clear();
    }

    // Which triangles the renderer draws and are visible (an outline reaches half a pixel out).
    const auto& v = mesh.pVertices;
    const size_t nv = v.size();
    std::vector<bool> drawn(mesh.pTriangles.size(), false);
    for (size_t i = 0; i < mesh.pTriangles.size(); ++i) {
        const MeshTriangle& t = mesh.pTriangles[i];
        if (t.a < 0 || t.b < 0 || t.c < 0 || size_t(t.a) >= nv || size_t(t.b) >= nv ||
            size_t(t.c) >= nv)
            continue;
        const MeshVertex &a = v[size_t(t.a)], &b = v[size_t(t.b)], &c = v[size_t(t.c)];
        if (a.x >= w && a.y >= h && b.x >= w && b.y >= h && c.x >= w && c.y >= h) continue;
        const int64_t minX = std::min({a.x, b.x, c.x}), maxX = std::max({a.x, b.x, c.x});
        const int64_t minY = std::min({a.y, b.y, c.y}), maxY = std::max({a.y, b.y, c.y});
        if (minX >= w + 1 || minY >= h + 1 || maxX <= -1 || maxY <= -1) continue;
        drawn[i] = true;
    }

    std::string polyColor;
    AppendHex(polyColor, Packed(RgbOf(s.crPolyColor)));
    if (transparent || backPicture || outlines) {
        // Translucent triangles, each outlined before the next is filled, as the renderer does.
        body += "<g fill=\"";
        body += polyColor;
        body += '"';
        if (outlines) {
            body += " stroke=\"";
            AppendHex(body, Packed(RgbOf(s.crLineColor)));
            body += "\" stroke-opacity=\"";
            AppendOpacity(body, OpacityToAlpha(s.nLineOpacity) & 0xFF);
            body += "\" stroke-width=\"1\"";
        }
        body += ">\n";
        for (size_t i = 0; i < mesh.pTriangles.size(); ++i) {
            if (!drawn[i]) continue;
            const MeshTriangle& t = mesh.pTriangles[i];
            const Poly p{{double(v[size_t(t.a)].x), double(v[size_t(t.a)].y)},
                         {double(v[size_t(t.b)].x), double(v[size_t(t.b)].y)},
                         {double(v[size_t(t.c)].x), double(v[size_t(t.c)].y)}};
            body += "<path d=\"";
            AppendPolyPath(body, p, true);
            body += "\" fill-opacity=\"";
            AppendOpacity(body, t.alpha & 0xFF);
            body += "\"/>\n";
        }
        body += "</g>\n";
    } else {
        std::vector<Shape> shapes = OpaqueShapes(mesh, drawn);
        std::erase_if(shapes, [](const Shape& sh) {
            return sh.poly.size() < 3 || std::abs(SignedArea(sh.poly)) < 1e-9;
        });
        shapes = WithOverlaps(std::move(shapes));
        AddOverdraw(shapes);
        const Rgb poly = RgbOf(s.crPolyColor);
        std::map<std::pair<uint32_t, uint32_t>, std::string> paints;
        for (const Shape& sh : shapes) {
            Rgb c0 = bp.c0, c1 = bp.c1;
            for (int tint : sh.tints) {
                c0 = Blend(poly, tint, c0);
                c1 = Blend(poly, tint, c1);
            }
            const uint32_t k0 = Packed(c0), k1 = bp.gradient ? Packed(c1) : k0;
            auto [it, fresh] = paints.try_emplace({k0, k1});
            if (fresh) {
                if (k0 == k1) {
                    AppendHex(it->second, k0);
                } else {
                    std::string id(1, 'p');
                    AppendInt(id, static_cast<long long>(paints.size()));
                    AppendGradient(defs, id, bp, StopAttrs(0xFF000000u | k0).c_str(),
                                   StopAttrs(0xFF000000u | k1).c_str());
                    it->second = "url(#" + id + ")";
                }
            }
            body += "<path d=\"";
            AppendPolyPath(body, sh.poly, IsIntegral(sh.poly));
            for (const Poly& strip : sh.under) AppendPolyPath(body, strip, false);
            body += "\" fill=\"";
            body += it->second;
            body += "\"/>\n";
        }
    }

    out.clear();
    out.reserve(qsizetype(head.size() + defs.size() + body.size() + 32));
    out.append(head.data(), qsizetype(head.size()));
    if (!defs.empty()) {
        out.append("<defs>\n");
        out.append(defs.data(), qsizetype(defs.size()));
        out.append("</defs>\n");
    }
    out.append(body.data(), qsizetype(body.size()));
    out.append("</svg>\n");
    status = Status::Ok;
}

}  // namespace

Status EncodeSvg(const ImageSettings& settings, const PolygonMesh& mesh, const Picture* backImage,
                 const QString& backImagePath, QByteArray& out, QString* error) {
    if (error) error->clear();
    Status status = Status::GenericError;
    try {
        BuildSvg(settings, mesh, backImage, backImagePath, out, error, status);
    } catch (const std::bad_alloc&) {
        status = Status::OutOfMemory;
        if (error) *error = QStringLiteral("not enough memory for the SVG document");
    }
    if (status != Status::Ok) out.clear();
    return status;
}

Status WriteSvg(const ImageSettings& settings, const PolygonMesh& mesh, const Picture* backImage,
                const QString& backImagePath, const QString& path, int* osError, QString* error) {
    if (osError) *osError = 0;
    // The whole document first: a background picture that cannot be embedded touches no file.
    QByteArray bytes;
    const Status status = EncodeSvg(settings, mesh, backImage, backImagePath, bytes, error);
    if (status != Status::Ok) return status;
    return WriteFileBytes(path, bytes, osError);
}
