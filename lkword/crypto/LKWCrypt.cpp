#include "lkword/crypto/LKWCrypt.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "lkword/platform/Bytes.h"

namespace lkw {

namespace {

constexpr uint32_t Rol32(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
constexpr uint32_t Ror32(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
constexpr uint64_t Ror64(uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

inline void StoreBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
inline void StoreBE64(uint8_t* p, uint64_t v) {
  StoreBE32(p, static_cast<uint32_t>(v >> 32));
  StoreBE32(p + 4, static_cast<uint32_t>(v));
}

// ---------------------------------------------------------------------------
// MD5 transform (RFC 1321, section 3.4)

constexpr uint32_t kMD5T[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kMD5S[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

void MD5Transform(MD5State& State, const uint8_t* Block) {
  MD5Block x;
  for (int i = 0; i < 16; ++i) x[i] = LoadLE32(Block + 4 * i);
  uint32_t a = State[0], b = State[1], c = State[2], d = State[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    switch (i >> 4) {
      case 0:
        f = (b & c) | (~b & d);
        g = i;
        break;
      case 1:
        f = (b & d) | (c & ~d);
        g = (5 * i + 1) & 15;
        break;
      case 2:
        f = b ^ c ^ d;
        g = (3 * i + 5) & 15;
        break;
      default:
        f = c ^ (b | ~d);
        g = (7 * i) & 15;
        break;
    }
    const uint32_t t = d;
    d = c;
    c = b;
    b = b + Rol32(a + f + kMD5T[i] + x[g], kMD5S[i >> 4][i & 3]);
    a = t;
  }
  State[0] += a;
  State[1] += b;
  State[2] += c;
  State[3] += d;
}

// ---------------------------------------------------------------------------
// SHA-2 constants (FIPS 180-4, 4.2.2 and 4.2.3). The SHA-256 constants are the
// high halves of the first 64 SHA-512 constants.

constexpr uint64_t kSHA512K[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc, 0x3956c25bf348b538,
    0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118, 0xd807aa98a3030242, 0x12835b0145706fbe,
    0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2, 0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235,
    0xc19bf174cf692694, 0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5, 0x983e5152ee66dfab,
    0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4, 0xc6e00bf33da88fc2, 0xd5a79147930aa725,
    0x06ca6351e003826f, 0x142929670a0e6e70, 0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed,
    0x53380d139d95b3df, 0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30, 0xd192e819d6ef5218,
    0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8, 0x19a4c116b8d2d0c8, 0x1e376c085141ab53,
    0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8, 0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373,
    0x682e6ff3d6b2b8a3, 0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b, 0xca273eceea26619c,
    0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178, 0x06f067aa72176fba, 0x0a637dc5a2c898a6,
    0x113f9804bef90dae, 0x1b710b35131c471b, 0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc,
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};

constexpr std::array<uint32_t, 64> MakeSHA256K() {
  std::array<uint32_t, 64> k{};
  for (int i = 0; i < 64; ++i) k[i] = static_cast<uint32_t>(kSHA512K[i] >> 32);
  return k;
}
constexpr std::array<uint32_t, 64> kSHA256K = MakeSHA256K();

// One SHA-1 round; the caller rotates the roles of the five words instead
// of moving them.
template <typename F>
inline void SHA1Round(uint32_t A, uint32_t& B, uint32_t C, uint32_t D, uint32_t& E, uint32_t W, uint32_t K, F Fn) {
  E += Rol32(A, 5) + Fn(B, C, D) + K + W;
  B = Rol32(B, 30);
}

template <typename F>
inline void SHA1Rounds20(uint32_t (&V)[5], const uint32_t* W, uint32_t K, F Fn) {
  uint32_t& a = V[0];
  uint32_t& b = V[1];
  uint32_t& c = V[2];
  uint32_t& d = V[3];
  uint32_t& e = V[4];
  for (int i = 0; i < 20; i += 5) {
    SHA1Round(a, b, c, d, e, W[i], K, Fn);
    SHA1Round(e, a, b, c, d, W[i + 1], K, Fn);
    SHA1Round(d, e, a, b, c, W[i + 2], K, Fn);
    SHA1Round(c, d, e, a, b, W[i + 3], K, Fn);
    SHA1Round(b, c, d, e, a, W[i + 4], K, Fn);
  }
}

void SHA1Transform(uint32_t (&H)[5], const uint8_t* Block) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i) w[i] = LoadBE32(Block + 4 * i);
  for (int i = 16; i < 80; ++i) w[i] = Rol32(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t v[5] = {H[0], H[1], H[2], H[3], H[4]};
  SHA1Rounds20(v, w, 0x5a827999, [](uint32_t b, uint32_t c, uint32_t d) { return d ^ (b & (c ^ d)); });
  SHA1Rounds20(v, w + 20, 0x6ed9eba1, [](uint32_t b, uint32_t c, uint32_t d) { return b ^ c ^ d; });
  SHA1Rounds20(v, w + 40, 0x8f1bbcdc, [](uint32_t b, uint32_t c, uint32_t d) { return (b & c) | (d & (b | c)); });
  SHA1Rounds20(v, w + 60, 0xca62c1d6, [](uint32_t b, uint32_t c, uint32_t d) { return b ^ c ^ d; });
  for (int i = 0; i < 5; ++i) H[i] += v[i];
}

void SHA256Transform(SHA256Digest& H, const uint8_t* Block) {
  uint32_t w[64];
  for (int i = 0; i < 16; ++i) w[i] = LoadBE32(Block + 4 * i);
  for (int i = 16; i < 64; ++i) {
    const uint32_t s0 = Ror32(w[i - 15], 7) ^ Ror32(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const uint32_t s1 = Ror32(w[i - 2], 17) ^ Ror32(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t a = H[0], b = H[1], c = H[2], d = H[3], e = H[4], f = H[5], g = H[6], h = H[7];
  for (int i = 0; i < 64; ++i) {
    const uint32_t t1 = h + (Ror32(e, 6) ^ Ror32(e, 11) ^ Ror32(e, 25)) + ((e & f) ^ (~e & g)) + kSHA256K[i] + w[i];
    const uint32_t t2 = (Ror32(a, 2) ^ Ror32(a, 13) ^ Ror32(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  H[0] += a;
  H[1] += b;
  H[2] += c;
  H[3] += d;
  H[4] += e;
  H[5] += f;
  H[6] += g;
  H[7] += h;
}

void SHA512Transform(uint64_t (&H)[8], const uint8_t* Block) {
  uint64_t w[80];
  for (int i = 0; i < 16; ++i) w[i] = LoadBE64(Block + 8 * i);
  for (int i = 16; i < 80; ++i) {
    const uint64_t s0 = Ror64(w[i - 15], 1) ^ Ror64(w[i - 15], 8) ^ (w[i - 15] >> 7);
    const uint64_t s1 = Ror64(w[i - 2], 19) ^ Ror64(w[i - 2], 61) ^ (w[i - 2] >> 6);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint64_t a = H[0], b = H[1], c = H[2], d = H[3], e = H[4], f = H[5], g = H[6], h = H[7];
  for (int i = 0; i < 80; ++i) {
    const uint64_t t1 = h + (Ror64(e, 14) ^ Ror64(e, 18) ^ Ror64(e, 41)) + ((e & f) ^ (~e & g)) + kSHA512K[i] + w[i];
    const uint64_t t2 = (Ror64(a, 28) ^ Ror64(a, 34) ^ Ror64(a, 39)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  H[0] += a;
  H[1] += b;
  H[2] += c;
  H[3] += d;
  H[4] += e;
  H[5] += f;
  H[6] += g;
  H[7] += h;
}

// ---------------------------------------------------------------------------
// AES tables, derived at compile time from the field arithmetic of FIPS-197
// section 4 rather than typed in.

constexpr uint8_t GMul(uint8_t a, uint8_t b) {
  uint8_t p = 0;
  for (int i = 0; i < 8; ++i) {
    if (b & 1) p ^= a;
    const bool hi = (a & 0x80) != 0;
    a = static_cast<uint8_t>(a << 1);
    if (hi) a ^= 0x1b;
    b >>= 1;
  }
  return p;
}

constexpr uint8_t Rol8(uint8_t x, int n) { return static_cast<uint8_t>((x << n) | (x >> (8 - n))); }

struct AESTables {
  uint8_t SBox[256];
  uint8_t InvSBox[256];
  // Round tables: SubBytes and MixColumns of one byte as a column word
  // (row 0 in the high byte), and the inverse; 1 to 3 are byte rotations.
  uint32_t Te[4][256];
  uint32_t Td[4][256];
};

constexpr uint32_t Pack(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return (uint32_t{a} << 24) | (uint32_t{b} << 16) | (uint32_t{c} << 8) | uint32_t{d};
}

constexpr AESTables MakeAESTables() {
  AESTables t{};
  // Multiplicative inverses through log/antilog tables over generator 3.
  uint8_t exp[256]{}, log[256]{};
  uint8_t x = 1;
  for (int i = 0; i < 255; ++i) {
    exp[i] = x;
    log[x] = static_cast<uint8_t>(i);
    x = GMul(x, 3);
  }
  for (int i = 0; i < 256; ++i) {
    const uint8_t inv = i == 0 ? 0 : exp[(255 - log[i]) % 255];
    const uint8_t s = static_cast<uint8_t>(inv ^ Rol8(inv, 1) ^ Rol8(inv, 2) ^ Rol8(inv, 3) ^ Rol8(inv, 4) ^ 0x63);
    t.SBox[i] = s;
    t.InvSBox[s] = static_cast<uint8_t>(i);
  }
  for (int i = 0; i < 256; ++i) {
    const uint8_t s = t.SBox[i], v = t.InvSBox[i];
    const uint32_t e = Pack(GMul(s, 2), s, s, GMul(s, 3));
    const uint32_t d = Pack(GMul(v, 14), GMul(v, 9), GMul(v, 13), GMul(v, 11));
    for (int r = 0; r < 4; ++r) {
      t.Te[r][i] = r == 0 ? e : Ror32(e, 8 * r);
      t.Td[r][i] = r == 0 ? d : Ror32(d, 8 * r);
    }
  }
  return t;
}

constexpr AESTables kAES = MakeAESTables();
static_assert(kAES.SBox[0] == 0x63 && kAES.SBox[0x53] == 0xed && kAES.InvSBox[0x63] == 0);

inline uint32_t SubWord(uint32_t w) {
  return (uint32_t{kAES.SBox[w >> 24]} << 24) | (uint32_t{kAES.SBox[(w >> 16) & 0xff]} << 16) |
         (uint32_t{kAES.SBox[(w >> 8) & 0xff]} << 8) | uint32_t{kAES.SBox[w & 0xff]};
}

inline uint32_t InvMixColumn(uint32_t w) {
  return kAES.Td[0][kAES.SBox[w >> 24]] ^ kAES.Td[1][kAES.SBox[(w >> 16) & 0xff]] ^
         kAES.Td[2][kAES.SBox[(w >> 8) & 0xff]] ^ kAES.Td[3][kAES.SBox[w & 0xff]];
}

// Both schedules: rk for the cipher, drk for the equivalent inverse cipher
// (round keys reversed, the inner ones through InvMixColumns).
bool AESExpandKey(AESContext& Context, const void* Key, int KeySize) {
  int nk;
  switch (KeySize) {
    case 128: nk = 4; break;
    case 192: nk = 6; break;
    case 256: nk = 8; break;
    default: return false;
  }
  const auto* k = static_cast<const uint8_t*>(Key);
  const int nr = nk + 6;
  const int words = 4 * (nr + 1);
  for (int i = 0; i < nk; ++i) Context.rk[i] = LoadBE32(k + 4 * i);
  uint8_t rcon = 1;
  for (int i = nk; i < words; ++i) {
    uint32_t temp = Context.rk[i - 1];
    if (i % nk == 0) {
      temp = SubWord(Rol32(temp, 8)) ^ (uint32_t{rcon} << 24);
      rcon = GMul(rcon, 2);
    } else if (nk > 6 && i % nk == 4) {
      temp = SubWord(temp);
    }
    Context.rk[i] = Context.rk[i - nk] ^ temp;
  }
  for (int r = 0; r <= nr; ++r)
    for (int c = 0; c < 4; ++c) {
      const uint32_t w = Context.rk[4 * (nr - r) + c];
      Context.drk[4 * r + c] = (r == 0 || r == nr) ? w : InvMixColumn(w);
    }
  Context.nr = nr;
  return true;
}

void AESEncryptBlock(const AESContext& Context, uint8_t* b) {
  const uint32_t* rk = Context.rk;
  uint32_t s0 = LoadBE32(b) ^ rk[0], s1 = LoadBE32(b + 4) ^ rk[1], s2 = LoadBE32(b + 8) ^ rk[2],
           s3 = LoadBE32(b + 12) ^ rk[3];
  const auto& T = kAES.Te;
  for (int r = 1; r < Context.nr; ++r) {
    rk += 4;
    const uint32_t t0 = T[0][s0 >> 24] ^ T[1][(s1 >> 16) & 0xff] ^ T[2][(s2 >> 8) & 0xff] ^ T[3][s3 & 0xff] ^ rk[0];
    const uint32_t t1 = T[0][s1 >> 24] ^ T[1][(s2 >> 16) & 0xff] ^ T[2][(s3 >> 8) & 0xff] ^ T[3][s0 & 0xff] ^ rk[1];
    const uint32_t t2 = T[0][s2 >> 24] ^ T[1][(s3 >> 16) & 0xff] ^ T[2][(s0 >> 8) & 0xff] ^ T[3][s1 & 0xff] ^ rk[2];
    const uint32_t t3 = T[0][s3 >> 24] ^ T[1][(s0 >> 16) & 0xff] ^ T[2][(s1 >> 8) & 0xff] ^ T[3][s2 & 0xff] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  const uint8_t* S = kAES.SBox;
  const uint32_t o0 = Pack(S[s0 >> 24], S[(s1 >> 16) & 0xff], S[(s2 >> 8) & 0xff], S[s3 & 0xff]) ^ rk[0];
  const uint32_t o1 = Pack(S[s1 >> 24], S[(s2 >> 16) & 0xff], S[(s3 >> 8) & 0xff], S[s0 & 0xff]) ^ rk[1];
  const uint32_t o2 = Pack(S[s2 >> 24], S[(s3 >> 16) & 0xff], S[(s0 >> 8) & 0xff], S[s1 & 0xff]) ^ rk[2];
  const uint32_t o3 = Pack(S[s3 >> 24], S[(s0 >> 16) & 0xff], S[(s1 >> 8) & 0xff], S[s2 & 0xff]) ^ rk[3];
  StoreBE32(b, o0);
  StoreBE32(b + 4, o1);
  StoreBE32(b + 8, o2);
  StoreBE32(b + 12, o3);
}

void AESDecryptBlock(const AESContext& Context, uint8_t* b) {
  const uint32_t* rk = Context.drk;
  uint32_t s0 = LoadBE32(b) ^ rk[0], s1 = LoadBE32(b + 4) ^ rk[1], s2 = LoadBE32(b + 8) ^ rk[2],
           s3 = LoadBE32(b + 12) ^ rk[3];
  const auto& T = kAES.Td;
  for (int r = 1; r < Context.nr; ++r) {
    rk += 4;
    const uint32_t t0 = T[0][s0 >> 24] ^ T[1][(s3 >> 16) & 0xff] ^ T[2][(s2 >> 8) & 0xff] ^ T[3][s1 & 0xff] ^ rk[0];
    const uint32_t t1 = T[0][s1 >> 24] ^ T[1][(s0 >> 16) & 0xff] ^ T[2][(s3 >> 8) & 0xff] ^ T[3][s2 & 0xff] ^ rk[1];
    const uint32_t t2 = T[0][s2 >> 24] ^ T[1][(s1 >> 16) & 0xff] ^ T[2][(s0 >> 8) & 0xff] ^ T[3][s3 & 0xff] ^ rk[2];
    const uint32_t t3 = T[0][s3 >> 24] ^ T[1][(s2 >> 16) & 0xff] ^ T[2][(s1 >> 8) & 0xff] ^ T[3][s0 & 0xff] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  const uint8_t* S = kAES.InvSBox;
  const uint32_t o0 = Pack(S[s0 >> 24], S[(s3 >> 16) & 0xff], S[(s2 >> 8) & 0xff], S[s1 & 0xff]) ^ rk[0];
  const uint32_t o1 = Pack(S[s1 >> 24], S[(s0 >> 16) & 0xff], S[(s3 >> 8) & 0xff], S[s2 & 0xff]) ^ rk[1];
  const uint32_t o2 = Pack(S[s2 >> 24], S[(s1 >> 16) & 0xff], S[(s0 >> 8) & 0xff], S[s3 & 0xff]) ^ rk[2];
  const uint32_t o3 = Pack(S[s3 >> 24], S[(s2 >> 16) & 0xff], S[(s1 >> 8) & 0xff], S[s0 & 0xff]) ^ rk[3];
  StoreBE32(b, o0);
  StoreBE32(b + 4, o1);
  StoreBE32(b + 8, o2);
  StoreBE32(b + 12, o3);
}

}  // namespace

// ---------------------------------------------------------------------------
// MD5

void MD5Init(MD5Context& Context) {
  Context.State[0] = 0x67452301;
  Context.State[1] = 0xefcdab89;
  Context.State[2] = 0x98badcfe;
  Context.State[3] = 0x10325476;
  Context.Count[0] = 0;
  Context.Count[1] = 0;
  std::memset(Context.Buffer, 0, sizeof(Context.Buffer));
}

void MD5Update(MD5Context& Context, const void* Input, size_t Length) {
  const auto* in = static_cast<const uint8_t*>(Input);
  size_t have = (Context.Count[0] >> 3) & 63;
  const uint64_t bits = (uint64_t{Context.Count[1]} << 32 | Context.Count[0]) + (uint64_t{Length} << 3);
  Context.Count[0] = static_cast<uint32_t>(bits);
  Context.Count[1] = static_cast<uint32_t>(bits >> 32);
  if (have > 0) {
    const size_t take = Length < 64 - have ? Length : 64 - have;
    std::memcpy(Context.Buffer + have, in, take);
    have += take;
    in += take;
    Length -= take;
    if (have < 64) return;
    MD5Transform(Context.State, Context.Buffer);
  }
  for (; Length >= 64; in += 64, Length -= 64) MD5Transform(Context.State, in);
  if (Length > 0) std::memcpy(Context.Buffer, in, Length);
}

void MD5Final(MD5Context& Context, MD5Digest& Digest) {
  MD5CBits bits;
  for (int i = 0; i < 4; ++i) {
    bits[i] = static_cast<uint8_t>(Context.Count[0] >> (8 * i));
    bits[4 + i] = static_cast<uint8_t>(Context.Count[1] >> (8 * i));
  }
  const size_t have = (Context.Count[0] >> 3) & 63;
  static constexpr uint8_t kPad[64] = {0x80};
  MD5Update(Context, kPad, have < 56 ? 56 - have : 120 - have);
  MD5Update(Context, bits, 8);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) Digest[4 * i + j] = static_cast<uint8_t>(Context.State[i] >> (8 * j));
  std::memset(&Context, 0, sizeof(Context));
}

bool MD5Match(const MD5Digest& D1, const MD5Digest& D2) { return std::memcmp(D1, D2, 16) == 0; }

RawByteString MD5String(std::string_view Data) {
  MD5Context ctx;
  MD5Digest d;
  MD5Init(ctx);
  MD5Update(ctx, Data.data(), Data.size());
  MD5Final(ctx, d);
  return RawByteString(reinterpret_cast<const char*>(d), 16);
}

// ---------------------------------------------------------------------------
// RC4

void RC4Init(TRC4Context& Context, const void* Key, size_t KeyLength) {
  static constexpr uint8_t kZero = 0;
  const auto* k = static_cast<const uint8_t*>(Key);
  if (KeyLength == 0 || k == nullptr) {
    k = &kZero;
    KeyLength = 1;
  }
  if (KeyLength > 256) KeyLength = 256;
  for (int i = 0; i < 256; ++i) Context.State[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (size_t i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + Context.State[i] + k[i % KeyLength]);
    std::swap(Context.State[i], Context.State[j]);
  }
  Context.I = 0;
  Context.J = 0;
}

void RC4Crypt(TRC4Context& Context, const void* Input, void* Output, size_t Length) {
  const auto* in = static_cast<const uint8_t*>(Input);
  auto* out = static_cast<uint8_t*>(Output);
  uint8_t i = Context.I, j = Context.J;
  uint8_t* s = Context.State;
  for (size_t k = 0; k < Length; ++k) {
    i = static_cast<uint8_t>(i + 1);
    j = static_cast<uint8_t>(j + s[i]);
    std::swap(s[i], s[j]);
    out[k] = static_cast<uint8_t>(in[k] ^ s[static_cast<uint8_t>(s[i] + s[j])]);
  }
  Context.I = i;
  Context.J = j;
}

void RC4Crypt2(TRC4Context& Context, const RawByteString& Input, RawByteString& Output, size_t Length) {
  if (Length > Input.size()) Length = Input.size();
  if (Output.size() < Length) Output.resize(Length);
  RC4Crypt(Context, Input.data(), Output.data(), Length);
}

void RC4Crypt3(TRC4Context& Context, const void* Input, RawByteString& Output, size_t Length) {
  Output.assign(static_cast<const char*>(Input), Length);
  RC4Crypt(Context, Output.data(), Output.data(), Length);
}

void RC4Done(TRC4Context& Context) { std::memset(&Context, 0, sizeof(Context)); }

RawByteString RC4String(std::string_view Key, std::string_view Data) {
  TRC4Context ctx;
  RC4Init(ctx, Key.data(), Key.size());
  RawByteString out;
  RC4Crypt3(ctx, Data.data(), out, Data.size());
  RC4Done(ctx);
  return out;
}

namespace {

// The 64-byte block framing that SHA-1 and SHA-256 share: a big-endian bit
// count closes the message.
template <class Context_, class Transform_>
void BlockHashUpdate(Context_& Context, const void* Input, size_t Length, Transform_ Transform) {
  const auto* in = static_cast<const uint8_t*>(Input);
  const uint64_t bits = (uint64_t{Context.LenHi} << 32 | Context.LenLo) + (uint64_t{Length} << 3);
  Context.LenHi = static_cast<uint32_t>(bits >> 32);
  Context.LenLo = static_cast<uint32_t>(bits);
  while (Length > 0) {
    if (Context.Index == 0 && Length >= 64) {
      Transform(Context.Hash, in);
      in += 64;
      Length -= 64;
      continue;
    }
    const size_t take = Length < 64 - Context.Index ? Length : 64 - Context.Index;
    std::memcpy(Context.Buffer + Context.Index, in, take);
    Context.Index += static_cast<uint32_t>(take);
    in += take;
    Length -= take;
    if (Context.Index == 64) {
      Transform(Context.Hash, Context.Buffer);
      Context.Index = 0;
    }
  }
}

template <class Context_, class Transform_>
void BlockHashFinal(Context_& Context, uint8_t* Digest, int Words, Transform_ Transform) {
  uint8_t bits[8];
  StoreBE32(bits, Context.LenHi);
  StoreBE32(bits + 4, Context.LenLo);
  static constexpr uint8_t kPad[64] = {0x80};
  const uint32_t have = Context.Index;
  BlockHashUpdate(Context, kPad, have < 56 ? 56 - have : 120 - have, Transform);
  BlockHashUpdate(Context, bits, 8, Transform);
  for (int i = 0; i < Words; ++i) StoreBE32(Digest + 4 * i, Context.Hash[i]);
}

}  // namespace

// ---------------------------------------------------------------------------
// SHA-1

void SHA1Init(SHA1Context& Context) {
  Context.LenHi = 0;
  Context.LenLo = 0;
  Context.Index = 0;
  std::memset(Context.Buffer, 0, sizeof(Context.Buffer));
  static constexpr uint32_t kInit[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
  std::memcpy(Context.Hash, kInit, sizeof(kInit));
}

void SHA1Update(SHA1Context& Context, const void* Input, size_t Length) {
  BlockHashUpdate(Context, Input, Length, SHA1Transform);
}

void SHA1Final(SHA1Context& Context, uint8_t (&Digest)[20]) {
  BlockHashFinal(Context, Digest, 5, SHA1Transform);
}

RawByteString SHA1String(std::string_view Data) {
  SHA1Context ctx;
  uint8_t d[20];
  SHA1Init(ctx);
  SHA1Update(ctx, Data.data(), Data.size());
  SHA1Final(ctx, d);
  return RawByteString(reinterpret_cast<const char*>(d), 20);
}

RawByteString PBKDF2HMACSHA1(std::string_view Password, std::string_view Salt, uint32_t Iterations,
                             size_t KeyLength) {
  // The keyed inner and outer states are made once. After the first round
  // every message is one 20-byte digest, so each round is exactly two
  // compressions of prepared blocks; key derivations run 100,000 rounds.
  uint8_t key[64] = {};
  if (Password.size() > 64) {
    const RawByteString h = SHA1String(Password);
    std::memcpy(key, h.data(), h.size());
  } else {
    std::memcpy(key, Password.data(), Password.size());
  }
  uint8_t pad[64];
  SHA1Context inner, outer;
  for (int i = 0; i < 64; ++i) pad[i] = key[i] ^ 0x36;
  SHA1Init(inner);
  SHA1Update(inner, pad, 64);
  for (int i = 0; i < 64; ++i) pad[i] = key[i] ^ 0x5C;
  SHA1Init(outer);
  SHA1Update(outer, pad, 64);
  // A digest after a 64-byte key block: 84 bytes, 672 bits.
  uint8_t block[64] = {};
  block[20] = 0x80;
  StoreBE32(block + 60, 672);
  auto round = [&](uint8_t (&U)[20]) {
    uint32_t h[5];
    std::memcpy(h, inner.Hash, sizeof(h));
    std::memcpy(block, U, 20);
    SHA1Transform(h, block);
    for (int i = 0; i < 5; ++i) StoreBE32(block + 4 * i, h[i]);
    std::memcpy(h, outer.Hash, sizeof(h));
    SHA1Transform(h, block);
    for (int i = 0; i < 5; ++i) StoreBE32(U + 4 * i, h[i]);
  };

  RawByteString out;
  for (uint32_t index = 1; out.size() < KeyLength; ++index) {
    RawByteString first(Salt);
    for (int i = 3; i >= 0; --i) first += static_cast<char>(index >> (8 * i));
    uint8_t u[20], t[20];
    SHA1Context c = inner;
    SHA1Update(c, first.data(), first.size());
    SHA1Final(c, u);
    c = outer;
    SHA1Update(c, u, 20);
    SHA1Final(c, u);
    std::memcpy(t, u, 20);
    for (uint32_t n = 1; n < Iterations; ++n) {
      round(u);
      for (int i = 0; i < 20; ++i) t[i] ^= u[i];
    }
    out.append(reinterpret_cast<const char*>(t), std::min<size_t>(20, KeyLength - out.size()));
  }
  return out;
}

// ---------------------------------------------------------------------------
// Blowfish

extern const uint32_t kBlowfishPi[18 + 4 * 256];

namespace {

inline uint32_t BlowfishF(const TBlowfishContext& C, uint32_t X) {
  return ((C.S[0][X >> 24] + C.S[1][(X >> 16) & 0xFF]) ^ C.S[2][(X >> 8) & 0xFF]) + C.S[3][X & 0xFF];
}

void BlowfishRounds(const TBlowfishContext& C, uint32_t& L, uint32_t& R) {
  uint32_t l = L, r = R;
  for (int i = 0; i < 16; i += 2) {
    l ^= C.P[i];
    r ^= BlowfishF(C, l);
    r ^= C.P[i + 1];
    l ^= BlowfishF(C, r);
  }
  L = r ^ C.P[17];
  R = l ^ C.P[16];
}

}  // namespace

void BlowfishInit(TBlowfishContext& Context, const void* Key, size_t KeyLength) {
  std::memcpy(Context.P, kBlowfishPi, sizeof(Context.P));
  std::memcpy(Context.S, kBlowfishPi + 18, sizeof(Context.S));
  const auto* key = static_cast<const uint8_t*>(Key);
  KeyLength = std::min<size_t>(KeyLength, 56);
  for (int i = 0, k = 0; i < 18; ++i) {
    uint32_t word = 0;
    for (int b = 0; b < 4; ++b) {
      word = word << 8 | (KeyLength > 0 ? key[k] : 0);
      k = KeyLength > 0 ? static_cast<int>((k + 1) % KeyLength) : 0;
    }
    Context.P[i] ^= word;
  }
  uint32_t l = 0, r = 0;
  for (int i = 0; i < 18; i += 2) {
    BlowfishRounds(Context, l, r);
    Context.P[i] = l;
    Context.P[i + 1] = r;
  }
  for (auto& box : Context.S)
    for (int i = 0; i < 256; i += 2) {
      BlowfishRounds(Context, l, r);
      box[i] = l;
      box[i + 1] = r;
    }
}

void BlowfishEncrypt(const TBlowfishContext& Context, uint8_t (&Block)[8]) {
  uint32_t l = LoadBE32(Block), r = LoadBE32(Block + 4);
  BlowfishRounds(Context, l, r);
  StoreBE32(Block, l);
  StoreBE32(Block + 4, r);
}

void BlowfishCFBDecrypt(const TBlowfishContext& Context, const uint8_t (&IV)[8], const uint8_t* Input,
                        uint8_t* Output, size_t Length) {
  uint8_t feedback[8];
  std::memcpy(feedback, IV, 8);
  for (size_t at = 0; at < Length; at += 8) {
    uint8_t stream[8];
    std::memcpy(stream, feedback, 8);
    BlowfishEncrypt(Context, stream);
    const size_t n = std::min<size_t>(8, Length - at);
    std::memcpy(feedback, Input + at, n);  // before Output may overwrite it
    for (size_t k = 0; k < n; ++k) Output[at + k] = Input[at + k] ^ stream[k];
  }
}

// ---------------------------------------------------------------------------
// SHA-256

void SHA256Init(SHA256Context& Context) {
  Context.LenHi = 0;
  Context.LenLo = 0;
  Context.Index = 0;
  std::memset(Context.Buffer, 0, sizeof(Context.Buffer));
  static constexpr uint32_t kInit[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::memcpy(Context.Hash, kInit, sizeof(kInit));
}

void SHA256Update(SHA256Context& Context, const void* Input, size_t Length) {
  BlockHashUpdate(Context, Input, Length, SHA256Transform);
}

void SHA256Final(SHA256Context& Context, uint8_t (&Digest)[32]) {
  BlockHashFinal(Context, Digest, 8, SHA256Transform);
}

RawByteString SHA256String(std::string_view Data) {
  SHA256Context ctx;
  uint8_t d[32];
  SHA256Init(ctx);
  SHA256Update(ctx, Data.data(), Data.size());
  SHA256Final(ctx, d);
  return RawByteString(reinterpret_cast<const char*>(d), 32);
}

// ---------------------------------------------------------------------------
// SHA-384 / SHA-512

void SHA384Init(SHA512Context& Context) {
  static constexpr uint64_t kInit[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                                        0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                                        0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
  Context.LenHi = 0;
  Context.LenLo = 0;
  Context.Index = 0;
  std::memset(Context.Buffer, 0, sizeof(Context.Buffer));
  std::memcpy(Context.Hash, kInit, sizeof(kInit));
}

void SHA512Init(SHA512Context& Context) {
  static constexpr uint64_t kInit[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                        0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                        0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
  Context.LenHi = 0;
  Context.LenLo = 0;
  Context.Index = 0;
  std::memset(Context.Buffer, 0, sizeof(Context.Buffer));
  std::memcpy(Context.Hash, kInit, sizeof(kInit));
}

void SHA512Update(SHA512Context& Context, const void* Input, size_t Length) {
  const auto* in = static_cast<const uint8_t*>(Input);
  const uint64_t add = uint64_t{Length} << 3;
  Context.LenHi += (uint64_t{Length} >> 61);
  Context.LenLo += add;
  if (Context.LenLo < add) ++Context.LenHi;
  while (Length > 0) {
    if (Context.Index == 0 && Length >= 128) {
      SHA512Transform(Context.Hash, in);
      in += 128;
      Length -= 128;
      continue;
    }
    const size_t take = Length < 128 - Context.Index ? Length : 128 - Context.Index;
    std::memcpy(Context.Buffer + Context.Index, in, take);
    Context.Index += static_cast<uint32_t>(take);
    in += take;
    Length -= take;
    if (Context.Index == 128) {
      SHA512Transform(Context.Hash, Context.Buffer);
      Context.Index = 0;
    }
  }
}

namespace {
void SHA512Finish(SHA512Context& Context, uint8_t* Digest, int Words) {
  uint8_t bits[16];
  StoreBE64(bits, Context.LenHi);
  StoreBE64(bits + 8, Context.LenLo);
  static constexpr uint8_t kPad[128] = {0x80};
  const uint32_t have = Context.Index;
  SHA512Update(Context, kPad, have < 112 ? 112 - have : 240 - have);
  SHA512Update(Context, bits, 16);
  for (int i = 0; i < Words; ++i) StoreBE64(Digest + 8 * i, Context.Hash[i]);
}
}  // namespace

void SHA384Final(SHA512Context& Context, uint8_t (&Digest)[48]) { SHA512Finish(Context, Digest, 6); }
void SHA512Final(SHA512Context& Context, uint8_t (&Digest)[64]) { SHA512Finish(Context, Digest, 8); }

RawByteString SHA384String(std::string_view Data) {
  SHA512Context ctx;
  uint8_t d[48];
  SHA384Init(ctx);
  SHA512Update(ctx, Data.data(), Data.size());
  SHA384Final(ctx, d);
  return RawByteString(reinterpret_cast<const char*>(d), 48);
}

RawByteString SHA512String(std::string_view Data) {
  SHA512Context ctx;
  uint8_t d[64];
  SHA512Init(ctx);
  SHA512Update(ctx, Data.data(), Data.size());
  SHA512Final(ctx, d);
  return RawByteString(reinterpret_cast<const char*>(d), 64);
}

// ---------------------------------------------------------------------------
// AES

void AES_SetKey_Enc(AESContext& Context, const void* Key, int KeySize) { AESExpandKey(Context, Key, KeySize); }

// Either call prepares both directions.
void AES_SetKey_Dec(AESContext& Context, const void* Key, int KeySize) { AESExpandKey(Context, Key, KeySize); }

void AES_Encrypt(AESContext& Context, const uint8_t (&Input)[16], uint8_t (&Output)[16]) {
  std::memcpy(Context.buf, Input, 16);
  AESEncryptBlock(Context, Context.buf);
  std::memcpy(Output, Context.buf, 16);
}

void AES_Decrypt(AESContext& Context, const uint8_t (&Input)[16], uint8_t (&Output)[16]) {
  std::memcpy(Context.buf, Input, 16);
  AESDecryptBlock(Context, Context.buf);
  std::memcpy(Output, Context.buf, 16);
}

#if defined(__x86_64__) || defined(__i386__)
namespace {

// The processor's AES instructions, where it has them: the same round keys
// (ours are words read big-endian, the instructions take the bytes in
// order), a tenth of the time of the table cipher. Revision 6 PDF password
// hashing runs the cipher over some hundred kilobytes per password tried.
__attribute__((target("aes,sse2"))) void LoadRoundKeys(const uint32_t* Words, int Rounds, __m128i* Keys) {
  for (int r = 0; r <= Rounds; ++r) {
    uint8_t b[16];
    for (int c = 0; c < 4; ++c) StoreBE32(b + 4 * c, Words[4 * r + c]);
    Keys[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
  }
}

__attribute__((target("aes,sse2"))) void CBCEncryptNI(const AESContext& Context, const uint8_t* IV,
                                                      const uint8_t* Input, uint8_t* Output, size_t Length) {
  __m128i k[15];
  const int nr = Context.nr;
  LoadRoundKeys(Context.rk, nr, k);
  __m128i chain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(IV));
  for (size_t off = 0; off + 16 <= Length; off += 16) {
    __m128i x = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Input + off)), chain);
    x = _mm_xor_si128(x, k[0]);
    for (int r = 1; r < nr; ++r) x = _mm_aesenc_si128(x, k[r]);
    chain = _mm_aesenclast_si128(x, k[nr]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Output + off), chain);
  }
}

__attribute__((target("aes,sse2"))) void CBCDecryptNI(const AESContext& Context, const uint8_t* IV,
                                                      const uint8_t* Input, uint8_t* Output, size_t Length) {
  // drk is the equivalent inverse cipher's schedule, which the decryption
  // instructions take.
  __m128i k[15];
  const int nr = Context.nr;
  LoadRoundKeys(Context.drk, nr, k);
  __m128i chain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(IV));
  for (size_t off = 0; off + 16 <= Length; off += 16) {
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Input + off));
    __m128i x = _mm_xor_si128(in, k[0]);
    for (int r = 1; r < nr; ++r) x = _mm_aesdec_si128(x, k[r]);
    x = _mm_aesdeclast_si128(x, k[nr]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Output + off), _mm_xor_si128(x, chain));
    chain = in;
  }
}

bool HasAESInstructions() {
  static const bool has = __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse2");
  return has;
}

}  // namespace
#endif

void AES_CBC_Encrypt(AESContext& Context, const uint8_t* IV, const uint8_t* Input, uint8_t* Output, size_t Length) {
#if defined(__x86_64__) || defined(__i386__)
  if (Context.nr > 0 && HasAESInstructions()) return CBCEncryptNI(Context, IV, Input, Output, Length);
#endif
  uint8_t chain[16];
  std::memcpy(chain, IV, 16);
  for (size_t off = 0; off + 16 <= Length; off += 16) {
    for (int i = 0; i < 16; ++i) Context.buf[i] = static_cast<uint8_t>(Input[off + i] ^ chain[i]);
    AESEncryptBlock(Context, Context.buf);
    std::memcpy(Output + off, Context.buf, 16);
    std::memcpy(chain, Context.buf, 16);
  }
}

void AES_CBC_Decrypt(AESContext& Context, const uint8_t* IV, const uint8_t* Input, uint8_t* Output, size_t Length) {
#if defined(__x86_64__) || defined(__i386__)
  if (Context.nr > 0 && HasAESInstructions()) return CBCDecryptNI(Context, IV, Input, Output, Length);
#endif
  uint8_t chain[16], next[16];
  std::memcpy(chain, IV, 16);
  for (size_t off = 0; off + 16 <= Length; off += 16) {
    std::memcpy(next, Input + off, 16);
    std::memcpy(Context.buf, next, 16);
    AESDecryptBlock(Context, Context.buf);
    for (int i = 0; i < 16; ++i) Output[off + i] = static_cast<uint8_t>(Context.buf[i] ^ chain[i]);
    std::memcpy(chain, next, 16);
  }
}

}  // namespace lkw
