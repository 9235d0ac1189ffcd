// Spectrum kernels against plain scalar evaluations of their formulas, the
// phase tables against their definition and symmetries, and the dither
// generator against std::mt19937_64.
#include "spectrum_kernels.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "scalar_kernels.h"

namespace korva {
namespace {

using testing::scalar_multiply_accumulate;
using testing::scalar_rotate;
using testing::tables;

// 16-byte aligned complex buffer of `bins` bins.
class spectrum {
 public:
  explicit spectrum(int bins)
      : bins_(bins), data_(static_cast<float*>(std::aligned_alloc(16, round_up(bins)))) {}
  ~spectrum() { std::free(data_); }
  spectrum(const spectrum&) = delete;
  spectrum& operator=(const spectrum&) = delete;
  float* data() { return data_; }
  float& re(int k) { return data_[2 * k]; }
  float& im(int k) { return data_[2 * k + 1]; }
  void fill(float v) { std::fill(data_, data_ + 2 * bins_, v); }
  void randomise(std::mt19937& random) {
    // Mixed signs and magnitudes so rounding differences would show.
    std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-20, 20);
    for (int i = 0; i < 2 * bins_; ++i) data_[i] = std::ldexp(mantissa(random), exponent(random));
  }
  void copy_from(const spectrum& other) { std::memcpy(data_, other.data_, 8 * static_cast<size_t>(bins_)); }
  bool same_bits(const spectrum& other) const {
    return std::memcmp(data_, other.data_, 8 * static_cast<size_t>(bins_)) == 0;
  }

 private:
  static size_t round_up(int bins) { return (8 * static_cast<size_t>(bins) + 31) / 16 * 16; }
  int bins_;
  float* data_;
};

class SpectrumKernels : public ::testing::Test {
 protected:
};

const int sizes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 31, 33, 63, 64, 65,
                     127, 254, 255, 256, 1023, 1024, 4097, 32768};

TEST_F(SpectrumKernels, PhaseTablesFollowTheirDefinition) {
  for (int k = 0; k < 256; ++k) {
    // 2 pi (double) times k is exact in 64 bits and 1/256 is exact, so one
    // rounding of the double product gives the same argument.
    const double x = 6.283185307179586 * k / 256.0;
    EXPECT_EQ(tables().sin[k], static_cast<float>(std::sin(x))) << k;
    EXPECT_EQ(tables().cos[k], static_cast<float>(std::cos(x))) << k;
    EXPECT_EQ(std::memcmp(&tables().cos_sin[k][0], &tables().cos[k], 4), 0) << k;
    EXPECT_EQ(std::memcmp(&tables().cos_sin[k][1], &tables().sin[k], 4), 0) << k;
    const long double exact = 2.0L * std::numbers::pi_v<long double> * k / 256.0L;
    EXPECT_NEAR(tables().sin[k], static_cast<float>(std::sin(exact)), 6e-8) << k;
    EXPECT_NEAR(tables().cos[k], static_cast<float>(std::cos(exact)), 6e-8) << k;
  }
  EXPECT_EQ(tables().sin[0], 0.0f);
  EXPECT_EQ(tables().cos[0], 1.0f);
  EXPECT_EQ(tables().sin[64], 1.0f);
  EXPECT_EQ(tables().cos[128], -1.0f);
  EXPECT_EQ(tables().sin[192], -1.0f);
  // Rounding of the double argument leaves tiny non-zero values at the axes.
  EXPECT_NE(tables().cos[64], 0.0f);
  EXPECT_NE(tables().sin[128], 0.0f);
  EXPECT_EQ(tables().cos[64], static_cast<float>(std::cos(std::numbers::pi / 2)));
}

TEST_F(SpectrumKernels, RotationIsBitIdenticalToScalarFormula) {
  std::mt19937 random(1u);
  std::mt19937_64 phases(2u);
  for (int n : sizes) {
    for (int trial = 0; trial < 4; ++trial) {
      spectrum in(n), out(n), expected(n);
      in.randomise(random);
      out.fill(-7.0f);
      expected.fill(-7.0f);
      const uint64_t phase = phases(), step = trial == 0 ? 0 - (phases() >> 20) : phases();
      rotate_spectrum(tables(), in.data(), out.data(), phase, step, n);
      scalar_rotate(in.data(), expected.data(), phase, step, n);
      ASSERT_TRUE(out.same_bits(expected)) << "n=" << n << " trial=" << trial;
    }
  }
}

