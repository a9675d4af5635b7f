// The vector editing loops for machines with AVX-512 (F and DQ); kernels.cpp calls
// them only there. Compiled with -mavx512f -mavx512dq -ffp-contract=off.
#include <immintrin.h>
#include <sleef.h>

#include "kernels.h"

#define EDIT_LANES 8
#define EDIT_LANE_NUMBERS {0, 1, 2, 3, 4, 5, 6, 7}
#define EDIT_CHAINS 12
#define EDIT_NAME(f) f##_avx512
#define EDIT_COS(x) Sleef_cosd8_u35avx512f(x)
#define EDIT_SIN(x) Sleef_sind8_u35avx512f(x)
#define EDIT_SQRT(x) _mm512_mask_sqrt_pd(x, 0xff, x)  // the plain form trips a false warning of GCC 12
#define EDIT_WIDEN(v) _mm512_maskz_cvtps_pd(0xff, (__m256)(v))  // masked: see EDIT_SQRT
#define EDIT_NARROW(v) _mm512_maskz_cvtpd_ps(0xff, (__m512d)(v))
#define EDIT_FMA(a, b, c) _mm512_fmadd_pd(a, b, c)
#define EDIT_ANY(m) (_mm512_test_epi64_mask((__m512i)(m), (__m512i)(m)) != 0)

#include "kernels_simd.h"
