#include <libimagequant.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "band_runner.h"
#include "encoders.h"

// Codes and index rows are handled as bytes and little-endian words.
static_assert(std::endian::native == std::endian::little);

namespace {

// GIF has one transparent colour and no partial alpha: what nothing covers is transparent,
// and every pixel something covers shows as it would over white (a faint triangle over a
// transparent background stays a faint tint rather than vanishing or turning solid).
// 0x00RRGGBB of a pixel whose alpha is not 0.

bool HasTransparentPixel(const Picture& picture) {
    const uint32_t* p = picture.Pixels();
    const size_t n = picture.PixelCount();
    // Blocks of a plain count vectorise; the first block with a hit ends the scan.
    constexpr size_t kBlock = size_t{1} << 14;
    for (size_t base = 0; base < n; base += kBlock) {
        const size_t end = std::min(n, base + kBlock);
        uint32_t hits = 0;
        for (size_t i = base; i < end; ++i) hits += p[i] < 0x01000000u;
        if (hits != 0) return true;
    }
    return false;
}

struct Palette {
    int colours = 0;       // opaque entries, first in the table
    int transparent = -1;  // the entry after them when some pixel is transparent
    unsigned char rgb[256][3] = {};
    uint32_t packed[256] = {};  // 0x00RRGGBB
};

struct LiqDeleter {
    void operator()(liq_attr* p) const { liq_attr_destroy(p); }
    void operator()(liq_image* p) const { liq_image_destroy(p); }
    void operator()(liq_result* p) const { liq_result_destroy(p); }
    void operator()(liq_histogram* p) const { liq_histogram_destroy(p); }
};

// The palette is learned from the covered pixels of evenly spread rows, laid over white.
Status LearnPalette(const Picture& picture, const GifTuning& tuning, bool transparent,
                    Palette& palette) {
    const int w = picture.Width();
    const int h = picture.Height();
    const int64_t wanted = std::max(tuning.samplePixels, 1);
    const int step = static_cast<int>(
        std::clamp<int64_t>(static_cast<int64_t>(picture.PixelCount()) / wanted, 1, h));
    const int rows = (h + step - 1) / step;
    std::unique_ptr<liq_color[]> sample(new (std::nothrow)
                                            liq_color[static_cast<size_t>(rows) * w]);
    if (!sample) return Status::OutOfMemory;
    size_t n = 0;
    for (int y = 0; y < h; y += step) {
        const uint32_t* src = picture.Row(y);
        for (int x = 0; x < w; ++x) {
            if (src[x] < 0x01000000u) continue;
            const uint32_t c = OverWhite(src[x]);
            sample[n++] =
                liq_color{static_cast<unsigned char>(c >> 16), static_cast<unsigned char>(c >> 8),
                          static_cast<unsigned char>(c), 255};
        }
    }
    palette.transparent = -1;
    palette.colours = 0;
    if (n > 0) {
        // Transparent pixels are left out, so the covered ones are laid out again in rows of
        // the picture's width (a single shorter row when there are fewer).
        const int sw = n >= static_cast<size_t>(w) ? w : static_cast<int>(n);
        const int sh = static_cast<int>(n / static_cast<size_t>(sw));
        std::unique_ptr<liq_attr, LiqDeleter> attr(liq_attr_create());
        if (!attr) return Status::OutOfMemory;
        liq_set_max_colors(attr.get(), transparent ? 255 : 256);
        if (tuning.quantizerSpeed > 0) liq_set_speed(attr.get(), tuning.quantizerSpeed);
        std::unique_ptr<liq_image, LiqDeleter> image(
            liq_image_create_rgba(attr.get(), sample.get(), sw, sh, 0.0));
        std::unique_ptr<liq_histogram, LiqDeleter> histogram(liq_histogram_create(attr.get()));
        if (!image || !histogram) return Status::OutOfMemory;
        liq_error err = liq_histogram_add_image(histogram.get(), attr.get(), image.get());
        liq_result* raw = nullptr;
        if (err == LIQ_OK) err = liq_histogram_quantize(histogram.get(), attr.get(), &raw);
        std::unique_ptr<liq_result, LiqDeleter> result(raw);
        if (err != LIQ_OK || !result)
            return err == LIQ_OUT_OF_MEMORY ? Status::OutOfMemory : Status::GenericError;
        const liq_palette* learned = liq_get_palette(result.get());
        if (!learned || learned->count == 0) return Status::GenericError;
        palette.colours = static_cast<int>(std::min(learned->count, transparent ? 255u : 256u));
        for (int i = 0; i < palette.colours; ++i) {
            palette.rgb[i][0] = learned->entries[i].r;
            palette.rgb[i][1] = learned->entries[i].g;
            palette.rgb[i][2] = learned->entries[i].b;
            palette.packed[i] = static_cast<uint32_t>(learned->entries[i].r) << 16 |
                                static_cast<uint32_t>(learned->entries[i].g) << 8 |
                                learned->entries[i].b;
        }
    }
    if (transparent) {
        palette.transparent = palette.colours;
        // White, for viewers that ignore transparency.
        std::memset(palette.rgb[palette.transparent], 255, 3);
    }
    return Status::Ok;
}

// The nearest palette entry of a colour (least squared distance, the lowest index on a tie),
// looked up by 7 bits a channel and filled in on first use: a picture touches few of the 2^21
// cells. A cell holds 8 colours; where one entry is the nearest of all of them the cell
// holds that entry, otherwise it points at the 8 answers, found among the few entries that
// can be nearest anywhere in the cell. Threads share the table: what a cell gets is a
// function of the cell alone, so a race only writes the same answers twice.
class NearestColour {
public:
    bool Init(const Palette& palette) {
        m_cells.reset(new (std::nothrow) std::atomic<uint16_t>[kCells]);
        m_slots.reset(new (std::nothrow) unsigned char[kSlots * 8]);
        if (!m_cells || !m_slots) return false;
        for (size_t i = 0; i < kCells; ++i) m_cells[i].store(kUnknown, std::memory_order_relaxed);
        m_count = palette.colours;
        for (int i = 0; i < m_count; ++i)
            for (int c = 0; c < 3; ++c) m_twice[c][i] = 2 * palette.rgb[i][c];
        return true;
    }
    int Find(int r, int g, int b) const {
        const uint32_t cell = static_cast<uint32_t>((r >> 1) << 14 | (g >> 1) << 7 | (b >> 1));
        uint16_t known = m_cells[cell].load(std::memory_order_acquire);
        if (known == kUnknown) {
            known = Fill(cell);
            if (known == kUnknown) return Nearest(2 * r, 2 * g, 2 * b, nullptr, m_count);
        }
        if (known <= 256) return known - 1;
        const size_t sub = static_cast<size_t>((r & 1) << 2 | (g & 1) << 1 | (b & 1));
        return m_slots[static_cast<size_t>(known - 257) * 8 + sub];
    }

private:
    static constexpr size_t kCells = size_t{1} << 21;
    static constexpr size_t kSlots = 65535 - 257;
    static constexpr uint16_t kUnknown = 0;  // 1..256: entry + 1; above: 257 + slot

