// The 32-bit Mersenne Twister MT19937 of Matsumoto and Nishimura in its
// published reference form (624-word state, middle offset 397, tempering
// shifts 11, 7, 15 and 18), producing its outputs in bulk: the whole state is
// twisted in one tight loop and tempered straight into the caller's buffer,
// which is several times faster than drawing one word per call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fillgen {

class mt19937 {
 public:
  static constexpr int state_words = 624;

  explicit mt19937(uint32_t seed_value = 5489u) { seed(seed_value); }

  // Reference initialisation by one 32-bit value; the next output starts a
  // fresh twist of all 624 words.
  void seed(uint32_t seed_value);

  // Writes the next count outputs, in order, to out.
  void fill(uint32_t* out, std::size_t count);

  // The next single output (same sequence as fill).
  uint32_t next();

 private:
  void twist();

  uint32_t state_[state_words];
  int index_;  // next state word to temper; state_words when a twist is due
};

}  // namespace fillgen
