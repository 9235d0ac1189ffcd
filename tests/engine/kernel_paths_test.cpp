// Every vector width of the spectrum kernels against the scalar formulas, bit
// for bit, on buffers that end at an inaccessible page and start at every
// 16-byte offset a wide vector can meet; and the choice of the width.
#include "kernel_paths.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "scalar_kernels.h"

namespace korva {
namespace {

using testing::scalar_multiply_accumulate;
using testing::scalar_rotate;
using testing::tables;

constexpr float canary = 98765.0f;

// `bins` bins followed by `pad` readable bins and an inaccessible page, with
// eight readable bins before them; every readable float starts as canary.
// The kernels may read and write only the whole blocks of their count.
class guarded_spectrum {
 public:
  guarded_spectrum(int bins, int pad) : page_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {
    const size_t floats = 2 * static_cast<size_t>(bins + pad + 8);
    pages_ = (4 * floats + page_ - 1) / page_ + 1;
    void* p = mmap(nullptr, pages_ * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(p, MAP_FAILED);
    base_ = static_cast<char*>(p);
    EXPECT_EQ(mprotect(base_ + (pages_ - 1) * page_, page_, PROT_NONE), 0);
    end_ = reinterpret_cast<float*>(base_ + (pages_ - 1) * page_);
    begin_ = end_ - floats;
    data_ = begin_ + 16;
    std::fill(begin_, end_, canary);
  }
  ~guarded_spectrum() { munmap(base_, pages_ * page_); }
  guarded_spectrum(const guarded_spectrum&) = delete;
  guarded_spectrum& operator=(const guarded_spectrum&) = delete;

  float* data() { return data_; }
  void randomise(std::mt19937& random, int bins) {
    std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-20, 20);
    for (int i = 0; i < 2 * bins; ++i) data_[i] = std::ldexp(mantissa(random), exponent(random));
  }
  // The first `floats` values equal expected and everything else readable
  // still holds the canary.
  bool holds(const std::vector<float>& expected, int floats) const {
    if (floats > 0 && std::memcmp(data_, expected.data(), 4 * static_cast<size_t>(floats)) != 0) return false;
    for (const float* f = begin_; f < end_; ++f) {
      if ((f < data_ || f >= data_ + floats) && *f != canary) return false;
    }
    return true;
  }

