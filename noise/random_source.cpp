// SPDX-License-Identifier: MIT
#include "noise/noise.h"

#include <algorithm>

namespace noise_detail {
namespace {

constexpr int kWords = 31;
constexpr int kSeparation = 3;
// The generator's first 310 outputs are thrown away to stir the state.
constexpr int kWarmUp = 310;

}  // namespace

void rand_init(RandState* state, uint32_t seed) {
  // As glibc's srandom_r: seed 0 would leave the table all 0, so it stands for 1. The seed is
  // taken as a signed 32-bit value, and each next word is the minimal-standard LCG's step from
  // it, with Schrage's split so that no product leaves 32 bits; a negative seed's first step is
  // negative and brought back into range by adding the modulus.
  int32_t word = seed == 0 ? 1 : static_cast<int32_t>(seed);
  state->table[0] = static_cast<uint32_t>(word);
  for (int i = 1; i < kWords; ++i) {
    const int32_t hi = word / 127773;
    const int32_t lo = word % 127773;
    word = 16807 * lo - 2836 * hi;
    if (word < 0) {
      word += 2147483647;
    }
    state->table[i] = static_cast<uint32_t>(word);
  }
  state->front = kSeparation;
  state->back = 0;
  for (int i = 0; i < kWarmUp; ++i) {
    rand_next(state);
  }
}

int32_t rand_next(RandState* state) {
  uint32_t& word = state->table[state->front];
  word += state->table[state->back];  // wraps modulo 2^32, as intended
  state->front = state->front + 1 == kWords ? 0 : state->front + 1;
  state->back = state->back + 1 == kWords ? 0 : state->back + 1;
  return static_cast<int32_t>(word >> 1);
}

void rand_fill(RandState* state, int32_t* out, int32_t count) {
  // The ring unrolled into a straight run, oldest word first: word n + 31 = word n + word n + 28.
  // A straight run needs no wrap-around tests, and three words in a row never depend on each
  // other. The newest words ride in registers: read back from memory right after their stores,
  // they would stall on store forwarding.
  constexpr int32_t kBlock = 1024;
  uint32_t run[kWords + kBlock];
  while (count > 0) {
    const int32_t n = count < kBlock ? count : kBlock;
    const int head = kWords - state->front;
    std::copy_n(state->table + state->front, head, run);
    std::copy_n(state->table, state->front, run + head);
    uint32_t third = run[kWords - kSeparation];
    uint32_t second = run[kWords - 2];
    uint32_t newest = run[kWords - 1];
    int32_t i = 0;
    for (; i + 3 <= n; i += 3) {
      third += run[i];
      second += run[i + 1];
      newest += run[i + 2];
      run[kWords + i] = third;
      run[kWords + i + 1] = second;
      run[kWords + i + 2] = newest;
      out[i] = static_cast<int32_t>(third >> 1);
      out[i + 1] = static_cast<int32_t>(second >> 1);
      out[i + 2] = static_cast<int32_t>(newest >> 1);
    }
    for (; i < n; ++i) {
      const uint32_t word = run[i] + third;
      run[kWords + i] = word;
      out[i] = static_cast<int32_t>(word >> 1);
      third = second;
      second = newest;
      newest = word;
    }
    const int front = (state->front + n) % kWords;
    const int tail = kWords - front;
    std::copy_n(run + n, tail, state->table + front);
    std::copy_n(run + n + tail, front, state->table);
    state->front = front;
    state->back = (front + kWords - kSeparation) % kWords;
    out += n;
    count -= n;
  }
}

namespace {

// Polynomials over the integers modulo 2^32, of degree below 31: coefficient i of x^i.
struct Poly {
  uint32_t c[kWords];
};

// a * b modulo x^31 - x^28 - 1, the generator's recurrence: word n + 31 = word n + 28 + word n.
Poly multiply(const Poly& a, const Poly& b) {
  uint32_t wide[2 * kWords - 1] = {};
  for (int i = 0; i < kWords; ++i) {
    for (int j = 0; j < kWords; ++j) {
      wide[i + j] += a.c[i] * b.c[j];
    }
  }
  // x^k = x^(k - 3) + x^(k - 31), from the top down.
  for (int k = 2 * kWords - 2; k >= kWords; --k) {
    wide[k - kSeparation] += wide[k];
    wide[k - kWords] += wide[k];
  }
  Poly product{};
  std::copy_n(wide, kWords, product.c);
  return product;
}

}  // namespace

void rand_skip(RandState* state, uint64_t count) {
  if (count == 0) {
    return;
  }
  // x^count modulo the recurrence gives word n + count from words n .. n + 30; x^(count + i) the
  // words after it.
  Poly power{};
  power.c[0] = 1;
  Poly base{};
  base.c[1] = 1;
  for (uint64_t n = count; n != 0; n >>= 1) {
    if ((n & 1) != 0) {
      power = multiply(power, base);
    }
    base = multiply(base, base);
  }
  uint32_t oldest_first[kWords];
  for (int j = 0; j < kWords; ++j) {
    oldest_first[j] = state->table[(state->front + j) % kWords];
  }
  Poly x{};
  x.c[1] = 1;
  uint32_t next[kWords];
  for (int i = 0; i < kWords; ++i) {
    uint32_t word = 0;
    for (int j = 0; j < kWords; ++j) {
      word += power.c[j] * oldest_first[j];
    }
    next[i] = word;
    power = multiply(power, x);
  }
  for (int i = 0; i < kWords; ++i) {
    state->table[(state->front + i) % kWords] = next[i];
  }
}

}  // namespace noise_detail
