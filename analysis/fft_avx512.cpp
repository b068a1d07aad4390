// The analysis kernels with AVX-512F; its multiplies and adds stay separate.
#include <immintrin.h>

#define KERNEL_NAMESPACE avx512_kernels
#define VECTOR_FLOATS 16
#define VECTOR_SQRT(x) ((vfloat)_mm512_sqrt_ps((__m512)(x)))

#include "analysis/fft_kernels.inc"