    // In doubled units, where the cell of values 2c and 2c + 1 spans 4c..4c + 2.
    int Nearest(int r, int g, int b, const unsigned char* among, int n) const {
        int best = 0;
        int bestDistance = INT_MAX;
        for (int k = 0; k < n; ++k) {
            const int i = among ? among[k] : k;
            const int dr = m_twice[0][i] - r, dg = m_twice[1][i] - g, db = m_twice[2][i] - b;
            const int d = dr * dr + dg * dg + db * db;
            if (d < bestDistance) {
                bestDistance = d;
                best = i;
            }
        }
        return best;
    }

    // The cell's value, kUnknown when it has no room for its answers.
    uint16_t Fill(uint32_t cell) const {
        const int r = 4 * static_cast<int>(cell >> 14) + 1;
        const int g = 4 * static_cast<int>((cell >> 7) & 0x7F) + 1;
        const int b = 4 * static_cast<int>(cell & 0x7F) + 1;
        int distance[256];
        int least = INT_MAX;
        for (int i = 0; i < m_count; ++i) {
            const int dr = m_twice[0][i] - r, dg = m_twice[1][i] - g, db = m_twice[2][i] - b;
            distance[i] = dr * dr + dg * dg + db * db;
            least = std::min(least, distance[i]);
        }
        // A colour of the cell lies within sqrt(3) of its centre, so only entries within
        // 2 sqrt(3) of the nearest one's distance can be nearest to it.
        const double reach = std::sqrt(static_cast<double>(least)) + 2 * std::sqrt(3.0) + 0.01;
        unsigned char candidates[256];
        int n = 0;
        for (int i = 0; i < m_count; ++i)
            if (static_cast<double>(distance[i]) <= reach * reach)
                candidates[n++] = static_cast<unsigned char>(i);
        uint16_t value;
        if (n <= 1) {
            value = static_cast<uint16_t>((n == 1 ? candidates[0] : 0) + 1);
        } else {
            const size_t slot = m_used.fetch_add(1, std::memory_order_relaxed);
            if (slot >= kSlots) return kUnknown;
            for (int sub = 0; sub < 8; ++sub)
                m_slots[slot * 8 + static_cast<size_t>(sub)] = static_cast<unsigned char>(
                    Nearest(r - 1 + 2 * (sub >> 2), g - 1 + 2 * ((sub >> 1) & 1),
                            b - 1 + 2 * (sub & 1), candidates, n));
            value = static_cast<uint16_t>(257 + slot);
        }
        m_cells[cell].store(value, std::memory_order_release);
        return value;
    }