TEST_F(SpectrumKernels, MultiplyAccumulateIsBitIdenticalToScalarFormula) {
  std::mt19937 random(3u);
  for (int n : sizes) {
    spectrum a(n), b(n), acc(n), expected(n);
    a.randomise(random);
    b.randomise(random);
    acc.randomise(random);
    expected.copy_from(acc);
    for (int round = 0; round < 3; ++round) {  // accumulate repeatedly
      cross_multiply_accumulate(a.data(), b.data(), acc.data(), n);
      scalar_multiply_accumulate(a.data(), b.data(), expected.data(), n);
    }
    ASSERT_TRUE(acc.same_bits(expected)) << "n=" << n;
    cross_multiply_accumulate(a.data(), a.data(), acc.data(), n);
    scalar_multiply_accumulate(a.data(), a.data(), expected.data(), n);
    ASSERT_TRUE(acc.same_bits(expected)) << "auto n=" << n;
  }
}

TEST_F(SpectrumKernels, ZeroPhaseAndStepCopiesInput) {
  std::mt19937 random(4u);
  spectrum in(100), out(100);
  in.randomise(random);
  rotate_spectrum(tables(), in.data(), out.data(), 0, 0, 100);
  EXPECT_TRUE(out.same_bits(in));
}

TEST_F(SpectrumKernels, QuarterTurnUsesTheStoredCosine) {
  spectrum in(4), out(4);
  for (int k = 0; k < 4; ++k) in.re(k) = 1.0f, in.im(k) = 0.0f;
  rotate_spectrum(tables(), in.data(), out.data(), uint64_t{1} << 62, 0, 4);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(out.re(k), static_cast<float>(std::cos(std::numbers::pi / 2))) << k;
    EXPECT_NE(out.re(k), 0.0f);
    EXPECT_EQ(out.im(k), 1.0f) << k;
  }
  // Just below a quarter turn truncates to the entry before it.
  rotate_spectrum(tables(), in.data(), out.data(), (uint64_t{1} << 62) - 1, 0, 4);
  EXPECT_EQ(out.re(0), tables().cos[63]);
  EXPECT_EQ(out.im(0), tables().sin[63]);
}

TEST_F(SpectrumKernels, StepOfOneEntryAdvancesTwoEntriesPerBlock) {
  const int n = 2 * 300;  // 300 blocks: wraps after 128
  spectrum in(n), out(n);
  for (int k = 0; k < n; ++k) in.re(k) = 1.0f, in.im(k) = 0.0f;
  rotate_spectrum(tables(), in.data(), out.data(), 0, uint64_t{1} << 56, n);
  for (int k = 0; k < n; ++k) {
    const int entry = (k - k % 2) % 256;
    ASSERT_EQ(out.re(k), tables().cos[entry]) << k;
    ASSERT_EQ(out.im(k), tables().sin[entry]) << k;
  }
  // A negative step given as its two's-complement pattern turns backwards.
  rotate_spectrum(tables(), in.data(), out.data(), 0, 0 - (uint64_t{1} << 56), n);
  for (int k = 2; k < n; ++k) {
    const int entry = (256 - (k - k % 2) % 256) % 256;
    ASSERT_EQ(out.im(k), tables().sin[entry]) << k;
  }
}