 private:
  size_t page_;
  size_t pages_ = 0;
  char* base_ = nullptr;
  float* begin_ = nullptr;
  float* end_ = nullptr;
  float* data_ = nullptr;
};

// Bin counts: every count to 80 (all lead and tail lengths of every width),
// odd and even, then larger ones.
std::vector<int> bin_counts() {
  std::vector<int> counts;
  for (int n = 0; n <= 80; ++n) counts.push_back(n);
  for (int n : {127, 128, 129, 255, 510, 1023, 1024, 4097, 32768}) counts.push_back(n);
  return counts;
}

// Pads of 0 to 6 bins move the start of a buffer through the four 16-byte
// offsets of a 64-byte line.
constexpr int pads[] = {0, 2, 4, 6};

class KernelPath : public ::testing::TestWithParam<kernel_path> {
 protected:
  void SetUp() override {
    if (!kernel_path_supported(GetParam())) {
      GTEST_SKIP() << "this CPU cannot run the " << kernel_path_name(GetParam()) << " kernels";
    }
    kernels = spectrum_kernels_of(GetParam());
  }
  spectrum_kernel_set kernels{};
};

TEST_P(KernelPath, RotationIsBitIdenticalToScalarFormula) {
  std::mt19937 random(11u);
  std::mt19937_64 phases(12u);
  for (int n : bin_counts()) {
    const int used = n - n % 2;  // the odd last bin is in the pad or the guard page
    for (int pad_in : pads) {
      const int pad_out = pads[(pad_in / 2 + n) % 4];
      guarded_spectrum in(used, pad_in), out(used, pad_out);
      in.randomise(random, used);
      const uint64_t phase = phases(), step = n % 3 == 0 ? 0 - (phases() >> 20) : phases();
      std::vector<float> expected(2 * static_cast<size_t>(used) + 2, canary);
      scalar_rotate(in.data(), expected.data(), phase, step, n);
      kernels.rotate(tables(), in.data(), out.data(), phase, step, n);
      ASSERT_TRUE(out.holds(expected, 2 * used)) << "n=" << n << " pads " << pad_in << "," << pad_out;
    }
  }
}

TEST_P(KernelPath, MultiplyAccumulateIsBitIdenticalToScalarFormula) {
  std::mt19937 random(13u);
  for (int n : bin_counts()) {
    const int used = n - n % 2;
    for (int pad_acc : pads) {
      const int pad_a = pads[(pad_acc / 2 + 1) % 4], pad_b = pads[(pad_acc / 2 + n) % 4];
      guarded_spectrum a(used, pad_a), b(used, pad_b), acc(used, pad_acc);
      a.randomise(random, used);
      b.randomise(random, used);
      acc.randomise(random, used);
      std::vector<float> expected(acc.data(), acc.data() + 2 * used);
      for (int round = 0; round < 3; ++round) {  // accumulate repeatedly
        kernels.multiply_accumulate(a.data(), b.data(), acc.data(), n);
        scalar_multiply_accumulate(a.data(), b.data(), expected.data(), n);
      }
      kernels.multiply_accumulate(b.data(), b.data(), acc.data(), n);  // auto-power
      scalar_multiply_accumulate(b.data(), b.data(), expected.data(), n);
      ASSERT_TRUE(acc.holds(expected, 2 * used)) << "n=" << n << " pads " << pad_a << "," << pad_b << ","
                                                  << pad_acc;
    }
  }
}

TEST_P(KernelPath, NonPositiveCountsTouchNothing) {
  guarded_spectrum none(0, 0);
  float* at_guard = none.data() + 16;  // the first float of the guard page
  for (int n : {1, 0, -1, -8, -1000, static_cast<int>(INT32_MIN)}) {
    kernels.rotate(tables(), at_guard, at_guard, 1, 1, n);
    kernels.multiply_accumulate(at_guard, at_guard, at_guard, n);
  }
  EXPECT_TRUE(none.holds({}, 0));
}

TEST_P(KernelPath, ItsOwnSetNamesIt) {
  EXPECT_EQ(kernels.path, GetParam());
  EXPECT_NE(kernels.rotate, nullptr);
  EXPECT_NE(kernels.multiply_accumulate, nullptr);
}

INSTANTIATE_TEST_SUITE_P(AllWidths, KernelPath, ::testing::ValuesIn(all_kernel_paths),
                         [](const ::testing::TestParamInfo<kernel_path>& info) {
                           return std::string(kernel_path_name(info.param));
                         });

TEST(KernelChoice, SsePathRunsEverywhereAndTheFastestIsSupported) {
  EXPECT_TRUE(kernel_path_supported(kernel_path::sse));
  EXPECT_TRUE(kernel_path_supported(fastest_kernel_path()));
  // A CPU with AVX2 never runs the 128-bit kernels by default.
  if (kernel_path_supported(kernel_path::avx2)) {
    EXPECT_GE(fastest_kernel_path(), kernel_path::avx2);
  }
}

TEST(KernelChoice, RequestsNameAPathOrFallBack) {
  EXPECT_EQ(kernel_path_for_request("sse"), kernel_path::sse);
  for (const char* unknown : {static_cast<const char*>(nullptr), "", "AVX2", "avx", "fastest", "sse "}) {
    EXPECT_EQ(kernel_path_for_request(unknown), fastest_kernel_path()) << (unknown ? unknown : "null");
  }
  for (kernel_path path : all_kernel_paths) {
    const kernel_path granted = kernel_path_for_request(kernel_path_name(path));
    EXPECT_TRUE(kernel_path_supported(granted));
    EXPECT_LE(granted, path);
    if (kernel_path_supported(path)) {
      EXPECT_EQ(granted, path);
    }
  }
}

TEST(KernelChoice, ActiveKernelsAreChosenOnceAndSupported) {
  const spectrum_kernel_set& active = active_spectrum_kernels();
  EXPECT_EQ(&active, &active_spectrum_kernels());
  EXPECT_TRUE(kernel_path_supported(active.path));
  EXPECT_EQ(active.path, kernel_path_for_request(std::getenv("KORVA_KERNELS")));
  EXPECT_EQ(active.rotate, spectrum_kernels_of(active.path).rotate);
}

}  // namespace
}  // namespace korva
