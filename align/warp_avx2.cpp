// The bicubic row kernel for processors with AVX2, two output pixels at a
// time: each 128-bit lane does what the baseline kernel does for one. Built
// with AVX2 enabled (CMakeLists.txt) and called only when the processor
// has it; nothing else lives in this file, so no code built for AVX2 can be
// reached on a processor without it.
#include "align/warp_kernels.h"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace warp {

#if defined(__AVX2__)
void cubicRowAvx2(const Source& s, const Tap* taps, int n, std::uint32_t* out)
{
    const CubicWeights& t = cubicWeights();
    const __m256i zero = _mm256_setzero_si256();
    int u = 0;
    for (; u + 1 < n; u += 2) {
        const Tap& a = taps[u];
        const Tap& b = taps[u + 1];
        if (!s.holds(a) || !s.holds(b)) {
            cubicRow(s, taps + u, 2, out + u);
            continue;
        }
        // The weights across, (w0, w1) and (w2, w3) of each pixel in its own
        // lane, and down, row j's weight of each pixel in its own lane.
        const auto pairsOf = [&](const Tap& tap) {
            return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t.pairs[tap.fx]));
        };
        const __m256i pairs = _mm256_inserti128_si256(_mm256_castsi128_si256(pairsOf(a)), pairsOf(b), 1);
        const __m256i w01 = _mm256_shuffle_epi32(pairs, 0x00);
        const __m256i w23 = _mm256_shuffle_epi32(pairs, 0x55);
        const __m256 downs = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(t.down[a.fy])),
            _mm_loadu_ps(t.down[b.fy]), 1);
        auto row = [&](int j, __m256 down) {
            const __m128i fourA = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.at(a.ix - 1, a.iy - 1 + j)));
            const __m128i fourB = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.at(b.ix - 1, b.iy - 1 + j)));
            const __m256i four = _mm256_inserti128_si256(_mm256_castsi128_si256(fourA), fourB, 1);
            const __m256i next = _mm256_srli_si256(four, 4);
            const __m256i p01 = _mm256_unpacklo_epi8(_mm256_unpacklo_epi8(four, next), zero);
            const __m256i p23 = _mm256_unpacklo_epi8(_mm256_unpackhi_epi8(four, next), zero);
            const __m256i across = _mm256_add_epi32(_mm256_madd_epi16(p01, w01), _mm256_madd_epi16(p23, w23));
            return _mm256_mul_ps(_mm256_cvtepi32_ps(across), down);
        };
        const __m256 top = _mm256_add_ps(row(0, _mm256_shuffle_ps(downs, downs, 0x00)),
            row(1, _mm256_shuffle_ps(downs, downs, 0x55)));
        const __m256 bottom = _mm256_add_ps(row(2, _mm256_shuffle_ps(downs, downs, 0xAA)),
            row(3, _mm256_shuffle_ps(downs, downs, 0xFF)));
        const __m256 sum = _mm256_add_ps(top, bottom);
        const __m256i rounded = _mm256_cvtps_epi32(sum);
        const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(rounded, zero), zero);
        out[u] = std::uint32_t(_mm_cvtsi128_si32(_mm256_castsi256_si128(bytes))) | 0xFF000000u;
        out[u + 1] = std::uint32_t(_mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1))) | 0xFF000000u;
    }
    if (u < n)
        cubicRow(s, taps + u, n - u, out + u);
}
#else
// Without a compiler that builds AVX2 the baseline does the work.
void cubicRowAvx2(const Source& s, const Tap* taps, int n, std::uint32_t* out) { cubicRow(s, taps, n, out); }
#endif

} // namespace warp
