// SHA-256 compression with the x86 SHA extensions, for x86-64 and 32-bit
// x86 alike. Only the functions marked SHA_EXTENSIONS_TARGET may use the
// new instructions, so that the rest of the program still runs on a CPU
// without them; qarn_sha256_extensions_available tells which CPU has them.
//
// The SHA extensions keep the eight chaining words in two registers, ABEF
// and CDGH (A in the highest lane), and _mm_sha256rnds2_epu32 runs two
// rounds on the low two lanes of a register of message words plus round
// constants. Message words 16 to 63 are made four at a time:
// _mm_sha256msg1_epu32 adds sigma0 of the next four words, the words seven
// back are added with one shift, and _mm_sha256msg2_epu32 adds sigma1.
#include <cpuid.h>
#include <immintrin.h>

#include "support/sha256_compress.h"

// On 32-bit Windows the stack is only 4-byte aligned on entry, and the
// 128-bit values spilled here need 16: realign it in the one entry point.
#if defined(__i386__)
#define SHA_EXTENSIONS_ENTRY __attribute__((target("sha,sse4.1,ssse3"), force_align_arg_pointer))
#else
#define SHA_EXTENSIONS_ENTRY __attribute__((target("sha,sse4.1,ssse3")))
#endif
#define SHA_EXTENSIONS_TARGET __attribute__((target("sha,sse4.1,ssse3"), always_inline)) inline

namespace {

constexpr unsigned int CPUID_FEATURES_LEAF = 1;
constexpr unsigned int CPUID_EXTENDED_FEATURES_LEAF = 7;
constexpr unsigned int ECX_SSSE3 = 1u << 9;
constexpr unsigned int ECX_SSE4_1 = 1u << 19;
constexpr unsigned int EBX_SHA = 1u << 29;

constexpr int WORDS_PER_GROUP = 4;  // rounds per group, and words per register
constexpr int GROUP_COUNT = QARN_SHA256_ROUNDS / WORDS_PER_GROUP;
constexpr int BYTES_PER_REGISTER = 16;
// Groups 0 to 3 take their words straight from the block.
constexpr int FIRST_SCHEDULED_GROUP = QARN_SHA256_BLOCK_LEN / BYTES_PER_REGISTER;
constexpr int ONE_WORD_SHIFT = 4;      // bytes, for _mm_alignr_epi8
constexpr int HALF_REGISTER_SHIFT = 8;

// Shuffle controls.
constexpr int SWAP_WORD_PAIRS = 0xB1;     // lanes 1 0 3 2
constexpr int REVERSE_WORDS = 0x1B;       // lanes 3 2 1 0
constexpr int HIGH_PAIR_TO_LOW = 0x0E;    // the words for the second two rounds
constexpr int HIGH_HALF_OF_BLEND = 0xF0;  // _mm_blend_epi16: the upper four 16-bit lanes

// Message words are big-endian; this byte shuffle swaps each word's bytes.
SHA_EXTENSIONS_TARGET __m128i byte_swap_mask() {
  return _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
}

SHA_EXTENSIONS_TARGET __m128i load_message_words(const unsigned char *bytes, __m128i mask) {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes)), mask);
}

// Four rounds of group |group| with its message words |words|.
SHA_EXTENSIONS_TARGET void four_rounds(__m128i &abef, __m128i &cdgh, __m128i words, int group) {
  __m128i constants = _mm_loadu_si128(
      reinterpret_cast<const __m128i *>(qarn_sha256_round_constants + WORDS_PER_GROUP * group));
  __m128i words_and_constants = _mm_add_epi32(words, constants);
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words_and_constants);
  abef = _mm_sha256rnds2_epu32(abef, cdgh,
                               _mm_shuffle_epi32(words_and_constants, HIGH_PAIR_TO_LOW));
}

// Completes the four message words in |pending|, which hold w[t-16] +
// sigma0(w[t-15]) already: adds w[t-7] (the last three words of |older|
// and the first of |newest|) and sigma1 of w[t-2].
SHA_EXTENSIONS_TARGET __m128i next_words(__m128i pending, __m128i older, __m128i newest) {
  __m128i seven_back = _mm_alignr_epi8(newest, older, ONE_WORD_SHIFT);
  return _mm_sha256msg2_epu32(_mm_add_epi32(pending, seven_back), newest);
}

