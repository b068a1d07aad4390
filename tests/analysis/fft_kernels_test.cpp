#include "analysis/fft_kernels.h"

#include <gtest/gtest.h>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "analysis/spectrum_analyser.h"
#include "state/recorder_state.h"
#include "support/reference_analysis.h"
#include "support/test_platform.h"

namespace {

const char* Name(AnalysisIsa isa) {
  switch (isa) {
    case AnalysisIsa::Portable: return "portable";
    case AnalysisIsa::Sse2: return "SSE2";
    case AnalysisIsa::Avx2: return "AVX2";
    case AnalysisIsa::Avx512: return "AVX-512";
  }
  return "?";
}

std::vector<AnalysisIsa> RunnableIsas() {
  std::vector<AnalysisIsa> isas;
  for (auto isa : {AnalysisIsa::Portable, AnalysisIsa::Sse2, AnalysisIsa::Avx2, AnalysisIsa::Avx512}) {
    if (IsaAvailable(isa)) isas.push_back(isa);
  }
  return isas;
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

struct ComplexInput {
  const char* name;
  std::vector<float> re;
  std::vector<float> im;
};

std::vector<ComplexInput> Inputs(std::size_t n) {
  std::mt19937 random(static_cast<unsigned>(n));
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::vector<ComplexInput> inputs;
  inputs.push_back({"silence", std::vector<float>(n, 0.0f), std::vector<float>(n, 0.0f)});
  ComplexInput full{"full scale", std::vector<float>(n), std::vector<float>(n, 0.0f)};
  for (std::size_t i = 0; i < n; ++i) full.re[i] = (i / 3) % 2 ? 1.0f : -1.0f;
  inputs.push_back(full);
  ComplexInput noise{"random", std::vector<float>(n), std::vector<float>(n)};
  for (std::size_t i = 0; i < n; ++i) {
    noise.re[i] = unit(random);
    noise.im[i] = unit(random) * 1000.0f;
  }
  inputs.push_back(noise);
  ComplexInput tiny{"near the denormal range", std::vector<float>(n), std::vector<float>(n)};
  for (std::size_t i = 0; i < n; ++i) {
    tiny.re[i] = unit(random) * std::numeric_limits<float>::min() * 4.0f;
    tiny.im[i] = unit(random) * std::numeric_limits<float>::denorm_min() * 1000.0f;
  }
  inputs.push_back(tiny);
  ComplexInput zeros{"signed zeros", std::vector<float>(n), std::vector<float>(n)};
  for (std::size_t i = 0; i < n; ++i) {
    zeros.re[i] = i % 3 == 0 ? -0.0f : (i % 5 == 0 ? 0.5f : 0.0f);
    zeros.im[i] = i % 2 ? -0.0f : 0.0f;
  }
  inputs.push_back(zeros);
  return inputs;
}

class FastAnalysis : public ::testing::Test {
 protected:
  void SetUp() override { ResetSharedState(); }
  void TearDown() override { SetActiveIsa(BestIsa()); }
};

TEST_F(FastAnalysis, TransformIsBitIdenticalToTheStraightforwardLoop) {
  int compared = 0;
  for (AnalysisIsa isa : RunnableIsas()) {
    SetActiveIsa(isa);
    for (std::size_t n : {2u, 4u, 8u, 16u, 32u, 64u, 128u, 256u, 1024u, 4096u, 8192u, 65536u}) {
      for (const auto& input : Inputs(n)) {
        std::vector<float> re = input.re, im = input.im;
        std::vector<float> expectedRe = input.re, expectedIm = input.im;
        FftInPlace(re, im);
        ReferenceFftInPlace(expectedRe, expectedIm);
        ASSERT_TRUE(SameBits(re, expectedRe) && SameBits(im, expectedIm))
            << Name(isa) << ", " << n << " points, " << input.name;
        ++compared;
      }
    }
  }
  EXPECT_GE(compared, 60);
}

TEST_F(FastAnalysis, FrameAnalysisIsBitIdenticalToTheStraightforwardOne) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> sample(-32768, 32767);
  struct Frame {
    const char* name;
    std::vector<std::int16_t> samples;
    std::size_t count;
  };
  std::vector<std::int16_t> noise(70000);
  for (auto& s : noise) s = static_cast<std::int16_t>(sample(random));
  std::vector<std::int16_t> square(65536);
  for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i / 37) % 2 ? std::int16_t{32767} : std::int16_t{-32768};
  std::vector<std::int16_t> tone(65536);
  for (std::size_t i = 0; i < tone.size(); ++i) {
    tone[i] = static_cast<std::int16_t>(std::lround(12000.0 * std::sin(0.1309 * static_cast<double>(i))));
  }
  // One full-scale sample where the window is 1: every bin's magnitude is
  // exactly the same, and the lowest bin must be the peak.
  std::vector<std::int16_t> impulse(65536, 0);
  impulse[32768] = 32767;
  const Frame frames[] = {
      {"silence", std::vector<std::int16_t>(65536, 0), 65536},
      {"empty", {}, 0},
      {"full-scale square", square, 65536},
      {"random", noise, 65536},
      {"longer than a frame", noise, 70000},
      {"short", noise, 1000},
      {"one sample", noise, 1},
      {"odd length", tone, 40001},
      {"tone", tone, 65536},
      {"faint", std::vector<std::int16_t>(65536, 1), 3},
      {"every bin tied", impulse, 65536},
  };
  int compared = 0;
  for (AnalysisIsa isa : RunnableIsas()) {
    SetActiveIsa(isa);
    for (const Frame& frame : frames) {
      const auto expected = ReferenceAnalyseFrame(frame.samples.data(), frame.count, 48000);
      AnalyseFrame(frame.samples.data(), frame.count, 48000);
      std::lock_guard lock(spectrumMutex);
      ASSERT_TRUE(SameBits(spectrum, expected.spectrum)) << Name(isa) << ", " << frame.name;
      const float peak = peakFrequencyHz.load();
      ASSERT_EQ(std::memcmp(&peak, &expected.peakFrequencyHz, sizeof peak), 0) << Name(isa) << ", " << frame.name;
      ++compared;
    }
  }
  EXPECT_GE(compared, 20);
}

