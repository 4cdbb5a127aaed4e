// The program's natural logarithm, from additions, multiplications and divisions alone. The C
// library's logl is the x87 instruction fyl2x on x86-64, whose last bits differ between Intel
// and AMD processors, and about one of its results in eight is not the nearest long double.
// The trial's Lyapunov sum and the polar method take a logarithm every step and every draw, so
// with logl the same parameters and start gave different bits on different machines. Every
// operation below is an IEEE operation on the 64-bit significand in the program's one rounding
// mode (or exact), so the result is the same on every x86-64 processor and in every build.
//
// v = 2^k m, and m goes with the nearest centre c of a grid of spacing 1/64 on [1, 1.414) and
// 1/128 on [0.707, 1) (numerics/ln.hpp), so that |s| <= 2^-8 in
//   ln v = k ln 2 + ln c + 2 atanh s,  s = (m - c)/(m + c),
//   2 atanh s = 2s + 2s^3 (1/3 + s^2/5 + s^4/7 + s^6/9 + ...),
// where the first term left out is below 2^-83 of 2s. s is carried as s_hi + s_lo to some
// 2^-125 of itself: m - c is exact, m + c an exact two-sum, and the quotient's residual comes
// from Dekker's exact product. The series after 2s is below 2^-17 of the result, so plain
// extended arithmetic there costs under 2^-15 ulp. k ln2_hi + ln c_hi is exact and its sum
// with 2 s_hi an exact two-sum; the small parts are added smallest first. So the result has one
// final rounding and some 2^-14 ulp at most of accumulated error: it is within 1 ulp of ln v,
// and all but about one in 10^4 are the nearest long double (tests/ln_test.cpp measures both
// against quad precision).
//
// The build never contracts or reassociates floating-point operations (no fast-math, and the
// x87 has no fused multiply-add), which the exact two-sums and products rely on.
#include "numerics/ln.hpp"

#include <cstdint>
#include <cstring>
#include <limits>

#include "numerics/numerics.hpp"

