// The analysis kernels with AVX2; built with -mavx2 and no FMA.
#include <immintrin.h>

#define KERNEL_NAMESPACE avx2_kernels
#define VECTOR_FLOATS 8
#define VECTOR_SQRT(x) ((vfloat)_mm256_sqrt_ps((__m256)(x)))

#include "analysis/fft_kernels.inc"
