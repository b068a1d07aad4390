#pragma once

#include <cstddef>
#include <cstdint>

// The transform and the per-bin arithmetic of the analysis, reorganised for
// speed with results identical to the bit: every butterfly performs exactly
// the operations of the straightforward loop, in the same precision, with
// multiplies and adds kept separate; only the order of independent
// butterflies changes. Each instruction set has its own copy of the kernels,
// compiled in a translation unit of its own and picked at run time.

enum class AnalysisIsa { Portable, Sse2, Avx2, Avx512 };

// Twiddle factors of every stage: for a stage of length len (index log2 len)
// the len/2 values the recurrence produces, from 1 + 0i on.
struct FftTwiddles {
  static constexpr int MAX_LOG2 = 16;
  const float* re[MAX_LOG2 + 1] = {};
  const float* im[MAX_LOG2 + 1] = {};
};

// Tables for every stage up to 65536 points, made once per process.
const FftTwiddles& TwiddlesUpTo65536();

// Reorders the array into bit-reversed index order, in place; n is a power of two.
void BitReversePermute(float* values, std::size_t n);

struct AnalysisKernels {
  // The transform of re + i*im in natural order, in place. With
  // imaginaryZero the imaginary parts are taken as +0 without reading im.
  void (*transform)(float* re, float* im, std::size_t n, const FftTwiddles& twiddles, bool imaginaryZero);
  // out[i] = (samples[i] / 32768) * window[i] for i < count.
  void (*window)(const std::int16_t* samples, const float* window, float* out, std::size_t count);
  // out[k] = sqrt(re[k]*re[k] + im[k]*im[k]); returns the largest (the
  // transform of a frame holds no NaN).
  float (*magnitudes)(const float* re, const float* im, float* out, std::size_t count);
  // values[i] /= divisor.
  void (*divide)(float* values, std::size_t count, float divisor);
};

const AnalysisKernels& KernelsFor(AnalysisIsa isa);
bool IsaAvailable(AnalysisIsa isa);
// The widest instruction set this processor runs.
AnalysisIsa BestIsa();

// What FftInPlace and AnalyseFrame use; BestIsa() unless a benchmark or test
// chose another. Set it only while no analysis runs.
AnalysisIsa ActiveIsa();
void SetActiveIsa(AnalysisIsa isa);

// The kernels of each instruction set (defined in fft_<isa>.cpp).
namespace portable_kernels { extern const AnalysisKernels kernels; }
#if defined(__x86_64__) || defined(_M_X64)
namespace sse2_kernels { extern const AnalysisKernels kernels; }
namespace avx2_kernels { extern const AnalysisKernels kernels; }
namespace avx512_kernels { extern const AnalysisKernels kernels; }
#endif
