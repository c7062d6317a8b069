// The four-lane sine and cosine of the short paths, compiled for AVX2 and called only where the
// processor has it.
#include "frame/ShortMath.h"

namespace fx::shortmath {

#if defined(__x86_64__)
__attribute__((target("avx2"))) int32_t SinCosGroupsOfFour(const double* t, double* s, double* c,
                                                           int32_t n) {
  return SinCosGroups<4>(t, s, c, n);
}
#else
int32_t SinCosGroupsOfFour(const double*, double*, double*, int32_t) {
  return 0;
}
#endif

}  // namespace fx::shortmath
