// The settings pane's conversions of typed text: integers and colours, on any text.
// Checked against the C library's own readers on plain ASCII input (strtol for integers,
// "%2x%2x%2x" for colours), and by round trips.
#include <fuzzer/FuzzedDataProvider.h>

#include <QString>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "typed_value.h"

namespace {

bool IsAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c == 0 || c >= 0x80) return false;
    return true;
}

bool IsHex(const std::string& s) {
    for (unsigned char c : s)
        if (!std::isxdigit(c)) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int32_t number = in.ConsumeIntegral<int32_t>();
    const COLORREF color = in.ConsumeIntegral<uint32_t>();
    const bool utf16 = in.ConsumeBool();
    QString text;
    std::string bytes;
    if (utf16) {
        while (in.remaining_bytes() >= 2 && text.size() < 64)
            text.append(QChar(in.ConsumeIntegral<char16_t>()));
    } else {
        bytes = in.ConsumeRemainingBytesAsString();
        text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }

    FUZZ_CHECK(ParseTypedInt(QString::number(number)) == number);
    FUZZ_CHECK(ParseTypedInt(QStringLiteral("  %1xyz").arg(number)) == number);
    FUZZ_CHECK(ParseTypedColor(FormatColorText(color)) == (color & 0x00FFFFFFu));
    FUZZ_CHECK(FormatColorText(color).size() == 6);

    const int32_t parsed = ParseTypedInt(text);
    if (!utf16 && IsAscii(bytes)) {
        errno = 0;
        const long long reference = std::strtoll(bytes.c_str(), nullptr, 10);
        const long long clamped =
            reference < INT32_MIN ? INT32_MIN : (reference > INT32_MAX ? INT32_MAX : reference);
        if (parsed != clamped) {
            std::fprintf(stderr, "\"%s\": %d, strtoll says %lld\n", bytes.c_str(), parsed,
                         reference);
            std::abort();
        }
    }

    const std::optional<COLORREF> typed = ParseTypedColor(text);
    bool allKeys = true;
    for (QChar c : text) allKeys = allKeys && IsColorKey(c);
    FUZZ_CHECK(typed.has_value() == allKeys);
    if (typed) {
        FUZZ_CHECK((*typed & 0xFF000000u) == 0);
        if (!utf16 && IsHex(bytes)) {
            unsigned r = 0, g = 0, b = 0;
            std::sscanf(bytes.c_str(), "%2x%2x%2x", &r, &g, &b);
            FUZZ_CHECK(*typed ==
                       RGBColor(static_cast<int>(r), static_cast<int>(g), static_cast<int>(b)));
        }
    }
    return 0;
}
