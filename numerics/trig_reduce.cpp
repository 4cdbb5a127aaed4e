// The exact argument reduction for angles beyond the fast pair's range: Payne and Hanek's
// method, "Radian reduction for trigonometric functions" (1983). a 2/pi is formed as a
// fixed-point number from only the bits of 2/pi that can reach its last two integer bits and
// its fraction, so the cost is the same for every size of a up to the largest long double.
#include <cstdint>

#include "numerics/trig.hpp"

namespace lyap::trig_detail {

namespace {

__extension__ typedef unsigned __int128 u128;

// 2/pi in binary, 64 bits a word, most significant first: word i holds the bits of weight
// 2^-(64 i + 1) down to 2^-(64 i + 64). Printed by scripts/two-over-pi 260, which works in
// integers only. The reduction of the largest long double reads up to word 258.
constexpr std::uint64_t two_over_pi_bits[] = {
    0xa2f9836e4e441529, 0xfc2757d1f534ddc0, 0xdb6295993c439041, 0xfe5163abdebbc561,
    0xb7246e3a424dd2e0, 0x06492eea09d1921c, 0xfe1deb1cb129a73e, 0xe88235f52ebb4484,
    0xe99c7026b45f7e41, 0x3991d639835339f4, 0x9c845f8bbdf9283b, 0x1ff897ffde05980f,
    0xef2f118b5a0a6d1f, 0x6d367ecf27cb09b7, 0x4f463f669e5fea2d, 0x7527bac7ebe5f17b,
    0x3d0739f78a5292ea, 0x6bfb5fb11f8d5d08, 0x56033046fc7b6bab, 0xf0cfbc209af4361d,
    0xa9e391615ee61b08, 0x6599855f14a06840, 0x8dffd8804d732731, 0x06061556ca73a8c9,
    0x60e27bc08c6b47c4, 0x19c367cddce8092a, 0x8359c4768b961ca6, 0xddaf44d15719053e,
    0xa5ff07053f7e33e8, 0x32c2de4f98327dbb, 0xc33d26ef6b1e5ef8, 0x9f3a1f35caf27f1d,
    0x87f121907c7c246a, 0xfa6ed5772d30433b, 0x15c614b59d19c3c2, 0xc4ad414d2c5d000c,
    0x467d862d71e39ac6, 0x9b0062337cd2b497, 0xa7b4d55537f63ed7, 0x1810a3fc764d2a9d,
    0x64abd770f87c6357, 0xb07ae715175649c0, 0xd9d63b3884a7cb23, 0x24778ad623545ab9,
    0x1f001b0af1dfce19, 0xff319f6a1e666157, 0x9947fbacd87f7eb7, 0x652289e83260bfe6,
    0xcdc4ef09366cd43f, 0x5dd7de16de3b5892, 0x9bde2822d2e88628, 0x4d58e232cac616e3,
    0x08cb7de050c017a7, 0x1df35be01834132e, 0x6212830148835b8e, 0xf57fb0adf2e91e43,
    0x4a48d36710d8ddaa, 0x425faece616aa428, 0x0ab499d3f2a6067f, 0x775c83c2a3883c61,
    0x78738a5a8cafbdd7, 0x6f63a62dcbbff4ef, 0x818d67c12645ca55, 0x36d9cad2a8288d61,
    0xc277c9121426049b, 0x4612c459c444c5c8, 0x91b24df31700ad43, 0xd4e5492910d5fdfc,
    0xbe00cc941eeece70, 0xf53e1380f1ecc3e7, 0xb328f8c79405933e, 0x71c1b3092ef3450b,
    0x9c12887b20ab9fb5, 0x2ec292472f327b6d, 0x550c90a7721fe76b, 0x96cb314a1679e279,
    0x4189dff49794e884, 0xe6e29731996bed88, 0x365f5f0efdbbb49a, 0x486ca46742727132,
    0x5d8db8159f09e5bc, 0x25318d3974f71c05, 0x30010c0d68084b58, 0xee2c90aa4702e774,
    0x24d6bda67df77248, 0x6eef169fa6948ef6, 0x91b45153d1f20acf, 0x3398207e4bf56863,
    0xb25f3edd035d407f, 0x8985295255c06437, 0x10d86d324832754c, 0x5bd4714e6e5445c1,
    0x090b69f52ad56614, 0x9d072750045ddb3b, 0xb4c576ea17f9877d, 0x6b49ba271d296996,
    0xacccc65414ad6ae2, 0x9089d98850722cbe, 0xa4049407777030f3, 0x27fc00a871ea49c2,
    0x663de06483dd9797, 0x3fa3fd94438c860d, 0xde41319d39928c70, 0xdde7b7173bdf082b,
    0x3715a0805c93805a, 0x921110d8e80faf80, 0x6c4bffdb0f903876, 0x185915a562bbcb61,
    0xb989c7bd401004f2, 0xd2277549f6b6ebbb, 0x22dbaa140a2f2689, 0x768364333b091a94,
    0x0eaa3a51c2a31dae, 0xedaf12265c4dc26d, 0x9c7a2d9756c0833f, 0x03f6f0098c402b99,
    0x316d07b43915200c, 0x5bc3d8c492f54bad, 0xc6a5ca4ecd37a736, 0xa9e69492ab6842dd,
    0xde6319ef8c76528b, 0x6837dbfcaba1ae31, 0x15dfa1ae00dafb0c, 0x664d64b705ed3065,
    0x29bf56573aff47b9, 0xf96af3be75df9328, 0x3080abf68c6615cb, 0x040622fa1de4d9a4,
    0xb33d8f1b5709cd36, 0xe9424ea4be13b523, 0x331aaaf0a8654fa5, 0xc1d20f3f0bcd785b,
    0x76f923048b7b7217, 0x8953a6c6e26e6f00, 0xebef584a9bb7dac4, 0xba66aacfcf761d02,
    0xd12df1b1c1998c77, 0xadc3da4886a05df7, 0xf480c62ff0ac9aec, 0xddbc5c3f6dded01f,
    0xc790b6db2a3a25a3, 0x9aaf009353ad0457, 0xb6b42d297e804ba7, 0x07da0eaa76a1597b,
    0x2a12162db7dcfde5, 0xfafedb89fdbe896c, 0x76e4fca90670803e, 0x156e85ff87fd073e,
    0x2833676186182aea, 0xbd4dafe7b36e6d8f, 0x3967955bbf3148d7, 0x8416df30432dc735,
    0x6125ce70c9b8cb30, 0xfd6cbfa200a4e46c, 0x05a0dd5a476f21d2, 0x1262845cb9496170,
    0xe0566b0152993755, 0x50b7d51ec4f1335f, 0x6e13e4305da92e85, 0xc3b21d3632a1a4b7,
    0x08d4b1ea21f716e4, 0x698f77ff2780030c, 0x2d408da0cd4f99a5, 0x20d3a2b30a5d2f42,
    0xf9b4cbda11d0be7d, 0xc1db9bbd17ab81a2, 0xca5c6a0817552e55, 0x0027f0147f8607e1,
    0x640b148d4196debe, 0x872afddab6256b34, 0x897bfef3059ebfb9, 0x4f6a68a82a4a5ac4,
    0x4fbcf82d985ad795, 0xc7f48d4d0da63a20, 0x5f57a4b13f149538, 0x800120cc86dd71b6,
    0xdec9f560bf11654d, 0x6b0701acb08cd0c0, 0xb24855510efb1ec3, 0x72953b06a33540c0,
    0x7bdc06cc45e0fa29, 0x4ec8cad641f3e8de, 0x647cd8649b31bed9, 0xc397a4d45877c5e3,
    0x6913daf03c3aba46, 0x18465f7555f5bdd2, 0xc6926e5d2eaced44, 0x0e423e1c87c461e9,
    0xfd29f3d6e7ca7c22, 0x35916fc5e0088dd7, 0xffe26a6ec6fdb0c1, 0x0893745d7cb2ad6b,
    0x9d6ecd7b723e6a11, 0xc6a9cff7df7329ba, 0xc9b55100b70db2e2, 0x24ba74607de58ad8,
    0x742c150d0c188194, 0x667e162901767a9f, 0xbefdfdef4556367e, 0xd913d9ecb9ba8bfc,
    0x97c427a831c36ef1, 0x36c59456a8d8b5a8, 0xb40ecccf2d891234, 0x576f89562ce3ce99,
    0xb920d6aa5e6b9c2a, 0x3ecc5f114a0bfdfb, 0xf4e16d3b8e2c86e2, 0x84d4e9a9b4fcd1ee,
    0xefc9352e61392f44, 0x2138c8d91b0afc81, 0x6a4afbd81c2f84b4, 0x538c994ecc2254dc,
    0x552ad6c6c096190b, 0xb8701a649569605a, 0x26ee523f0f117f11, 0xb5f4f5cbfc2dbc34,
    0xeebc34cc5de8605e, 0xdd9b8e67ef3392b8, 0x17c99b5861bc57e1, 0xc68351103ed84871,
    0xdddd1c2da118af46, 0x2c21d7f359987ad9, 0xc0549efa864ffc06, 0x56ae79e536228922,
    0xad38dc9367aae855, 0x3826829be7caa40d, 0x51b133990ed7a948, 0x0569f0b265a7887f,
    0x974c8836d1f9b392, 0x214a827b21cf98dc, 0x9f405547dc3a74e1, 0x42eb67df9dfe5fd4,
    0x5ea4677b7aacbaa2, 0xf65523882b55ba41, 0x086e59862a218347, 0x39e6e389d49ee540,
    0xfb49e956ffca0f1c, 0x8a59c52bfa94c5c1, 0xd3cfc50fae5adb86, 0xc5476243853b8621,
    0x94792c8761107b4c, 0x2a1a2c8012bf4390, 0x2688893c78e4c4a8, 0x7bdbe5c23ac4eaf4,
    0x268a67f7bf920d2b, 0xa365b1933d0b7cbd, 0xdc51a463dd27dde1, 0x6919949a9529a828,
    0xce68b4ed09209f44, 0xca984e638270237c, 0x7e32b90f8ef5a7e7, 0x561408f1212a9db5,
    0x4d7e6f5119a5abf9, 0xb5d6df8261dd9602, 0x36169f3ac4a1a283, 0x6ded727a8d39a9b8,
    0x825c326b5b2746ed, 0x34007700d255f4fc, 0x4d59018071e0e13f, 0x89b295f364a8f1ae,
};

// pi/2 in 128 bits: pi/2 = pi_over_2_bits 2^-127, low by less than 2^-128 of itself.
constexpr u128 pi_over_2_bits = (u128{0xc90fdaa22168c234} << 64) | 0xc4c6628b80dc1cd1;

// Words of 2/pi multiplied with the significand: 256 bits, enough that the bits left out
// change a 2/pi by under 2^-190. The fraction it leaves comes no nearer to 0 than about 2^-77
// for any long double (there are some 2^78 of them beyond 10^6, spread evenly modulo 1; the
// nearest that scripts/two-over-pi --hard finds is 2^-76.2), so the reduced angle keeps more
// than 100 correct bits beyond its 64.
constexpr int window_words = 4;

// The 256 bits of 2/pi from the bit of weight 2^-first on.
void window(int first, std::uint64_t (&w)[window_words]) {
  const int bit = first - 1;
  const int word = bit / 64, shift = bit % 64;
  for (int i = 0; i < window_words; ++i) {
    const std::uint64_t high = two_over_pi_bits[word + i];
    const std::uint64_t low = two_over_pi_bits[word + i + 1];
    w[i] = shift == 0 ? high : (high << shift) | (low >> (64 - shift));
  }
}

}  // namespace

unsigned reduce_exactly(long double a, long double& hi, long double& lo) {
  // |a| = m 2^e with m the 64-bit significand, e >= -44 for |a| > 10^6.
  std::uint64_t m;
  std::memcpy(&m, &a, sizeof m);
  std::uint16_t sign_exponent;
  std::memcpy(&sign_exponent, reinterpret_cast<const unsigned char*>(&a) + 8, sizeof sign_exponent);
  const int e = (sign_exponent & 0x7fff) - 16383 - 63;

  // Bits of 2/pi of weight 2^-j with j <= e - 2 add multiples of 4 to m 2^e 2/pi, which
  // change neither the quadrant nor the fraction: the window starts after them.
  const int first = e >= 2 ? e - 1 : 1;
  std::uint64_t w[window_words];
  window(first, w);
  // p = m x window, little-endian words; a 2/pi = p 2^-frac_bits up to the bits left out.
  std::uint64_t p[window_words + 1];
  u128 carry = 0;
  for (int i = window_words - 1; i >= 0; --i) {
    const u128 t = u128{m} * w[i] + carry;
    p[window_words - 1 - i] = static_cast<std::uint64_t>(t);
    carry = t >> 64;
  }
  p[window_words] = static_cast<std::uint64_t>(carry);
  const int frac_bits = first + 64 * window_words - 1 - e;  // 254 to 300

  // Shift left until the two integer bits that give the quadrant are the top of p.
  const int up = 64 * (window_words + 1) - 2 - frac_bits;  // 18 to 64
  const int word_shift = up / 64, bit_shift = up % 64;
  std::uint64_t q[window_words + 1];
  for (int i = window_words; i >= 0; --i) {
    const int from = i - word_shift;
    const std::uint64_t high = from >= 0 ? p[from] : 0;
    const std::uint64_t low = from >= 1 ? p[from - 1] : 0;
    q[i] = bit_shift == 0 ? high : (high << bit_shift) | (low >> (64 - bit_shift));
  }
  unsigned quadrant = static_cast<unsigned>(q[window_words] >> 62);
  q[window_words] &= ~(std::uint64_t{3} << 62);

  // A fraction of a half or more is the next quadrant less the rest: f = -(1 - fraction).
  const bool past_half = (q[window_words] >> 61) & 1;
  if (past_half) {
    ++quadrant;
    bool borrow = true;  // two's complement: invert, add one
    for (std::uint64_t& word : q) {
      word = ~word + (borrow ? 1 : 0);
      borrow = borrow && word == 0;
    }
    q[window_words] &= ~(std::uint64_t{3} << 62);
  }

  // The leading 128 bits of |f| = q 2^-318, then r = f pi/2 from the 256-bit product.
  int top = window_words;
  while (top > 0 && q[top] == 0) --top;
  if (q[top] == 0) {  // cannot happen for a finite nonzero a (pi is irrational)
    hi = lo = 0;
    return quadrant & 3;
  }
  const int lead = __builtin_clzll(q[top]);
  const auto word_at = [&q](int i) { return i >= 0 ? q[i] : std::uint64_t{0}; };
  const auto shifted = [&](int i) {
    return lead == 0 ? word_at(i) : (word_at(i) << lead) | (word_at(i - 1) >> (64 - lead));
  };
  const u128 f = (u128{shifted(top)} << 64) | shifted(top - 1);
  const int f_exponent = 64 * top + 63 - lead - 318;  // f = (f / 2^127) 2^f_exponent

  const u128 f_hi = f >> 64, f_lo = static_cast<std::uint64_t>(f);
  const u128 pi_hi = pi_over_2_bits >> 64, pi_lo = static_cast<std::uint64_t>(pi_over_2_bits);
  const u128 cross_1 = f_hi * pi_lo, cross_2 = f_lo * pi_hi;
  const u128 middle = ((f_lo * pi_lo) >> 64) + static_cast<std::uint64_t>(cross_1) +
                      static_cast<std::uint64_t>(cross_2);
  // The top 128 bits of the 256-bit product: r = (r / 2^127) 2^r_exponent.
  u128 r = f_hi * pi_hi + (cross_1 >> 64) + (cross_2 >> 64) + (middle >> 64);
  int r_exponent = f_exponent + 1;
  if (!(r >> 127)) {
    r = (r << 1) | ((middle >> 63) & 1);
    --r_exponent;
  }
  // Nearest hi and the rest in lo, scaled exactly (both stay far above the denormal range).
  const long double r_top = static_cast<long double>(static_cast<std::uint64_t>(r >> 64));
  const long double r_next = static_cast<long double>(static_cast<std::uint64_t>(r)) * 0x1p-64L;
  const long double sum = r_top + r_next;
  const long double rest = r_next - (sum - r_top);
  hi = std::ldexp(sum, r_exponent - 63);
  lo = std::ldexp(rest, r_exponent - 63);
  if (past_half) hi = -hi, lo = -lo;
  return quadrant & 3;
}

}  // namespace lyap::trig_detail
