// The analysis kernels with SSE2 (every x86-64 processor).
#include <immintrin.h>

#define KERNEL_NAMESPACE sse2_kernels
#define VECTOR_FLOATS 4
#define VECTOR_SQRT(x) ((vfloat)_mm_sqrt_ps((__m128)(x)))

#include "analysis/fft_kernels.inc"