// One group of four rounds with the words |current|, and the schedule work
// that overlaps it: the words of the next group are finished in |next|
// (from group 3 on, when they are not straight from the block), and the
// words three groups ahead are started in |previous| (while there are
// such groups), whose own words are no longer needed then.
SHA_EXTENSIONS_TARGET void rounds_and_schedule(__m128i &abef, __m128i &cdgh, __m128i current,
                                               __m128i &next, __m128i &previous, int group) {
  four_rounds(abef, cdgh, current, group);
  if (group >= FIRST_SCHEDULED_GROUP - 1 && group < GROUP_COUNT - 1) {
    next = next_words(next, previous, current);
  }
  if (group >= 1 && group < GROUP_COUNT - 3) {
    previous = _mm_sha256msg1_epu32(previous, current);
  }
}

}  // namespace

int qarn_sha256_extensions_available() {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(CPUID_FEATURES_LEAF, &eax, &ebx, &ecx, &edx)) {
    return 0;
  }
  if ((ecx & ECX_SSSE3) == 0 || (ecx & ECX_SSE4_1) == 0) {
    return 0;
  }
  // __get_cpuid_count says 0 when the CPU has no leaf 7 at all.
  if (!__get_cpuid_count(CPUID_EXTENDED_FEATURES_LEAF, 0, &eax, &ebx, &ecx, &edx)) {
    return 0;
  }
  return (ebx & EBX_SHA) != 0 ? 1 : 0;
}

SHA_EXTENSIONS_ENTRY void qarn_sha256_compress_extensions(
    uint32_t state[QARN_SHA256_STATE_WORDS], const unsigned char *blocks, size_t block_count) {
  const __m128i mask = byte_swap_mask();

  // A B C D and E F G H into ABEF and CDGH.
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state + WORDS_PER_GROUP));
  __m128i cdab = _mm_shuffle_epi32(dcba, SWAP_WORD_PAIRS);
  __m128i efgh = _mm_shuffle_epi32(hgfe, REVERSE_WORDS);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, HALF_REGISTER_SHIFT);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, HIGH_HALF_OF_BLEND);

  for (size_t block = 0; block < block_count; block++) {
    const unsigned char *in = blocks + block * QARN_SHA256_BLOCK_LEN;
    const __m128i abef_before = abef;
    const __m128i cdgh_before = cdgh;

    // Four registers, used in turn, hold every message word still needed.
    __m128i w0 = load_message_words(in, mask);
    __m128i w1 = load_message_words(in + BYTES_PER_REGISTER, mask);
    __m128i w2 = load_message_words(in + 2 * BYTES_PER_REGISTER, mask);
    __m128i w3 = load_message_words(in + 3 * BYTES_PER_REGISTER, mask);
#pragma GCC unroll 4
    for (int group = 0; group < GROUP_COUNT; group += WORDS_PER_GROUP) {
      rounds_and_schedule(abef, cdgh, w0, w1, w3, group);
      rounds_and_schedule(abef, cdgh, w1, w2, w0, group + 1);
      rounds_and_schedule(abef, cdgh, w2, w3, w1, group + 2);
      rounds_and_schedule(abef, cdgh, w3, w0, w2, group + 3);
    }
    abef = _mm_add_epi32(abef, abef_before);
    cdgh = _mm_add_epi32(cdgh, cdgh_before);
  }

  // ABEF and CDGH back into A B C D and E F G H.
  __m128i feba = _mm_shuffle_epi32(abef, REVERSE_WORDS);
  __m128i dchg = _mm_shuffle_epi32(cdgh, SWAP_WORD_PAIRS);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(state),
                   _mm_blend_epi16(feba, dchg, HIGH_HALF_OF_BLEND));
  _mm_storeu_si128(reinterpret_cast<__m128i *>(state + WORDS_PER_GROUP),
                   _mm_alignr_epi8(dchg, feba, HALF_REGISTER_SHIFT));
}