    std::unique_ptr<std::atomic<uint16_t>[]> m_cells;
    std::unique_ptr<unsigned char[]> m_slots;
    mutable std::atomic<size_t> m_used{0};
    int m_count = 0;
    int m_twice[3][256] = {};
};

// --- LZW: GIF's variable-width codes, least significant bit first, with a minimum code size
// of 8 whatever the palette's size.
constexpr uint32_t kClearCode = 256;
constexpr uint32_t kEndCode = 257;
constexpr uint32_t kFirstFree = 258;
// Like most writers, the table is started afresh rather than taking code 4095.
constexpr uint32_t kLastFree = 4095;

// Codes packed into little-endian 32-bit words.
class CodeWriter {
public:
    explicit CodeWriter(unsigned char* out) : m_out(out), m_start(out) {}
    void Put(uint32_t code, int width) {
        m_bits |= static_cast<uint64_t>(code) << m_used;
        m_used += width;
        if (m_used >= 32) {
            const auto word = static_cast<uint32_t>(m_bits);
            std::memcpy(m_out, &word, 4);
            m_out += 4;
            m_bits >>= 32;
            m_used -= 32;
        }
    }
    // Bits written; the last word is written whole with zeros after them.
    uint64_t Finish() {
        const auto word = static_cast<uint32_t>(m_bits);
        std::memcpy(m_out, &word, 4);
        return static_cast<uint64_t>(m_out - m_start) * 8 + static_cast<uint64_t>(m_used);
    }

private:
    unsigned char* m_out;
    unsigned char* m_start;
    uint64_t m_bits = 0;
    int m_used = 0;
};

// One band of a picture's codes. Each band starts with a clear code that the writer puts
// in front of it (its width is the one in force at the end of the band before); the band's
// own bits follow.
struct BandCodes {
    std::unique_ptr<unsigned char[]> data;
    size_t capacity = 0;
    uint64_t bits = 0;
    int endWidth = 9;  // the width of the code that follows the band
};

// The band's table of strings: (prefix code, next index) -> code, open addressing in 8192
// slots that each hold key << 12 | code. Codes stop at 4094, so a slot of all ones is empty.
constexpr int kHashBits = 13;
constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;

inline uint32_t Slot(uint32_t key) {
    return (key * 0x9E3779B1u) >> (32 - kHashBits);
}

// Bytes a band of `pixels` indices can take: a code of at most 12 bits per index, one clear
// code per 3837 codes, and a word of slack.
size_t CodeBytesBound(size_t pixels) {
    return (pixels + pixels / 3837 + 2) * 12 / 8 + 8;
}

void CompressBand(const unsigned char* in, size_t n, uint32_t* table, BandCodes& out) {
    CodeWriter writer(out.data.get());
    std::fill_n(table, size_t{1} << kHashBits, kEmptySlot);
    uint32_t next = kFirstFree;
    int width = 9;
    uint32_t current = in[0];
    for (size_t i = 1; i < n; ++i) {
        const uint32_t index = in[i];
        const uint32_t key = current << 8 | index;
        uint32_t slot = Slot(key);
        uint32_t entry;
        while ((entry = table[slot]) != kEmptySlot && entry >> 12 != key)
            slot = (slot + 1) & ((1u << kHashBits) - 1);
        if (entry != kEmptySlot) {
            current = entry & 0xFFF;
            continue;
        }
        writer.Put(current, width);
        if (next == kLastFree) {
            writer.Put(kClearCode, width);
            std::fill_n(table, size_t{1} << kHashBits, kEmptySlot);
            next = kFirstFree;
            width = 9;
        } else {
            table[slot] = key << 12 | next;
            ++next;
            // The width grows once the newest code needs it (GIF's "early change" is none).
            if (next - 1 == (1u << width)) ++width;
        }
        current = index;
    }
    writer.Put(current, width);
    // A reader adds the entry of a code only when it sees the code after it: the code after
    // the band is read one bit wider when the band ended on a power of two.
    out.endWidth = next == (1u << width) && width < 12 ? width + 1 : width;
    out.bits = writer.Finish();
}

// Whether and how the quantisation error is spread, in units of 1/256 of a level.
class BandEncoder {
public:
    using Output = BandCodes;

