#include "noise/noise.h"

namespace {

constexpr int kWords = 31;
constexpr int kSeparation = 3;
// The generator's first 310 outputs are thrown away to stir the state.
constexpr int kWarmUp = 310;

}  // namespace

void rand_init(RandState* state) {
  // Seed 1, as rand() without srand(); the first words come from the minimal-standard LCG.
  int64_t word = 1;
  state->table[0] = 1;
  for (int i = 1; i < kWords; ++i) {
    word = 16807 * word % 2147483647;
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