TEST(BitReversal, MatchesTheSwapLoopForEverySize) {
  for (std::size_t n = 1; n <= 65536; n *= 2) {
    std::vector<float> values(n);
    for (std::size_t i = 0; i < n; ++i) values[i] = static_cast<float>(i);
    BitReversePermute(values.data(), n);
    const int bits = n > 1 ? __builtin_ctzll(n) : 0;
    for (std::size_t i = 0; i < n; ++i) {
      std::size_t reversed = 0;
      for (int b = 0; b < bits; ++b) reversed |= ((i >> b) & 1u) << (bits - 1 - b);
      ASSERT_EQ(values[reversed], static_cast<float>(i)) << n << " points, index " << i;
    }
  }
}

#if defined(__x86_64__)
// The widest kernels this processor and its operating system run, asked of
// the processor itself: the instruction set's CPUID bit, and the register
// state the system saves (XCR0: YMM for AVX2, ZMM and mask registers too for
// AVX-512), without which the instructions fault.
AnalysisIsa WidestIsaByCpuid() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return AnalysisIsa::Portable;
  const bool sse2 = (edx & bit_SSE2) != 0;
  std::uint64_t xcr0 = 0;
  if ((ecx & bit_OSXSAVE) != 0) {
    unsigned low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    xcr0 = (std::uint64_t{high} << 32) | low;
  }
  const bool avx = (ecx & bit_AVX) != 0 && (xcr0 & 0x6) == 0x6;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) ebx = 0;
  if (avx && (ebx & bit_AVX512F) != 0 && (xcr0 & 0xE6) == 0xE6) return AnalysisIsa::Avx512;
  if (avx && (ebx & bit_AVX2) != 0) return AnalysisIsa::Avx2;
  return sse2 ? AnalysisIsa::Sse2 : AnalysisIsa::Portable;
}

TEST(Dispatch, PicksTheWidestInstructionSetThisMachineRuns) {
  const AnalysisIsa widest = WidestIsaByCpuid();
  EXPECT_EQ(BestIsa(), widest) << Name(BestIsa()) << " picked, " << Name(widest) << " expected";
  EXPECT_EQ(ActiveIsa(), widest);
  for (auto isa : {AnalysisIsa::Portable, AnalysisIsa::Sse2, AnalysisIsa::Avx2, AnalysisIsa::Avx512}) {
    EXPECT_EQ(IsaAvailable(isa), isa <= widest) << Name(isa);
  }
}
#endif

}  // namespace
