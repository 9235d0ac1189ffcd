#include "mt19937.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

std::vector<uint32_t> reference(uint32_t seed, std::size_t count) {
  std::mt19937 generator(seed);
  std::vector<uint32_t> words(count);
  for (uint32_t& w : words) w = static_cast<uint32_t>(generator());
  return words;
}

TEST(Mt19937, PublishedTenThousandthOutputOfDefaultSeed) {
  // The C++ standard fixes the 10000th output of the default-seeded engine.
  fillgen::mt19937 generator;
  std::vector<uint32_t> words(10000);
  generator.fill(words.data(), words.size());
  EXPECT_EQ(words.back(), 4123659995u);
}

TEST(Mt19937, BulkFillMatchesStdMt19937ForSeveralSeeds) {
  for (const uint32_t seed : {0u, 1u, 5489u, 1207828800u, 0xFFFFFFFFu, 0x80000000u}) {
    const std::size_t count = 5 * 624 + 311;
    const std::vector<uint32_t> expected = reference(seed, count);
    fillgen::mt19937 generator(seed);
    std::vector<uint32_t> words(count);
    generator.fill(words.data(), count);
    EXPECT_EQ(words, expected) << "seed " << seed;
  }
}

TEST(Mt19937, PiecewiseFillsAndSingleOutputsContinueTheSameSequence) {
  const uint32_t seed = 20080410u;
  const std::vector<uint32_t> expected = reference(seed, 4000);
  fillgen::mt19937 generator(seed);
  std::vector<uint32_t> words(4000);
  std::size_t at = 0;
  // Pieces that start and end inside, at and across twist boundaries.
  for (const std::size_t piece : {0u, 1u, 622u, 1u, 624u, 625u, 623u, 2u, 1000u}) {
    generator.fill(words.data() + at, piece);
    at += piece;
  }
  while (at < words.size()) words[at++] = generator.next();
  EXPECT_EQ(words, expected);
}

TEST(Mt19937, ReseedingRestartsTheSequence) {
  fillgen::mt19937 generator(7);
  std::vector<uint32_t> words(700);
  generator.fill(words.data(), words.size());
  generator.seed(3);
  generator.fill(words.data(), 3);
  const std::vector<uint32_t> expected = reference(3, 3);
  EXPECT_EQ(std::vector<uint32_t>(words.begin(), words.begin() + 3), expected);
}

}  // namespace
