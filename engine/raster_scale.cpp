// Drawing a picture scaled into a rectangle: bilinear when enlarging, area-averaging when reducing.
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "raster.h"
#include "raster_cells.h"

using namespace raster_internal;

namespace {

// One destination index's share of source indices along one axis.
struct Contribution {
    int first = 0;               // first source index
    std::vector<float> weights;  // normalised
    float coverage = 0;          // fraction of the destination pixel inside the rectangle
};

// Weights per destination pixel along one axis for source [s0, s0 + sn) drawn onto destination
// [d0, d0 + dn), for destination pixels [from, to).
std::vector<Contribution> AxisContributions(int s0, int sn, double d0, double dn, int from,
                                            int to) {
    std::vector<Contribution> out(static_cast<size_t>(to - from));
    const double scale = dn / sn;  // destination pixels per source pixel
    for (int i = from; i < to; ++i) {
        Contribution& c = out[static_cast<size_t>(i - from)];
        const double a = std::max<double>(i, d0), b = std::min<double>(i + 1, d0 + dn);
        c.coverage = static_cast<float>(std::max(0.0, b - a));
        if (c.coverage <= 0) continue;
        const double sa = (a - d0) / scale, sb = (b - d0) / scale;  // source units from s0
        if (scale >= 1) {
            // Enlarging: bilinear between the two nearest source pixel centres.
            const double centre = Clamp((sa + sb) * 0.5 - 0.5, 0, sn - 1);
            const int j = static_cast<int>(centre);
            const double f = centre - j;
            c.first = s0 + j;
            if (j + 1 < sn && f > 0)
                c.weights = {static_cast<float>(1 - f), static_cast<float>(f)};
            else
                c.weights = {1.0f};
        } else {
            // Reducing: the source pixels weighted by their overlap with [sa, sb).
            const int j0 = static_cast<int>(Clamp(std::floor(sa), 0, sn - 1));
            const int j1 = static_cast<int>(Clamp(std::ceil(sb), j0 + 1, sn));
            c.first = s0 + j0;
            double total = 0;
            for (int j = j0; j < j1; ++j) {
                const double ov =
                    std::max(0.0, std::min<double>(j + 1, sb) - std::max<double>(j, sa));
                c.weights.push_back(static_cast<float>(ov));
                total += ov;
            }
            if (total <= 0) {
                std::fill(c.weights.begin(), c.weights.end(), 0.0f);
                c.weights[0] = 1;
                total = 1;
            }
            for (float& w : c.weights) w = static_cast<float>(w / total);
        }
    }
    return out;
}

// The alpha byte of a pixel in memory.
constexpr size_t kA = std::endian::native == std::endian::little ? 3 : 0;

// acc[i] += v[i] * w. Separate, with unaliased pointers, so that the compiler uses 16-bit
// multiplies giving 32-bit products.
template <typename T>
void AddWeighted(uint32_t* __restrict acc, const T* __restrict v, size_t n, uint16_t w) {
    for (size_t i = 0; i < n; ++i) {
        const uint16_t x = v[i];
        acc[i] += static_cast<uint32_t>(x * w);
    }
}

struct RowSum {
    uint32_t total;  // sum of the row weights; 0: nothing to draw
    bool opaque;     // acc holds plain channels; otherwise colour * alpha and alpha * 255
};

// Combines the source rows of one destination row into acc (4 channels per source column from
// cFirst), in integers with 15-bit weights: the pass that reads the whole source, written so
// that the compiler vectorises it. Rows with transparency are premultiplied first, so that
// transparent pixels do not darken their neighbours.
RowSum SumRows(const Picture& src, const Contribution& rc, int cFirst, std::vector<uint32_t>& acc,
               std::vector<uint16_t>& premul) {
    const size_t n = acc.size(), rows = rc.weights.size();
    auto row = [&](size_t k) {
        return reinterpret_cast<const uint8_t*>(src.Row(rc.first + static_cast<int>(k)) + cFirst);
    };
    if (rows > 4096) {
        // So many rows that 15-bit weights would vanish: double sums, stored premultiplied at
        // the same scale.
        std::vector<double> sums(n, 0.0);
        for (size_t k = 0; k < rows; ++k) {
            const uint8_t* s8 = row(k);
            for (size_t i = 0; i < n; i += 4) {
                const double a = s8[i + kA] * static_cast<double>(rc.weights[k]);
                for (size_t c = 0; c < 4; ++c) sums[i + c] += (c == kA ? 255 : s8[i + c]) * a;
            }
        }
        for (size_t i = 0; i < n; ++i)
            acc[i] = static_cast<uint32_t>(std::lround(Clamp(sums[i] * 32768, 0, 65025.0 * 32768)));
        return {32768, false};
    }
    // Weights first, and whether every row is opaque (which also brings the rows into cache).
    uint16_t w[4096];
    uint32_t total = 0;
    bool opaque = true;
    for (size_t k = 0; k < rows; ++k) {
        w[k] = static_cast<uint16_t>(std::lround(Clamp(rc.weights[k], 0, 1) * 32768));
        total += w[k];
        if (w[k] == 0 || !opaque) continue;
        const uint32_t* s = reinterpret_cast<const uint32_t*>(row(k));
        uint32_t all = 0xFF000000u;
        for (size_t x = 0; x < n / 4; ++x) all &= s[x];
        opaque = all == 0xFF000000u;
    }
    std::fill(acc.begin(), acc.end(), 0u);
    // A strip of columns at a time, so that its sums stay in the first-level cache while every
    // row is added to them.
    constexpr size_t kStrip = 4096;
    premul.resize(kStrip);
    for (size_t i0 = 0; i0 < n; i0 += kStrip) {
        const size_t len = std::min(kStrip, n - i0);
        for (size_t k = 0; k < rows; ++k) {
            if (w[k] == 0) continue;
            const uint8_t* s8 = row(k) + i0;
            if (opaque) {
                AddWeighted(acc.data() + i0, s8, len, w[k]);
                continue;
            }
            for (size_t i = 0; i < len; i += 4) {
                const uint16_t a = s8[i + kA];
                for (size_t c = 0; c < 4; ++c)
                    premul[i + c] = static_cast<uint16_t>((c == kA ? 255 : s8[i + c]) * a);
            }
            AddWeighted(acc.data() + i0, premul.data(), len, w[k]);
        }
    }
    return {total, opaque};
}

void DoDrawPicture(Picture& dst, const Picture& src, const RectI& srcRect, const RectF& dstRect,
                   float opacity) {
    if (dst.IsNull() || src.IsNull()) return;
    if (!(opacity > 0)) return;
    opacity = std::min(opacity, 1.0f);
    // The source rectangle within the source picture; a part outside it shrinks the
    // destination in proportion.
    const int64_t sx0 = std::max<int64_t>(srcRect.x, 0), sy0 = std::max<int64_t>(srcRect.y, 0);
    const int64_t sx1 = std::min<int64_t>(int64_t{srcRect.x} + srcRect.width, src.Width());
    const int64_t sy1 = std::min<int64_t>(int64_t{srcRect.y} + srcRect.height, src.Height());
    if (srcRect.width <= 0 || srcRect.height <= 0 || sx0 >= sx1 || sy0 >= sy1) return;
    if (!std::isfinite(dstRect.x) || !std::isfinite(dstRect.y) || !std::isfinite(dstRect.width) ||
        !std::isfinite(dstRect.height) || !(dstRect.width > 0) || !(dstRect.height > 0))
        return;
    const double kx = dstRect.width / srcRect.width, ky = dstRect.height / srcRect.height;
    const double dx0 = dstRect.x + (sx0 - srcRect.x) * kx, dx1 = dstRect.x + (sx1 - srcRect.x) * kx;
    const double dy0 = dstRect.y + (sy0 - srcRect.y) * ky, dy1 = dstRect.y + (sy1 - srcRect.y) * ky;
    if (!std::isfinite(dx0 + dx1 + dy0 + dy1)) return;
    const int px0 = static_cast<int>(std::floor(Clamp(dx0, 0, dst.Width())));
    const int px1 = static_cast<int>(std::ceil(Clamp(dx1, 0, dst.Width())));
    const int py0 = static_cast<int>(std::floor(Clamp(dy0, 0, dst.Height())));
    const int py1 = static_cast<int>(std::ceil(Clamp(dy1, 0, dst.Height())));
    if (px0 >= px1 || py0 >= py1) return;
    const int sw = static_cast<int>(sx1 - sx0), sh = static_cast<int>(sy1 - sy0);
    const auto cols = AxisContributions(static_cast<int>(sx0), sw, dx0, dx1 - dx0, px0, px1);
    const auto rows = AxisContributions(static_cast<int>(sy0), sh, dy0, dy1 - dy0, py0, py1);

    int cFirst = INT32_MAX, cLast = -1;  // source columns any destination column reads
    for (const Contribution& c : cols) {
        if (c.weights.empty()) continue;
        cFirst = std::min(cFirst, c.first);
        cLast = std::max(cLast, c.first + static_cast<int>(c.weights.size()) - 1);
    }
    if (cLast < cFirst) return;
    // Rows are combined first (SumRows), then columns.
    const size_t n = static_cast<size_t>(cLast - cFirst + 1) * 4;
    std::vector<uint32_t> acc(n);
    std::vector<uint16_t> premul(n);
    for (int y = py0; y < py1; ++y) {
        const Contribution& rc = rows[static_cast<size_t>(y - py0)];
        if (rc.weights.empty()) continue;
        const RowSum rs = SumRows(src, rc, cFirst, acc, premul);
        if (rs.total == 0) continue;
        const uint32_t total = rs.total;
        const bool opaque = rs.opaque;
        uint32_t* d = dst.Row(y);
        for (int x = px0; x < px1; ++x) {
            const Contribution& cc = cols[static_cast<size_t>(x - px0)];
            if (cc.weights.empty()) continue;
            float sum[4] = {0, 0, 0, 0};
            const uint32_t* l = &acc[static_cast<size_t>(cc.first - cFirst) * 4];
            for (size_t k = 0; k < cc.weights.size(); ++k, l += 4)
                // Sums stay below 2^31: as signed, they convert to float in one instruction.
                for (int c = 0; c < 4; ++c)
                    sum[c] += static_cast<float>(static_cast<int32_t>(l[c])) * cc.weights[k];
            // Opaque rows hold plain channels; premultiplied ones colour * alpha and alpha * 255.
            const float alpha = opaque ? sum[kA] / total : sum[kA] / (255.0f * total);
            if (!(alpha > 0)) continue;
            const float toColour = opaque ? 1.0f / total : 255.0f / sum[kA];
            uint8_t bytes[4];
            for (int c = 0; c < 4; ++c)
                bytes[c] = static_cast<uint8_t>(Clamp(sum[c] * toColour + 0.5f, 0, 255));
            uint32_t colour;
            std::memcpy(&colour, bytes, 4);
            const float a = alpha * cc.coverage * rc.coverage * opacity;
            d[x] =
                BlendPixel(d[x], colour & 0xFFFFFF, static_cast<uint32_t>(Clamp(a + 0.5f, 0, 255)));
        }
    }
}

}  // namespace

void DrawPicture(Picture& dst, const Picture& src, const RectI& srcRect, const RectF& dstRect,
                 float opacity) {
    Guarded(dst, [&] { DoDrawPicture(dst, src, srcRect, dstRect, opacity); });
}
