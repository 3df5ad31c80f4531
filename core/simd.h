// Small SSE2 helpers for the loops that touch every byte or unit of a list (x86-64 always has
// SSE2). Each has a plain fallback so the results never depend on the instruction set.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Length of the run of bytes at the start of b[0, n) that are below 0x80 and not zero.
inline size_t AsciiRunLength(const unsigned char* b, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const int stop = _mm_movemask_epi8(v) | _mm_movemask_epi8(_mm_cmpeq_epi8(v, zero));
    if (stop != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(stop)));
  }
#endif
  while (i < n && b[i] != 0 && b[i] < 0x80) ++i;
  return i;
}

// Length of the start of b[0, n) that is well-formed UTF-8 of ASCII and 2-byte characters only,
// as whole blocks of 16 bytes: the text of most lists, Cyrillic ones included. It ends between
// characters; what follows it is for a caller to look at byte by byte.
inline size_t AsciiOrTwoByteRunLength(const unsigned char* b, size_t n) {
  size_t i = 0;
  unsigned carry = 0;  // the block before ended in a lead byte
#if defined(__SSE2__)
  const __m128i top_two = _mm_set1_epi8(static_cast<char>(0xC0));
  const __m128i continuation = _mm_set1_epi8(static_cast<char>(0x80));
  const __m128i below_c2 = _mm_set1_epi8(static_cast<char>(0xC1));  // signed: -63
  const __m128i from_e0 = _mm_set1_epi8(static_cast<char>(0xE0));   // signed: -32
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
    if (high == 0 && carry == 0) continue;
    const unsigned follows = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, top_two), continuation)));
    // C2 to DF, compared as signed bytes; ASCII is not below E0 as signed.
    const unsigned leads = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpgt_epi8(v, below_c2), _mm_cmpgt_epi8(from_e0, v))));
    if ((follows | leads) != high || follows != (((leads << 1) | carry) & 0xFFFF)) break;
    carry = leads >> 15;
  }
#else
  (void)b, (void)n;
#endif
  return i - carry;
}

// Widens n bytes (all below 0x80) to 16-bit units.
inline void WidenAscii(const unsigned char* b, size_t n, char16_t* out) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(v, zero));
  }
#endif
  for (; i < n; ++i) out[i] = b[i];
}

// Length of the run of units at the start of u[0, n) that are below 0x80.
inline size_t AsciiUnitRunLength(const char16_t* u, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= n; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + i));
    const int ascii = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, high), zero));
    if (ascii != 0xFFFF)
      return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(~ascii))) / 2;
  }
#endif
  while (i < n && u[i] < 0x80) ++i;
  return i;
}

// Narrows n units (all below 0x80) to bytes.
inline void NarrowAscii(const char16_t* u, size_t n, char* out) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + i));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + i + 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
  }
#endif
  for (; i < n; ++i) out[i] = static_cast<char>(u[i]);
}

// Narrows the UTF-16 units of b[0, n), 8 at a time, while all 8 are ASCII but zero, and then the
// ASCII units of the next 8 before the first that is not (or is zero); returns the bytes of b
// taken, whose units are then in out. Up to 8 bytes of out past those may be written.
inline size_t NarrowAsciiUtf16(const unsigned char* b, size_t n, bool big, unsigned char* out) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i above = _mm_set1_epi16(static_cast<short>(0xFF80));
  for (; i + 16 <= n; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    if (big) v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
    const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(v, above), zero);
    const unsigned others = (_mm_movemask_epi8(ascii) ^ 0xFFFFu) |
                            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, zero)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i / 2), _mm_packus_epi16(v, v));
    if (others != 0) return i + static_cast<size_t>(__builtin_ctz(others));  // two bits a unit
  }
#else
  (void)b, (void)n, (void)big, (void)out;
#endif
  return i;
}

// The same for UTF-32 units, 8 at a time: returns the bytes of b taken (a multiple of 32).
inline size_t NarrowAsciiUtf32(const unsigned char* b, size_t n, bool big, unsigned char* out) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  // Read as little-endian words, a big-endian unit has its value in the top byte.
  const __m128i others = _mm_set1_epi32(big ? 0x80FFFFFF : static_cast<int>(0xFFFFFF80));
  auto units = [&](const unsigned char* at, __m128i& value) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    value = big ? _mm_srli_epi32(v, 24) : v;
    return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(v, others), zero)) == 0xFFFF &&
           _mm_movemask_epi8(_mm_cmpeq_epi32(value, zero)) == 0;
  };
  for (; i + 32 <= n; i += 32) {
    __m128i low, high;
    if (!units(b + i, low) || !units(b + i + 16, high)) break;
    const __m128i words = _mm_packs_epi32(low, high);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i / 4), _mm_packus_epi16(words, words));
  }
#else
  (void)b, (void)n, (void)big, (void)out;
#endif
  return i;
}

// Which of the 64 bytes from b on are one of the count (1 to 4) bytes, as bits.
inline uint64_t SeparatorMask64(const unsigned char* b, const unsigned char* bytes, int count) {
  uint64_t bits = 0;
#if defined(__SSE2__)
  __m128i s[4];
  for (int k = 0; k < 4; ++k) s[k] = _mm_set1_epi8(static_cast<char>(bytes[k < count ? k : 0]));
  for (int i = 0; i < 64; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, s[0]), _mm_cmpeq_epi8(v, s[1]));
    hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, s[2]), _mm_cmpeq_epi8(v, s[3])));
    bits |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(hit))} << i;
  }
#else
  for (int i = 0; i < 64; ++i)
    for (int k = 0; k < count; ++k)
      if (b[i] == bytes[k]) bits |= uint64_t{1} << i;
#endif
  return bits;
}

// Offset of the first byte of b[0, n) that is one of the count (1 to 4) bytes, or n.
inline size_t FirstOfBytes(const unsigned char* b, size_t n, const unsigned char* bytes,
                           int count) {
  size_t i = 0;
  for (; i + 64 <= n; i += 64)
    if (const uint64_t bits = SeparatorMask64(b + i, bytes, count); bits != 0)
      return i + static_cast<size_t>(__builtin_ctzll(bits));
  for (; i < n; ++i)
    for (int k = 0; k < count; ++k)
      if (b[i] == bytes[k]) return i;
  return n;
}

// Byte offset of the first 2-byte unit in b[0, n) that is zero, units starting at even offsets;
// n rounded down to even when there is none. A UTF-16 text of Latin letters has a zero byte in
// every unit, so a byte search would stop everywhere.
inline size_t ZeroPairOffset(const unsigned char* b, size_t n) {
  n &= ~size_t{1};
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(v, zero));
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#endif
  for (; i < n; i += 2)
    if (b[i] == 0 && b[i + 1] == 0) return i;
  return n;
}