namespace lyap {

namespace ln_detail {

const std::array<Centre, n_centres> centres = {{
    {0x1p0f, 0.0, 0.0},
    {0x1.04p0f, 0x1.fc0a8b0fc04p-7, -0x1.c3061258b2c85p-55},
    {0x1.08p0f, 0x1.f829b0e7834p-6, -0x1.ff660e07d8708p-51},
    {0x1.0cp0f, 0x1.77458f632ddp-5, -0x1.dce586af08dadp-56},
    {0x1.1p0f, 0x1.f0a30c01163p-5, -0x1.667a0cda3a445p-51},
    {0x1.14p0f, 0x1.341d7961bd2p-4, -0x1.7b6b33e44f7d9p-51},
    {0x1.18p0f, 0x1.6f0d28ae56b8p-4, -0x1.a320db3230973p-51},
    {0x1.1cp0f, 0x1.a926d3a4ad58p-4, -0x1.c9af42dd563c5p-52},
    {0x1.2p0f, 0x1.e27076e2af3p-4, -0x1.a161578001e01p-52},
    {0x1.24p0f, 0x1.0d77e7cd08e4p-3, 0x1.96697717a40c3p-51},
    {0x1.28p0f, 0x1.29552f81ff54p-3, -0x1.cb3fa238efe09p-51},
    {0x1.2cp0f, 0x1.44d2b6ccb7dp-3, 0x1.e67d3d950f87ep-51},
    {0x1.3p0f, 0x1.5ff3070a793cp-3, 0x1.3c873e20a0721p-51},
    {0x1.34p0f, 0x1.7ab890210d9p-3, 0x1.237c6d65ad40cp-52},
    {0x1.38p0f, 0x1.9525a9cf456cp-3, -0x1.7137d9f158e8fp-52},
    {0x1.3cp0f, 0x1.af3c94e80cp-3, -0x1.a4e633fcd9066p-52},
    {0x1.4p0f, 0x1.c8ff7c79a9a4p-3, -0x1.e53da27e10dp-51},
    {0x1.44p0f, 0x1.e27076e2af3p-3, -0x1.a161578001e01p-51},
    {0x1.48p0f, 0x1.fb9186d5e3e4p-3, -0x1.572aab993c86bp-51},
    {0x1.4cp0f, 0x1.0a324e27390ep-2, 0x1.afb9fbd00c38p-53},
    {0x1.5p0f, 0x1.1675cababa6p-2, 0x1.c07398faae20ep-51},
    {0x1.54p0f, 0x1.22941fbcf796p-2, 0x1.6890a14f69d75p-52},
    {0x1.58p0f, 0x1.2e8e2bae11d4p-2, -0x1.ec7a66dcaf5fp-51},
    {0x1.5cp0f, 0x1.3a64c556945ep-2, 0x1.38e5e6b9ae81ap-51},
    {0x1.6p0f, 0x1.4618bc21c5ecp-2, 0x1.3e85bd9bd99e4p-53},
    {0x1.64p0f, 0x1.51aad872df82p-2, 0x1.a13927ac19f56p-51},
    {0x1.68p0f, 0x1.5d1bdbf5809cp-2, 0x1.4a11b1c1ee3ffp-51},
    {0x1.6cp-1f, -0x1.5d5bddf595f2p-2, -0x1.f4d5f75b9a23bp-51},
    {0x1.7p-1f, -0x1.522ae0738a3ep-2, 0x1.063dfa6ce29a6p-51},
    {0x1.74p-1f, -0x1.4718dc271c42p-2, 0x1.3e704b3eb3a91p-52},
    {0x1.78p-1f, -0x1.3c2527733318p-2, -0x1.daa5b035eae27p-53},
    {0x1.7cp-1f, -0x1.314f1e1d35cep-2, -0x1.d852cdec34784p-53},
    {0x1.8p-1f, -0x1.269621134dbap-2, 0x1.b0f882913127fp-51},
    {0x1.84p-1f, -0x1.1bf99635a6bap-2, 0x1.644abae109249p-51},
    {0x1.88p-1f, -0x1.1178e8227e48p-2, 0x1.08731d2f80e35p-52},
    {0x1.8cp-1f, -0x1.07138604d586p-2, -0x1.39b62dda9d227p-53},
    {0x1.9p-1f, -0x1.f991c6cb3b38p-3, 0x1.a099af99067f6p-53},
    {0x1.94p-1f, -0x1.e530effe71p-3, -0x1.212276041f43p-51},
    {0x1.98p-1f, -0x1.d1037f2655e8p-3, 0x1.29f9d6dbdb8e6p-53},
    {0x1.9cp-1f, -0x1.bd087383bd8cp-3, 0x1.2f1165504ad75p-51},
    {0x1.ap-1f, -0x1.a93ed3c8adap-3, 0x1.c90d415885a38p-51},
    {0x1.a4p-1f, -0x1.95a5adcf7018p-3, 0x1.baf4ebe012171p-56},
    {0x1.a8p-1f, -0x1.823c16551a3cp-3, -0x1.bb734c63d062p-55},
    {0x1.acp-1f, -0x1.6f0128b756acp-3, 0x1.18de59c21e167p-53},
    {0x1.bp-1f, -0x1.5bf406b543dcp-3, 0x1.c08fada2606fcp-52},
    {0x1.b4p-1f, -0x1.4913d8333b58p-3, 0x1.f21aac09261e2p-51},
    {0x1.b8p-1f, -0x1.365fcb0159p-3, -0x1.62fa8234b7289p-51},
    {0x1.bcp-1f, -0x1.23d712a49c2p-3, -0x1.a471fa7beb8a6p-55},
    {0x1.cp-1f, -0x1.1178e8227e48p-3, 0x1.08731d2f80e35p-53},
    {0x1.c4p-1f, -0x1.fe89139dbd58p-4, 0x1.a6b27d0857e4ep-52},
    {0x1.c8p-1f, -0x1.da7276384468p-4, -0x1.12803f4e2e66p-51},
    {0x1.ccp-1f, -0x1.b6ac88dad5bp-4, -0x1.bdff50225c6b5p-52},
    {0x1.dp-1f, -0x1.9335e5d59498p-4, -0x1.15c3abd47d99ap-53},
    {0x1.d4p-1f, -0x1.700d30aeac1p-4, 0x1.f0b92b310966fp-52},
    {0x1.d8p-1f, -0x1.4d3115d207e8p-4, -0x1.62ed3e858f086p-51},
    {0x1.dcp-1f, -0x1.2aa04a447178p-4, -0x1.245d458e5a0b8p-51},
    {0x1.ep-1f, -0x1.08598b59e3ap-4, -0x1.a228ff66fd40dp-54},
    {0x1.e4p-1f, -0x1.ccb73cdddb3p-5, 0x1.a3c91f60a01ep-52},
    {0x1.e8p-1f, -0x1.894aa149fb3p-5, -0x1.0cd45f4bb3051p-51},
    {0x1.ecp-1f, -0x1.466aed42de4p-5, 0x1.67375bdfd284ep-53},
    {0x1.fp-1f, -0x1.0415d89e744p-5, -0x1.11c05cf1d7536p-51},
    {0x1.f4p-1f, -0x1.8492528c8cap-6, -0x1.7d173697cf303p-51},
    {0x1.f8p-1f, -0x1.02056589358p-6, -0x1.1d27c8e8416e7p-52},
    {0x1.fcp-1f, -0x1.010157588ep-7, 0x1.8ed7333a57d06p-51},
    {0x1p0f, 0.0, 0.0},
}};

}  // namespace ln_detail

namespace {

using namespace ln_detail;

// Veltkamp's splitting constant for the 64-bit significand: 2^32 + 1.
constexpr long double splitter = 0x1p32L + 1;

// a = hi + lo, each with at most 32 significant bits (Veltkamp).
struct Split {
  long double hi, lo;
};
inline Split split(long double a) {
  const long double c = splitter * a;
  const long double hi = c - (c - a);
  return {hi, a - hi};
}

// The rounding error of ab = a x b, exactly (Dekker): a x b = ab + error.
inline long double product_error(long double a, long double b, long double ab) {
  const Split x = split(a), y = split(b);
  return ((x.hi * y.hi - ab) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo;
}

// ln v for a positive normal v.
long double ln_normal(long double v) {
  // v = 2^k m: the significand's top bits give the centre, and the exponent field is replaced
  // by that of 1 (of 1/2 from first_halved on).
  unsigned char bytes[sizeof(long double)];
  std::memcpy(bytes, &v, sizeof bytes);
  std::uint64_t significand;
  std::memcpy(&significand, bytes, sizeof significand);
  std::uint16_t exponent_field;
  std::memcpy(&exponent_field, bytes + 8, sizeof exponent_field);
  // round(64 (m - 1)), 0 to 64: the 63 fraction bits plus half of 2^57, shifted down by 57.
  const unsigned j =
      static_cast<unsigned>(((significand << 1 >> 1) + (std::uint64_t{1} << 56)) >> 57);
  const int halved = j >= first_halved;
  const int k = exponent_field - 16383 + halved;
  const std::uint16_t m_exponent = static_cast<std::uint16_t>(16383 - halved);
  std::memcpy(bytes + 8, &m_exponent, sizeof m_exponent);
  long double m;
  std::memcpy(&m, bytes, sizeof m);
  const Centre& centre = centres[j];

  // s = (m - c)/(m + c) = s_hi + s_lo. m - c is exact (Sterbenz: m/2 <= c <= 2m), and
  // m + c = sum + sum_err exactly (Fast2Sum: c never has the smaller exponent).
  const long double c = centre.c;
  const long double num = m - c;
  const long double sum = c + m;
  const long double sum_err = m - (sum - c);
  const long double inv = 1 / sum;
  const long double s_hi = num * inv;
  // num - s_hi sum, the quotient's residual: num - ab is exact (Sterbenz), and the product's
  // error exact, so the residual has one rounding of its own.
  const long double ab = s_hi * sum;
  const long double residual = (num - ab) - product_error(s_hi, sum, ab);
  // num/(sum + sum_err) - s_hi to first order in the residual and in sum_err, both some 2^-63
  // of num: inv for the exact reciprocal changes it by a part in 2^63.
  const long double s_lo = (residual - s_hi * sum_err) * inv;

  // The series after 2s, from s_hi alone: s_lo would change it by a part in 2^63.
  const long double z = s_hi * s_hi;
  const long double series = third + z * (fifth + z * (seventh + z * ninth));
  const long double two_s_hi = 2 * s_hi;
  const long double tail = two_s_hi * z * series;

  // k ln2_hi + ln c_hi is exact (multiples of 2^-49 below 2^14), and its sum with 2 s_hi is
  // lead + lead_err exactly (Fast2Sum: the fixed part is 0 or the larger. |ln c| >= 0.0155 for
  // the centres above 1, where |2 s_hi| <= 2^-7, and >= 0.0078 for those below, where
  // |2 s_hi| < 0.0056; and |k ln 2| exceeds |ln c| by 0.34 at least.)
  const long double kk = k;
  const long double fixed = kk * ln2_hi + centre.ln_hi;
  const long double lead = fixed + two_s_hi;
  const long double lead_err = two_s_hi - (lead - fixed);
  return lead + ((((2 * s_lo + centre.ln_lo) + kk * ln2_lo) + lead_err) + tail);
}

}  // namespace

long double ext_ln(long double v) {
  if (!(v >= std::numeric_limits<long double>::min() &&
        v <= std::numeric_limits<long double>::max())) {
    return 0;
  }
  return ln_normal(v);
}

}  // namespace lyap