    BandEncoder(const Picture& picture, const Palette& palette, const NearestColour& nearest,
                const GifTuning& tuning)
        : m_picture(picture),
          m_palette(palette),
          m_nearest(nearest),
          m_tuning(tuning),
          m_bandRows(tuning.bandRows > 0 ? tuning.bandRows : BandRowsFor(picture.Width())),
          m_bands((picture.Height() + m_bandRows - 1) / m_bandRows) {}

    // About a million pixels a band whatever the picture's height, so the bands, and with
    // them the file, are the same for any number of threads.
    static int BandRowsFor(int width) { return std::max(8, (1 << 20) / std::max(width, 1)); }
    int Bands() const { return m_bands; }

    struct Worker {
        std::unique_ptr<unsigned char[]> indices;
        std::unique_ptr<int32_t[]> errors;  // two rows of (width + 2) x 3
        std::unique_ptr<uint32_t[]> table;
    };

    bool Start(Worker& wk) const {
        const size_t w = static_cast<size_t>(m_picture.Width());
        wk.indices.reset(new (std::nothrow) unsigned char[static_cast<size_t>(m_bandRows) * w]);
        wk.errors.reset(new (std::nothrow) int32_t[2 * (w + 2) * 3]);
        wk.table.reset(new (std::nothrow) uint32_t[size_t{1} << kHashBits]);
        return wk.indices && wk.errors && wk.table;
    }

    bool Encode(int k, Worker& wk, BandCodes& out) const {
        const int w = m_picture.Width();
        const int first = k * m_bandRows;
        const int end = std::min(m_picture.Height(), first + m_bandRows);
        const size_t pixels = static_cast<size_t>(end - first) * static_cast<size_t>(w);
        const size_t bound = CodeBytesBound(pixels);
        if (out.capacity < bound) {
            out.data.reset(new (std::nothrow) unsigned char[bound]);
            out.capacity = out.data ? bound : 0;
            if (!out.data) return false;
        }
        switch (m_tuning.dither) {
            case GifTuning::Dither::None:
                MapNearest(first, end, wk);
                break;
            case GifTuning::Dither::FloydSteinberg:
                MapDiffused(first, end, wk);
                break;
            case GifTuning::Dither::Ordered:
                MapOrdered(first, end, wk);
                break;
        }
        CompressBand(wk.indices.get(), pixels, wk.table.get(), out);
        return true;
    }

private:
    void MapNearest(int first, int end, Worker& wk) const {
        const int w = m_picture.Width();
        const int transparent = m_palette.transparent;
        unsigned char* dst = wk.indices.get();
        for (int y = first; y < end; ++y) {
            const uint32_t* src = m_picture.Row(y);
            for (int x = 0; x < w; ++x) {
                const uint32_t p = src[x];
                if (p < 0x01000000u) {
                    *dst++ = static_cast<unsigned char>(transparent);
                    continue;
                }
                const uint32_t c = OverWhite(p);
                *dst++ = static_cast<unsigned char>(
                    m_nearest.Find(static_cast<int>(c >> 16), static_cast<int>((c >> 8) & 0xFF),
                                   static_cast<int>(c & 0xFF)));
            }
        }
    }

