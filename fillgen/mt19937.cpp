#include "mt19937.h"

namespace fillgen {

namespace {

constexpr int n = mt19937::state_words;
constexpr int m = 397;
constexpr uint32_t matrix_a = 0x9908B0DFu;
constexpr uint32_t upper_mask = 0x80000000u;
constexpr uint32_t lower_mask = 0x7FFFFFFFu;

inline uint32_t temper(uint32_t y) {
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}

// New value of one state word from the word itself, its successor and the
// word m places on (cyclically); branch-free so the loops vectorise.
inline uint32_t twisted(uint32_t word, uint32_t next, uint32_t far) {
  const uint32_t y = (word & upper_mask) | (next & lower_mask);
  return far ^ (y >> 1) ^ ((0u - (y & 1u)) & matrix_a);
}

// Twists the whole state; when out is not null, also writes the 624 tempered
// outputs there in the same pass.
inline void twist_state(uint32_t* __restrict state, uint32_t* __restrict out) {
  for (int i = 0; i < n - m; ++i) {
    state[i] = twisted(state[i], state[i + 1], state[i + m]);
  }
  for (int i = n - m; i < n - 1; ++i) {
    state[i] = twisted(state[i], state[i + 1], state[i + m - n]);
  }
  state[n - 1] = twisted(state[n - 1], state[0], state[m - 1]);
  if (out != nullptr) {
    for (int i = 0; i < n; ++i) out[i] = temper(state[i]);
  }
}

}  // namespace

void mt19937::seed(uint32_t seed_value) {
  state_[0] = seed_value;
  for (int i = 1; i < n; ++i) {
    state_[i] = 1812433253u * (state_[i - 1] ^ (state_[i - 1] >> 30)) + static_cast<uint32_t>(i);
  }
  index_ = n;
}

void mt19937::twist() {
  twist_state(state_, nullptr);
  index_ = 0;
}

uint32_t mt19937::next() {
  if (index_ >= n) twist();
  return temper(state_[index_++]);
}

void mt19937::fill(uint32_t* out, std::size_t count) {
  // Finish the current state, then whole states straight into out, then the rest.
  while (count > 0 && index_ < n) {
    *out++ = temper(state_[index_++]);
    --count;
  }
  while (count >= static_cast<std::size_t>(n)) {
    twist_state(state_, out);
    out += n;
    count -= n;
  }
  if (count > 0) {
    twist();
    while (count > 0) {
      *out++ = temper(state_[index_++]);
      --count;
    }
  }
}

}  // namespace fillgen
