// The analysis kernels in plain vector arithmetic, for any processor.
#define KERNEL_NAMESPACE portable_kernels
#define VECTOR_FLOATS 4
#define VECTOR_SQRT PortableSqrt

namespace portable_kernels {
namespace {
typedef float SqrtLanes __attribute__((vector_size(4 * sizeof(float))));
inline SqrtLanes PortableSqrt(SqrtLanes x) {
  for (int i = 0; i < 4; ++i) x[i] = __builtin_sqrtf(x[i]);
  return x;
}
}  // namespace
}  // namespace portable_kernels

#include "analysis/fft_kernels.inc"