    // Colours the palette holds exactly are kept (flat areas stay flat); the others get a
    // 4x4 threshold pattern added before the lookup.
    void MapOrdered(int first, int end, Worker& wk) const {
        static constexpr int kBayer[4][4] = {
            {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
        int offset[4][4];
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                offset[i][j] = ((2 * kBayer[i][j] - 15) * m_tuning.ditherStrength) / 32;
        const int w = m_picture.Width();
        const int transparent = m_palette.transparent;
        unsigned char* dst = wk.indices.get();
        for (int y = first; y < end; ++y) {
            const uint32_t* src = m_picture.Row(y);
            const int* row = offset[y & 3];
            // Gradients change slowly along a row: the last answer for each column of the
            // pattern is likely the next one too.
            uint32_t lastPixel[4] = {0, 0, 0, 0};  // alpha 0: never a lookup's pixel
            int lastIndex[4] = {transparent, transparent, transparent, transparent};
            for (int x = 0; x < w; ++x) {
                const uint32_t p = src[x];
                const int phase = x & 3;
                if (p == lastPixel[phase] || p < 0x01000000u) {
                    *dst++ = static_cast<unsigned char>(p < 0x01000000u ? transparent
                                                                        : lastIndex[phase]);
                    continue;
                }
                const uint32_t c = OverWhite(p);
                const int r = static_cast<int>(c >> 16);
                const int g = static_cast<int>((c >> 8) & 0xFF);
                const int b = static_cast<int>(c & 0xFF);
                int q = m_nearest.Find(r, g, b);
                if (m_palette.packed[q] != c) {
                    const int o = row[phase];
                    q = m_nearest.Find(std::clamp(r + o, 0, 255), std::clamp(g + o, 0, 255),
                                       std::clamp(b + o, 0, 255));
                }
                lastPixel[phase] = p;
                lastIndex[phase] = q;
                *dst++ = static_cast<unsigned char>(q);
            }
        }
    }

    // Floyd-Steinberg, serpentine, with `ditherStrength` sixteenths of the error carried; the
    // error starts at zero at the top of each band.
    void MapDiffused(int first, int end, Worker& wk) const {
        const int w = m_picture.Width();
        const int transparent = m_palette.transparent;
        const int strength = m_tuning.ditherStrength;
        const size_t stride = static_cast<size_t>(w + 2) * 3;
        int32_t* cur = wk.errors.get();
        int32_t* below = cur + stride;
        std::fill_n(cur, stride, 0);
        for (int y = first; y < end; ++y) {
            std::fill_n(below, stride, 0);
            const uint32_t* src = m_picture.Row(y);
            unsigned char* dst =
                wk.indices.get() + static_cast<size_t>(y - first) * static_cast<size_t>(w);
            const bool back = ((y - first) & 1) != 0;
            const int dir = back ? -1 : 1;
            int x = back ? w - 1 : 0;
            int32_t carry[3] = {0, 0, 0};
            for (int i = 0; i < w; ++i, x += dir) {
                const uint32_t p = src[x];
                int32_t* e = cur + static_cast<size_t>(x + 1) * 3;
                int32_t* b = below + static_cast<size_t>(x + 1) * 3;
                if (p < 0x01000000u) {
                    dst[x] = static_cast<unsigned char>(transparent);
                    carry[0] = carry[1] = carry[2] = 0;
                    continue;
                }
                const uint32_t c = OverWhite(p);
                int t[3] = {static_cast<int>(c >> 16), static_cast<int>((c >> 8) & 0xFF),
                            static_cast<int>(c & 0xFF)};
                for (int ch = 0; ch < 3; ++ch)
                    t[ch] = std::clamp(t[ch] + ((e[ch] + carry[ch] + 128) >> 8), 0, 255);
                const int q = m_nearest.Find(t[0], t[1], t[2]);
                dst[x] = static_cast<unsigned char>(q);
                for (int ch = 0; ch < 3; ++ch) {
                    const int32_t err = (t[ch] - m_palette.rgb[q][ch]) * strength;
                    carry[ch] = 7 * err;
                    b[ch - 3 * dir] += 3 * err;
                    b[ch] += 5 * err;
                    b[ch + 3 * dir] += err;
                }
            }
            std::swap(cur, below);
        }
    }

    const Picture& m_picture;
    const Palette& m_palette;
    const NearestColour& m_nearest;
    const GifTuning& m_tuning;
    int m_bandRows;
    int m_bands;
};

// The image data as it goes out: codes joined across bands at any bit offset, cut into
// sub-blocks of 255 bytes with their length bytes.
class SubBlockWriter {
public:
    SubBlockWriter(ByteSink& sink, unsigned char* buffer) : m_sink(sink), m_buffer(buffer) {}

    bool PutCode(uint32_t code, int width) {
        m_bits |= static_cast<uint64_t>(code) << m_used;
        m_used += width;
        return m_used < 32 || EmitWord();
    }
    bool PutBits(const unsigned char* data, uint64_t bits) {
        const uint64_t words = bits / 32;
        for (uint64_t i = 0; i < words; ++i) {
            uint32_t word;
            std::memcpy(&word, data + 4 * i, 4);
            m_bits |= static_cast<uint64_t>(word) << m_used;
            m_used += 32;
            if (!EmitWord()) return false;
        }
        const int rest = static_cast<int>(bits % 32);
        if (rest == 0) return true;
        uint32_t word;
        std::memcpy(&word, data + 4 * words, 4);  // the band wrote its last word whole
        return PutCode(word & ((1u << rest) - 1), rest);
    }
    // The last bits, padded to a byte, the last sub-block and the block terminator.
    bool Finish() {
        while (m_used > 0) {
            if (!PutByte(static_cast<unsigned char>(m_bits))) return false;
            m_bits >>= 8;
            m_used = std::max(0, m_used - 8);
        }
        if (m_fill > 0) m_buffer[m_block] = static_cast<unsigned char>(m_fill);
        const size_t size = m_fill > 0 ? m_block + 1 + m_fill : m_block;
        m_buffer[size] = 0;
        return m_sink.Write(m_buffer, size + 1);
    }

    static constexpr size_t kBufferBytes = 256 * 256 + 1;

private:
    bool EmitWord() {
        for (int i = 0; i < 4; ++i) {
            if (!PutByte(static_cast<unsigned char>(m_bits))) return false;
            m_bits >>= 8;
        }
        m_used -= 32;
        return true;
    }
    bool PutByte(unsigned char byte) {
        m_buffer[m_block + 1 + m_fill] = byte;
        if (++m_fill < 255) return true;
        m_buffer[m_block] = 255;
        m_block += 256;
        m_fill = 0;
        if (m_block + 256 < kBufferBytes) return true;
        const bool ok = m_sink.Write(m_buffer, m_block);
        m_block = 0;
        return ok;
    }

    ByteSink& m_sink;
    unsigned char* m_buffer;
    size_t m_block = 0;  // where the current sub-block's length byte goes
    size_t m_fill = 0;   // bytes in the current sub-block
    uint64_t m_bits = 0;
    int m_used = 0;
};

void PutLittleEndian16(unsigned char* p, int v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

// Header, logical screen with the global colour table, the graphics control extension when
// there is a transparent colour, the image descriptor and the LZW minimum code size.
bool WriteHead(ByteSink& sink, int w, int h, const Palette& palette) {
    const int entries = palette.colours + (palette.transparent >= 0 ? 1 : 0);
    int bits = 1;
    while ((1 << bits) < entries) ++bits;
    unsigned char head[13 + 3 * 256 + 8 + 10 + 1] = {'G', 'I', 'F', '8', '9', 'a'};
    PutLittleEndian16(head + 6, w);
    PutLittleEndian16(head + 8, h);
    head[10] = static_cast<unsigned char>(0x80 | 0x70 | (bits - 1));  // table, 8-bit colour
    head[11] = 0;                                                     // background index
    head[12] = 0;                                                     // square pixels
    size_t n = 13;
    for (int i = 0; i < (1 << bits); ++i, n += 3) {
        if (i < entries)
            std::memcpy(head + n, palette.rgb[i], 3);
        else
            head[n] = head[n + 1] = head[n + 2] = 0;
    }
    if (palette.transparent >= 0) {
        const unsigned char gce[8] = {
            0x21, 0xF9, 4, 0x01, 0, 0, static_cast<unsigned char>(palette.transparent), 0};
        std::memcpy(head + n, gce, sizeof gce);
        n += sizeof gce;
    }
    head[n] = 0x2C;  // image descriptor: at 0, 0, the whole screen, no local table
    PutLittleEndian16(head + n + 1, 0);
    PutLittleEndian16(head + n + 3, 0);
    PutLittleEndian16(head + n + 5, w);
    PutLittleEndian16(head + n + 7, h);
    head[n + 9] = 0;
    n += 10;
    head[n++] = 8;
    return sink.Write(head, n);
}

}  // namespace

GifTuning DefaultGifTuning() {
    GifTuning tuning{};
    tuning.dither = GifTuning::Dither::Ordered;
    tuning.ditherStrength = 4;
    tuning.samplePixels = 1 << 19;
    return tuning;
}

Status EncodeGif(const Picture& picture, ByteSink& sink, const GifTuning& tuning) {
    if (picture.IsNull()) return Status::InvalidParameter;
    const int w = picture.Width();
    const int h = picture.Height();
    if (w > 0xFFFF || h > 0xFFFF) return Status::ValueOverflow;  // 16-bit sizes in the format

    auto palette = std::make_unique<Palette>();
    const Status learned = LearnPalette(picture, tuning, HasTransparentPixel(picture), *palette);
    if (learned != Status::Ok) return learned;
    auto nearest = std::make_unique<NearestColour>();
    if (!nearest->Init(*palette)) return Status::OutOfMemory;
    std::unique_ptr<unsigned char[]> buffer(
        new (std::nothrow) unsigned char[SubBlockWriter::kBufferBytes]);
    if (!buffer) return Status::OutOfMemory;

    if (!WriteHead(sink, w, h, *palette)) return Status::Win32Error;
    SubBlockWriter data(sink, buffer.get());
    int width = 9;
    const BandEncoder enc(picture, *palette, *nearest, tuning);
    const int threads = tuning.threads > 0 ? tuning.threads : EncoderThreadCount();
    const band_runner::BandFailure failure =
        band_runner::EncodeBands(enc, threads, tuning.busiestThreadCpu, [&](const BandCodes& band) {
            const bool ok =
                data.PutCode(kClearCode, width) && data.PutBits(band.data.get(), band.bits);
            width = band.endWidth;
            return ok;
        });
    if (failure == band_runner::BandFailure::Memory) return Status::OutOfMemory;
    if (failure == band_runner::BandFailure::Sink) return Status::Win32Error;
    static constexpr unsigned char kTrailer = 0x3B;
    if (!data.PutCode(kEndCode, width) || !data.Finish() || !sink.Write(&kTrailer, 1))
        return Status::Win32Error;
    return Status::Ok;
}

Status EncodeGif(const Picture& picture, ByteSink& sink) {
    return EncodeGif(picture, sink, DefaultGifTuning());
}
