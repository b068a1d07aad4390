#include <array>
#include <atomic>
#include <cmath>
#include <utility>
#include <vector>

#include "analysis/fft_kernels.h"

const FftTwiddles& TwiddlesUpTo65536() {
  // Each stage's sequence comes from the same recurrence as in the
  // butterfly loop, restarted at 1 + 0i, so the tables hold exactly the
  // values every block of that stage would compute.
  struct Tables {
    std::vector<float> storage;
    FftTwiddles twiddles;

    Tables() : storage(2 * (std::size_t{1} << FftTwiddles::MAX_LOG2)) {
      float* next = storage.data();
      for (int log2 = 1; log2 <= FftTwiddles::MAX_LOG2; ++log2) {
        const std::size_t len = std::size_t{1} << log2;
        const float theta = -6.2831855f / static_cast<float>(len);
        const float cs = std::cos(theta);
        const float sn = std::sin(theta);
        float* re = next;
        float* im = next + len / 2;
        next += len;
        float wr = 1.0f;
        float wi = 0.0f;
        for (std::size_t k = 0; k < len / 2; ++k) {
          re[k] = wr;
          im[k] = wi;
          const float nextWr = wr * cs - wi * sn;
          wi = wr * sn + wi * cs;
          wr = nextWr;
        }
        twiddles.re[log2] = re;
        twiddles.im[log2] = im;
      }
    }
  };
  static const Tables tables;
  return tables.twiddles;
}

namespace {

std::size_t ReverseBits(std::size_t value, int bits) {
  std::size_t reversed = 0;
  for (int b = 0; b < bits; ++b) reversed |= ((value >> b) & 1u) << (bits - 1 - b);
  return reversed;
}

constexpr std::array<std::uint8_t, 16> REVERSED4 = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};

void SwapPermute(float* values, std::size_t n) {
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; (j & bit) != 0; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(values[i], values[j]);
  }
}

// Reads the 16 x 16 tile of points (h, middle, l) for all top nibbles h and
// bottom nibbles l: 16 runs of 16 consecutive values.
void ReadTile(const float* values, std::size_t middle, int middleBits, float (&tile)[16][16]) {
  const std::size_t rowStride = std::size_t{1} << (middleBits + 4);
  for (std::size_t h = 0; h < 16; ++h) {
    const float* row = values + h * rowStride + (middle << 4);
    for (std::size_t l = 0; l < 16; ++l) tile[h][l] = row[l];
  }
}

// Writes the tile read at `middle` to its bit-reversed places: point
// (h, middle, l) goes to (rev l, reversedMiddle, rev h).
void WriteTileReversed(float* values, std::size_t reversedMiddle, int middleBits, const float (&tile)[16][16]) {
  const std::size_t rowStride = std::size_t{1} << (middleBits + 4);
  for (std::size_t r = 0; r < 16; ++r) {
    float* row = values + r * rowStride + (reversedMiddle << 4);
    const std::size_t l = REVERSED4[r];
    for (std::size_t c = 0; c < 16; ++c) row[c] = tile[REVERSED4[c]][l];
  }
}

}  // namespace

void BitReversePermute(float* values, std::size_t n) {
  const int bits = __builtin_ctzll(n);
  if (bits < 8) {
    SwapPermute(values, n);
    return;
  }
  // Tiled: the top and bottom nibbles trade places through a small tile,
  // so every cache line is read and written whole.
  const int middleBits = bits - 8;
  float tile[16][16];
  float partner[16][16];
  for (std::size_t middle = 0; middle < (std::size_t{1} << middleBits); ++middle) {
    const std::size_t reversed = ReverseBits(middle, middleBits);
    if (reversed < middle) continue;
    ReadTile(values, middle, middleBits, tile);
    if (reversed == middle) {
      WriteTileReversed(values, middle, middleBits, tile);
    } else {
      ReadTile(values, reversed, middleBits, partner);
      WriteTileReversed(values, reversed, middleBits, tile);
      WriteTileReversed(values, middle, middleBits, partner);
    }
  }
}

const AnalysisKernels& KernelsFor(AnalysisIsa isa) {
#if defined(__x86_64__) || defined(_M_X64)
  switch (isa) {
    case AnalysisIsa::Sse2: return sse2_kernels::kernels;
    case AnalysisIsa::Avx2: return avx2_kernels::kernels;
    case AnalysisIsa::Avx512: return avx512_kernels::kernels;
    case AnalysisIsa::Portable: break;
  }
#else
  (void)isa;
#endif
  return portable_kernels::kernels;
}

bool IsaAvailable(AnalysisIsa isa) {
#if defined(__x86_64__) || defined(_M_X64)
  __builtin_cpu_init();
  switch (isa) {
    case AnalysisIsa::Portable:
    case AnalysisIsa::Sse2: return true;
    case AnalysisIsa::Avx2: return __builtin_cpu_supports("avx2");
    case AnalysisIsa::Avx512: return __builtin_cpu_supports("avx512f");
  }
  return false;
#else
  return isa == AnalysisIsa::Portable;
#endif
}

AnalysisIsa BestIsa() {
  for (AnalysisIsa isa : {AnalysisIsa::Avx512, AnalysisIsa::Avx2, AnalysisIsa::Sse2}) {
    if (IsaAvailable(isa)) return isa;
  }
  return AnalysisIsa::Portable;
}

namespace {
// Written by SetActiveIsa (tests, benchmarks) while no analysis runs.
std::atomic<AnalysisIsa> activeIsa{BestIsa()};
}  // namespace

AnalysisIsa ActiveIsa() { return activeIsa.load(); }
void SetActiveIsa(AnalysisIsa isa) { activeIsa.store(isa); }
