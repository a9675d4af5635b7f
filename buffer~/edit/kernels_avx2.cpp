// The vector editing loops for machines with AVX2 and FMA; kernels.cpp calls them
// only there. Compiled with -mavx2 -mfma -ffp-contract=off.
#include <immintrin.h>
#include <sleef.h>

#include "kernels.h"

#define EDIT_LANES 4
#define EDIT_LANE_NUMBERS {0, 1, 2, 3}
#define EDIT_CHAINS 12
#define EDIT_NAME(f) f##_avx2
#define EDIT_COS(x) Sleef_cosd4_u35avx2(x)
#define EDIT_SIN(x) Sleef_sind4_u35avx2(x)
#define EDIT_SQRT(x) _mm256_sqrt_pd(x)
#define EDIT_WIDEN(v) _mm256_cvtps_pd((__m128)(v))
#define EDIT_NARROW(v) _mm256_cvtpd_ps((__m256d)(v))
#define EDIT_FMA(a, b, c) _mm256_fmadd_pd(a, b, c)
#define EDIT_ANY(m) (_mm256_movemask_pd((__m256d)(m)) != 0)

#include "kernels_simd.h"
