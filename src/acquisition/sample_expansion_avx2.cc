// The 12-bit unpacking eight pairs at a time and the 8-bit expansion sixteen samples at a time.
// Compiled for AVX2 function by function, so nothing here runs unless the processor was checked for
// it first.
#include "acquisition/sample_expansion.h"

#if defined(__x86_64__) && defined(__GNUC__)

#include <immintrin.h>

namespace kqfw {

// Pairs from the top of the frame down, as the plain version goes: eight pairs' 24 bytes are
// loaded before their 32 bytes are stored, and a store never reaches below its own input, so
// nothing unread is overwritten. Each half of a load takes 16 bytes for the 12 it uses; the
// 4 beyond lie in the frame's buffer (its samples need 4 bytes a pair, the packed pairs 3; read
// from another buffer, the caller leaves 4 bytes of slack) and are shuffled away.
__attribute__((target("avx2"))) void unpackPacked12Avx2(const uint8_t* bytes, uint16_t* image,
                                                        uint64_t pairs) {
    const uint64_t blocks = pairs / 8;
    for (uint64_t j = pairs; j-- > 8 * blocks;) {
        const uint8_t b0 = bytes[3 * j], b1 = bytes[3 * j + 1], b2 = bytes[3 * j + 2];
        image[2 * j] = static_cast<uint16_t>((((b0 << 4) + (b2 >> 4)) * 4) + 3);
        image[2 * j + 1] = static_cast<uint16_t>((((b1 << 4) + (b2 & 15)) * 4) + 3);
    }
    // A 16-bit lane holds (byte 2, byte 0) for the pair's first sample and (byte 2, byte 1)
    // for its second.
    const __m256i spread = _mm256_setr_epi8(2, 0, 2, 1, 5, 3, 5, 4, 8, 6, 8, 7, 11, 9, 11, 10,  //
                                            2, 0, 2, 1, 5, 3, 5, 4, 8, 6, 8, 7, 11, 9, 11, 10);
    const __m256i highNibbles = _mm256_set1_epi16(int16_t(0xFF00)),
                  lowNibble = _mm256_set1_epi16(15);
    const __m256i three = _mm256_set1_epi16(3);
    for (uint64_t k = blocks; k-- > 0;) {
        const uint8_t* in = bytes + 24 * k;
        const __m256i raw = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12)), 1);
        const __m256i w = _mm256_shuffle_epi8(raw, spread);
        const __m256i first = _mm256_srli_epi16(w, 4);
        const __m256i second = _mm256_or_si256(
            _mm256_srli_epi16(_mm256_and_si256(w, highNibbles), 4), _mm256_and_si256(w, lowNibble));
        const __m256i samples = _mm256_blend_epi16(first, second, 0xAA);
        const __m256i out = _mm256_add_epi16(_mm256_slli_epi16(samples, 2), three);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(image + 16 * k), out);
    }
}

// Sixteen samples a step from the top of the frame down, each step's 16 bytes loaded before
// its 32 are stored, which lie at or above them; the table is widened to 32 bits for the gathers.
__attribute__((target("avx2"))) void expand8BitAvx2(const uint8_t* bytes, uint16_t* image,
                                                    uint64_t samples, const uint16_t* table) {
    alignas(32) int32_t wide[256];
    for (int i = 0; i < 256; ++i) {
        wide[i] = table[i];
    }
    const uint64_t blocks = samples / 16;
    for (uint64_t i = samples; i-- > 16 * blocks;) {
        image[i] = table[bytes[i]];
    }
    for (uint64_t k = blocks; k-- > 0;) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * k));
        const __m256i low = _mm256_i32gather_epi32(wide, _mm256_cvtepu8_epi32(in), 4);
        const __m256i high =
            _mm256_i32gather_epi32(wide, _mm256_cvtepu8_epi32(_mm_srli_si128(in, 8)), 4);
        // The pack interleaves the halves' 128-bit lanes; the permute puts them back in order.
        const __m256i out = _mm256_permute4x64_epi64(_mm256_packus_epi32(low, high), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(image + 16 * k), out);
    }
}

}  // namespace kqfw

#endif
