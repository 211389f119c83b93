// The writer's inner loop with AVX-512: 16 values at a time, their digits squeezed together by
// byte compression. Compiled only for x86-64; called only where the processor has the avx512 tier.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "imagelib/value_text.h"

namespace imagelib_detail {

#define IMAGELIB_WIDE_TARGET \
  __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,popcnt")))

namespace {

// Byte tables for 16 values laid out as 4-byte slots, one set per half of a 32-value stretch.
struct WideTables {
  // Picks each slot's hundreds, tens and ones digit and a space out of two registers: the
  // hundreds (bytes 0-31) and tens (32-63) of 32 values, their ones (64-95) and spaces (96-127).
  alignas(64) unsigned char slots[2][64];
  // Repeats each value over its slot, to compare it with keep_from.
  alignas(64) unsigned char values[2][64];
  // A slot keeps its hundreds digit from 100 on, its tens digit from 10 on, the rest always.
  alignas(64) unsigned char keep_from[64];
};

constexpr WideTables make_wide_tables() {
  WideTables t{};
  for (size_t half = 0; half < 2; ++half) {
    for (size_t i = 0; i < 16; ++i) {
      const auto value = static_cast<unsigned char>(16 * half + i);
      unsigned char* slot = t.slots[half] + 4 * i;
      slot[0] = value;
      slot[1] = static_cast<unsigned char>(32 + value);
      slot[2] = static_cast<unsigned char>(64 + value);
      slot[3] = 96;
      for (size_t k = 0; k < 4; ++k) {
        t.values[half][4 * i + k] = value;
      }
    }
  }
  for (size_t i = 0; i < 16; ++i) {
    t.keep_from[4 * i] = 100;
    t.keep_from[4 * i + 1] = 10;
  }
  return t;
}

constexpr WideTables kWide = make_wide_tables();
// Every lane. GCC 12 warns inside target functions about the intrinsics that leave lanes
// undefined; their zero-masked forms do the same work.
constexpr __mmask64 kAll = ~__mmask64{0};
constexpr __mmask32 kAll32 = ~__mmask32{0};
constexpr __mmask8 kAll8 = 0xFF;

IMAGELIB_WIDE_TARGET inline __m512i load_table(const void* table) {
  return _mm512_load_si512(table);
}

// Slot bytes of the first `count` values of the 16 the tables' half picks, or none.
IMAGELIB_WIDE_TARGET inline uint64_t slot_mask(int32_t count) {
  return count >= 16 ? ~uint64_t{0} : count <= 0 ? 0 : (uint64_t{1} << (4 * count)) - 1;
}

// Writes one half's values: their slots with the unwanted leading digits squeezed out.
IMAGELIB_WIDE_TARGET inline char* write_half(char* text, int half, int32_t count, __m512i digits,
                                             __m512i ones, __m512i values) {
  const __m512i slots = _mm512_permutex2var_epi8(digits, load_table(kWide.slots[half]), ones);
  const __m512i repeated =
      _mm512_maskz_permutexvar_epi8(kAll, load_table(kWide.values[half]), values);
  const uint64_t keep =
      _mm512_cmpge_epu8_mask(repeated, load_table(kWide.keep_from)) & slot_mask(count);
  _mm512_storeu_si512(text, _mm512_maskz_compress_epi8(keep, slots));
  return text + _mm_popcnt_u64(keep);
}

// Eight bytes of 16-bit lanes, with a 256-bit register as the upper half of the result.
IMAGELIB_WIDE_TARGET inline __m512i bytes_of(__m512i lanes, __m256i upper) {
  return _mm512_maskz_inserti64x4(
      kAll8, _mm512_castsi256_si512(_mm512_maskz_cvtepi16_epi8(kAll32, lanes)), upper, 1);
}

}  // namespace

IMAGELIB_WIDE_TARGET void write_values_avx512(TextCursor* cursor, const unsigned char* row_end,
                                              int32_t per_line, const char* room_end) {
  const __m512i ten = _mm512_set1_epi16(10);
  const __m512i tenth = _mm512_set1_epi16(6554);  // (x * 6554) >> 16 is x / 10 for x < 1024
  const __m512i zero_digit = _mm512_set1_epi8('0');
  const __m256i space = _mm256_set1_epi8(' ' - '0');
  const unsigned char* pixels = cursor->pixels;
  int32_t to_break = cursor->to_break;
  char* text = cursor->text;
  while (pixels < row_end && text < room_end) {
    const int32_t n =
        row_end - pixels < to_break ? static_cast<int32_t>(row_end - pixels) : to_break;
    // n is at most 21: one masked load reads the stretch and nothing past it.
    const __m256i values =
        _mm256_maskz_loadu_epi8(static_cast<__mmask32>((uint64_t{1} << n) - 1), pixels);
    const __m512i wide = _mm512_cvtepu8_epi16(values);
    const __m512i tens_and_more = _mm512_mulhi_epu16(wide, tenth);
    const __m512i ones = _mm512_sub_epi16(wide, _mm512_mullo_epi16(tens_and_more, ten));
    const __m512i hundreds = _mm512_mulhi_epu16(tens_and_more, tenth);
    const __m512i tens = _mm512_sub_epi16(tens_and_more, _mm512_mullo_epi16(hundreds, ten));
    const __m512i digits =
        _mm512_add_epi8(bytes_of(hundreds, _mm512_maskz_cvtepi16_epi8(kAll32, tens)), zero_digit);
    const __m512i ones_and_space = _mm512_add_epi8(bytes_of(ones, space), zero_digit);
    const __m512i values_wide = _mm512_castsi256_si512(values);
    text = write_half(text, 0, n, digits, ones_and_space, values_wide);
    if (n > 16) {
      text = write_half(text, 1, n - 16, digits, ones_and_space, values_wide);
    }
    pixels += n;
    to_break -= n;
    if (to_break == 0) {
      *text++ = '\n';
      to_break = per_line;
    }
  }
  *cursor = TextCursor{pixels, to_break, text};
}

}  // namespace imagelib_detail
