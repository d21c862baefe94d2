#pragma once
// Scans over received text that look at sixteen bytes at a time: every received byte passes each
// of them once, and a byte-at-a-time loop made them the larger part of showing a flood.
// Each has a plain loop beside it for processors without SSE2.
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pek {

namespace byte_scan {

#if defined(__SSE2__)
// The first index in [0, n) whose byte matches, or n; match(v) gives 0xFF in each matching lane.
template <typename Match>
inline std::size_t FindFirst(const unsigned char* p, std::size_t n, Match match)
{
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const int mask = _mm_movemask_epi8(match(v));
        if (mask != 0) return i + std::size_t(__builtin_ctz(unsigned(mask)));
    }
    if (i == n) return n;
    // The tail through a copy, so no byte past the end is read.
    alignas(16) unsigned char tail[16] = {};
    for (std::size_t k = 0; k < n - i; ++k) tail[k] = p[i + k];
    const int valid = (1 << int(n - i)) - 1;
    const int mask = _mm_movemask_epi8(match(_mm_load_si128(reinterpret_cast<const __m128i*>(tail)))) & valid;
    return mask != 0 ? i + std::size_t(__builtin_ctz(unsigned(mask))) : n;
}
#endif

}  // namespace byte_scan

// Bytes before the first CR or LF (n when there is none).
inline std::size_t FindLineBreak(const char* text, std::size_t n)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text);
#if defined(__SSE2__)
    return byte_scan::FindFirst(p, n, [](__m128i v) {
        return _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n')));
    });
#else
    std::size_t i = 0;
    while (i < n && p[i] != '\r' && p[i] != '\n') ++i;
    return i;
#endif
}

// Bytes before the first one that is not a one-column character of its own: a byte from 0x80 up
// (a lead byte, or a byte the wrap rule looks at more closely) or a TAB.
inline std::size_t SpanOfPlainColumns(const unsigned char* p, std::size_t n)
{
#if defined(__SSE2__)
    // A byte from 0x80 up is negative as a signed byte.
    return byte_scan::FindFirst(p, n, [](__m128i v) {
        return _mm_or_si128(_mm_cmplt_epi8(v, _mm_setzero_si128()), _mm_cmpeq_epi8(v, _mm_set1_epi8('\t')));
    });
#else
    std::size_t i = 0;
    while (i < n && p[i] < 0x80 && p[i] != '\t') ++i;
    return i;
#endif
}

// Bytes before the first control code that is not TAB, LF or CR (BS included).
inline std::size_t FindOtherControl(const char* text, std::size_t n)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text);
#if defined(__SSE2__)
    return byte_scan::FindFirst(p, n, [](__m128i v) {
        const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(31)), v);  // v <= 31
        const __m128i kept = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
                                          _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')));
        return _mm_andnot_si128(kept, control);
    });
#else
    std::size_t i = 0;
    while (i < n && (p[i] >= 32 || p[i] == '\t' || p[i] == '\n' || p[i] == '\r')) ++i;
    return i;
#endif
}

}  // namespace pek