// Buffers whose readable bins end at an inaccessible page, to prove that the
// last bin of an odd count is never read.
class guarded_bins {
 public:
  explicit guarded_bins(int bins) : page_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {
    pages_ = (8 * static_cast<size_t>(bins) + page_ - 1) / page_ + 1;
    void* p = mmap(nullptr, pages_ * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(p, MAP_FAILED);
    base_ = static_cast<char*>(p);
    EXPECT_EQ(mprotect(base_ + (pages_ - 1) * page_, page_, PROT_NONE), 0);
    data_ = reinterpret_cast<float*>(base_ + (pages_ - 1) * page_) - 2 * bins;
  }
  ~guarded_bins() { munmap(base_, pages_ * page_); }
  guarded_bins(const guarded_bins&) = delete;
  guarded_bins& operator=(const guarded_bins&) = delete;
  float* data() { return data_; }

 private:
  size_t page_;
  size_t pages_ = 0;
  char* base_ = nullptr;
  float* data_ = nullptr;
};

TEST_F(SpectrumKernels, OddCountLeavesLastBinUnreadAndUntouched) {
  std::mt19937 random(5u);
  for (int n : {1, 3, 5, 7, 9, 15, 101}) {
    guarded_bins in(n - 1), a(n - 1), b(n - 1);  // bin n - 1 lies in the guard page
    for (int i = 0; i < 2 * (n - 1); ++i) {
      in.data()[i] = static_cast<float>(random() % 1000) - 500.0f;
      a.data()[i] = static_cast<float>(random() % 1000) - 500.0f;
      b.data()[i] = static_cast<float>(random() % 1000) - 500.0f;
    }
    spectrum out(n), acc(n);
    out.fill(42.0f);
    acc.fill(43.0f);
    rotate_spectrum(tables(), in.data(), out.data(), 0x0123456789ABCDEFULL, 0xFEDCBA9876543210ULL, n);
    cross_multiply_accumulate(a.data(), b.data(), acc.data(), n);
    EXPECT_EQ(out.re(n - 1), 42.0f) << n;
    EXPECT_EQ(out.im(n - 1), 42.0f) << n;
    EXPECT_EQ(acc.re(n - 1), 43.0f) << n;
    EXPECT_EQ(acc.im(n - 1), 43.0f) << n;
    if (n > 1) {
      EXPECT_NE(out.re(0), 42.0f) << n;
      EXPECT_NE(acc.re(0), 43.0f) << n;
    }
  }
}

TEST_F(SpectrumKernels, NoBinsMeansNothingReadOrWritten) {
  guarded_bins none(0);  // any access faults
  for (int n : {0, 1, -1, -2, -1000, static_cast<int>(INT32_MIN)}) {
    rotate_spectrum(tables(), none.data(), none.data(), 1, 1, n);
    cross_multiply_accumulate(none.data(), none.data(), none.data(), n);
  }
}

TEST_F(SpectrumKernels, AutoProductKeepsImaginaryPartExactlyZero) {
  std::mt19937 random(6u);
  const int n = 1000;
  spectrum a(n), acc(n);
  acc.fill(0.0f);
  double power0 = 0;
  for (int round = 0; round < 50; ++round) {
    a.randomise(random);
    power0 += static_cast<double>(a.re(0)) * a.re(0) + static_cast<double>(a.im(0)) * a.im(0);
    cross_multiply_accumulate(a.data(), a.data(), acc.data(), n);
  }
  for (int k = 0; k < n; ++k) {
    ASSERT_EQ(acc.im(k), 0.0f) << k;
    ASSERT_FALSE(std::signbit(acc.im(k))) << k;
    ASSERT_GT(acc.re(k), 0.0f) << k;
  }
  EXPECT_NEAR(acc.re(0), power0, 1e-5 * power0);
}

TEST_F(SpectrumKernels, CrossProductOfRotatedSpectraDependsOnPhaseDifference) {
  // The same extra phase on both stations cancels in a conj(b): the worker's
  // dither relies on it.
  std::mt19937 random(7u);
  const int n = 64;
  spectrum x(n), a(n), b(n), acc1(n), acc2(n);
  x.randomise(random);
  rotate_spectrum(tables(), x.data(), a.data(), uint64_t{1} << 61, 0, n);
  rotate_spectrum(tables(), x.data(), b.data(), 0, 0, n);
  acc1.fill(0.0f);
  cross_multiply_accumulate(a.data(), b.data(), acc1.data(), n);
  const uint64_t dither = 0x9E3779B97F4A7C15ULL & ~((uint64_t{1} << 56) - 1);  // whole table entries
  rotate_spectrum(tables(), x.data(), a.data(), (uint64_t{1} << 61) + dither, dither, n);
  rotate_spectrum(tables(), x.data(), b.data(), dither, dither, n);
  acc2.fill(0.0f);
  cross_multiply_accumulate(a.data(), b.data(), acc2.data(), n);
  for (int k = 0; k < n; ++k) {
    const float scale = x.re(k) * x.re(k) + x.im(k) * x.im(k);
    EXPECT_NEAR(acc1.re(k), acc2.re(k), 1e-5f * scale) << k;
    EXPECT_NEAR(acc1.im(k), acc2.im(k), 1e-5f * scale) << k;
    EXPECT_NEAR(acc1.re(k), scale * std::cos(std::numbers::pi / 4), 1e-5f * scale) << k;
  }
}

TEST(DitherGenerator, MatchesStdMt19937_64) {
  for (uint64_t seed : {uint64_t{0}, uint64_t{0x0123456789ABCDEFULL}, ~uint64_t{0}}) {
    dither_generator dither(seed);
    std::mt19937_64 reference(seed);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(dither.next(), reference()) << seed << " " << i;
  }
}

TEST(DitherGenerator, DefaultSeedGivesPublishedTenThousandthValue) {
  dither_generator dither;
  uint64_t value = 0;
  for (int i = 0; i < 10000; ++i) value = dither.next();
  EXPECT_EQ(value, 9981545732273789042ULL);
}

TEST(DitherGenerator, ReseedingRestartsTheSequence) {
  dither_generator dither(0);
  std::vector<uint64_t> first(700);
  for (uint64_t& v : first) v = dither.next();
  dither.seed(0);
  for (size_t i = 0; i < first.size(); ++i) ASSERT_EQ(dither.next(), first[i]) << i;
  dither.seed(1);
  EXPECT_NE(dither.next(), first[0]);
}

}  // namespace
}  // namespace korva
