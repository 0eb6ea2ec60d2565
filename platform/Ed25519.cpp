// Ed25519's curve arithmetic, as far as verification and signing need it
// (RFC 8032, sections 5.1.2 to 5.1.7).
//
// Field elements of GF(p), p = 2^255 - 19, are ten signed limbs of
// alternately 26 and 25 bits (radix 2^25.5): limb i counts in units of
// 2^ceil(25.5 i). Every operation carries its result, so each limb stays
// within -2^26 .. 2^26; the products of a multiplication then fit 64 bits
// with room for their sums, and no 128-bit type is needed.
//
// Traps:
// - Limbs are only canonical after ToBytes: comparisons and parities go
//   through the encoding, never through the limbs.
// - A key must be the canonical encoding of a point: y below p, and no
//   sign bit on x = 0 (libcrypto 3.0 takes y modulo p and drops that sign,
//   so it accepts a few keys that are refused here). R is never decoded:
//   the check compares encodings, so a non-canonical R simply fails.
// - k = SHA-512(...) mod L, not the whole 512-bit digest: the two differ
//   on a key with a small-order component.
//
// Verification handles only public values and takes shortcuts on them.
// Signing multiplies the base point by secret scalars: that multiplication
// reads its table and adds in the same way whatever the scalar, and the
// scalar reductions choose without branching. The constants d, sqrt(-1) and
// the base point are computed from their definitions at first use rather
// than written out in hexadecimal.
#include "platform/Ed25519.h"

#include <algorithm>
#include <optional>

namespace platform {
namespace {

using TBytes32 = std::array<uint8_t, 32>;

// ----- The field GF(2^255 - 19) -----

constexpr int kLimbs = 10;

constexpr int LimbBits(int i) {
  return i % 2 == 0 ? 26 : 25;
}
constexpr int64_t LimbMask(int i) {
  return (int64_t{1} << LimbBits(i)) - 1;
}

struct TFe {
  std::array<int32_t, kLimbs> limb{};
};
using TWide = std::array<int64_t, kLimbs>;

// One carry pass from the lowest limb up; the carry out of the top limb
// wraps round to limb 0 as 2^255 = 19. Returns that top carry: when it is 0,
// every limb is within its bits.
int64_t CarryPass(TWide& h) {
  int64_t top = 0;
  for (int i = 0; i < kLimbs; ++i) {
    const int64_t carry = h[i] >> LimbBits(i); // floor, also below zero
    h[i] &= LimbMask(i);
    if (i + 1 < kLimbs)
      h[i + 1] += carry;
    else
      top = carry;
  }
  h[0] += 19 * top;
  return top;
}

TFe Carry(TWide h) {
  CarryPass(h);
  // The wrapped carry may lift limb 0 far past its bits: one more step
  // leaves it in range and limb 1 at most 2^16 outside its own.
  const int64_t carry = h[0] >> LimbBits(0);
  h[0] &= LimbMask(0);
  h[1] += carry;
  TFe f;
  for (int i = 0; i < kLimbs; ++i)
    f.limb[i] = static_cast<int32_t>(h[i]);
  return f;
}

TWide Widen(const TFe& f) {
  TWide h{};
  for (int i = 0; i < kLimbs; ++i)
    h[i] = f.limb[i];
  return h;
}

TFe Small(int32_t n) {
  TFe f;
  f.limb[0] = n;
  return f;
}

TFe Add(const TFe& f, const TFe& g) {
  TWide h = Widen(f);
  for (int i = 0; i < kLimbs; ++i)
    h[i] += g.limb[i];
  return Carry(h);
}

TFe Sub(const TFe& f, const TFe& g) {
  TWide h = Widen(f);
  for (int i = 0; i < kLimbs; ++i)
    h[i] -= g.limb[i];
  return Carry(h);
}

TFe Neg(const TFe& f) {
  return Sub(TFe{}, f);
}

TFe Mul(const TFe& f, const TFe& g) {
  // Two odd limbs start half a bit above a limb each, so their product
  // lands one bit above limb i + j: odd limbs of f meet g with its odd limbs
  // doubled.
  std::array<int64_t, kLimbs> gPlain{}, gOddTwice{};
  for (int j = 0; j < kLimbs; ++j) {
    gPlain[j] = g.limb[j];
    gOddTwice[j] = j % 2 == 1 ? 2 * gPlain[j] : gPlain[j];
  }
  std::array<int64_t, 2 * kLimbs - 1> product{};
  for (int i = 0; i < kLimbs; ++i) {
    const std::array<int64_t, kLimbs>& gi = i % 2 == 1 ? gOddTwice : gPlain;
    for (int j = 0; j < kLimbs; ++j)
      product[i + j] += f.limb[i] * gi[j];
  }
  // Past the top limb the product wraps round: 2^255 = 19 (mod p).
  TWide h{};
  for (int k = 0; k < kLimbs; ++k)
    h[k] = product[k] + (k + kLimbs < 2 * kLimbs - 1 ? 19 * product[k + kLimbs] : 0);
  return Carry(h);
}

TFe Square(const TFe& f) {
  return Mul(f, f);
}

// Bits 0 to 254 of the little-endian number; bit 255 is ignored. The value
// may be p or above: only ToBytes makes it canonical.
TFe FromBytes(const TBytes32& s) {
  TFe f;
  uint64_t pending = 0;
  int pendingBits = 0;
  size_t next = 0;
  for (int i = 0; i < kLimbs; ++i) {
    while (pendingBits < LimbBits(i)) {
      pending |= uint64_t{s[next++]} << pendingBits;
      pendingBits += 8;
    }
    f.limb[i] = static_cast<int32_t>(pending & static_cast<uint64_t>(LimbMask(i)));
    pending >>= LimbBits(i);
    pendingBits -= LimbBits(i);
  }
  return f;
}

// The canonical little-endian encoding, 0 <= value < p; bit 255 is 0.
TBytes32 ToBytes(const TFe& f) {
  TWide h = Widen(f);
  // Until no carry wraps round, every limb is within its bits and the value
  // is below 2^255, at most one p above its canonical form.
  while (CarryPass(h) != 0) {
  }
  // The value is p or more exactly when adding 19 reaches 2^255; the sum
  // without that bit is then the value minus p.
  TWide reduced = h;
  reduced[0] += 19;
  int64_t carry = 0;
  for (int i = 0; i < kLimbs; ++i) {
    reduced[i] += carry;
    carry = reduced[i] >> LimbBits(i);
    reduced[i] &= LimbMask(i);
  }
  if (carry != 0) h = reduced;

  TBytes32 out{};
  uint64_t pending = 0;
  int pendingBits = 0;
  size_t next = 0;
  for (int i = 0; i < kLimbs; ++i) {
    pending |= static_cast<uint64_t>(h[i]) << pendingBits;
    pendingBits += LimbBits(i);
    while (pendingBits >= 8) {
      out[next++] = static_cast<uint8_t>(pending);
      pending >>= 8;
      pendingBits -= 8;
    }
  }
  out[next] = static_cast<uint8_t>(pending); // the last 7 bits
  return out;
}

bool Equal(const TFe& f, const TFe& g) {
  return ToBytes(f) == ToBytes(g);
}

bool IsOdd(const TFe& f) {
  return (ToBytes(f)[0] & 1) != 0;
}

// 2^n - c as a 32-byte little-endian exponent, for 8 <= n <= 256 and
// 1 <= c <= 256: n one bits, less c - 1 in the lowest byte.
TBytes32 TwoToTheMinus(int n, int c) {
  TBytes32 e{};
  for (int bit = 0; bit < n; ++bit)
    e[bit / 8] = static_cast<uint8_t>(e[bit / 8] | 1 << (bit % 8));
  e[0] = static_cast<uint8_t>(0xff - (c - 1));
  return e;
}

// Four bits of the exponent at a time, from the top.
TFe Power(const TFe& x, const TBytes32& exponent) {
  std::array<TFe, 16> powers;
  powers[0] = Small(1);
  for (size_t i = 1; i < powers.size(); ++i)
    powers[i] = Mul(powers[i - 1], x);
  TFe r = Small(1);
  for (int n = 63; n >= 0; --n) {
    for (int i = 0; i < 4; ++i)
      r = Square(r);
    if (const int nibble = exponent[n / 2] >> (4 * (n % 2)) & 15; nibble != 0)
      r = Mul(r, powers[nibble]);
  }
  return r;
}

// x^(p - 2) = 1 / x by Fermat; 0 for 0.
TFe Invert(const TFe& x) {
  return Power(x, TwoToTheMinus(255, 21));
}

// d = -121665 / 121666.
const TFe& CurveD() {
  static const TFe d = Mul(Neg(Small(121665)), Invert(Small(121666)));
  return d;
}

// 2^((p - 1) / 4), a square root of -1.
const TFe& SqrtMinusOne() {
  static const TFe root = Power(Small(2), TwoToTheMinus(253, 5));
  return root;
}

// ----- Points in extended coordinates: x = X/Z, y = Y/Z, xy = T/Z -----

struct TPoint {
  TFe x, y, z, t;
};

TPoint Identity() {
  return {TFe{}, Small(1), Small(1), TFe{}};
}

// The addition of section 5.1.4. It is complete on this curve: it also
// adds a point to itself and to the identity.
TPoint Add(const TPoint& p, const TPoint& q) {
  static const TFe twoD = Add(CurveD(), CurveD());
  const TFe a = Mul(Sub(p.y, p.x), Sub(q.y, q.x));
  const TFe b = Mul(Add(p.y, p.x), Add(q.y, q.x));
  const TFe c = Mul(Mul(p.t, twoD), q.t);
  const TFe zz = Mul(p.z, q.z);
  const TFe d = Add(zz, zz);
  const TFe e = Sub(b, a);
  const TFe f = Sub(d, c);
  const TFe g = Add(d, c);
  const TFe h = Add(b, a);
  return {Mul(e, f), Mul(g, h), Mul(f, g), Mul(e, h)};
}

// The doubling of section 5.1.4, two multiplications cheaper than adding
// the point to itself.
TPoint Double(const TPoint& p) {
  const TFe a = Square(p.x);
  const TFe b = Square(p.y);
  const TFe zz = Square(p.z);
  const TFe c = Add(zz, zz);
  const TFe h = Add(a, b);
  const TFe e = Sub(h, Square(Add(p.x, p.y)));
  const TFe g = Sub(a, b);
  const TFe f = Add(c, g);
  return {Mul(e, f), Mul(g, h), Mul(f, g), Mul(e, h)};
}

// [0]P to [15]P, for adding four bits of a scalar at a time.
using TMultiples = std::array<TPoint, 16>;

TMultiples Multiples(const TPoint& p) {
  TMultiples table;
  table[0] = Identity();
  for (size_t i = 1; i < table.size(); ++i)
    table[i] = Add(table[i - 1], p);
  return table;
}

// table[index], read by touching every entry alike.
TPoint Select(const TMultiples& table, size_t index) {
  TPoint r{};
  for (size_t i = 0; i < table.size(); ++i) {
    const int32_t mask = -static_cast<int32_t>(i == index);
    const auto pick = [mask](TFe& to, const TFe& from) {
      for (int n = 0; n < kLimbs; ++n)
        to.limb[n] |= from.limb[n] & mask;
    };
    pick(r.x, table[i].x);
    pick(r.y, table[i].y);
    pick(r.z, table[i].z);
    pick(r.t, table[i].t);
  }
  return r;
}

TPoint Negate(const TPoint& p) {
  return {Neg(p.x), p.y, p.z, Neg(p.t)};
}

// The point with this y whose x has parity `sign` (section 5.1.3, from the
// second step on); nullopt when (y^2 - 1) / (d y^2 + 1) has no square root,
// or when x is 0 and `sign` asks for an odd x.
std::optional<TPoint> FromY(const TFe& y, bool sign) {
  const TFe yy = Square(y);
  const TFe u = Sub(yy, Small(1));
  const TFe v = Add(Mul(CurveD(), yy), Small(1));
  // The candidate root u v^3 (u v^7)^((p - 5) / 8) of u / v.
  const TFe v3 = Mul(Square(v), v);
  const TFe uv7 = Mul(Mul(u, v3), Mul(v3, v));
  TFe x = Mul(Mul(u, v3), Power(uv7, TwoToTheMinus(252, 3)));
  const TFe vxx = Mul(v, Square(x));
  if (!Equal(vxx, u)) {
    if (!Equal(vxx, Neg(u))) return std::nullopt;
    x = Mul(x, SqrtMinusOne());
  }
  if (IsOdd(x) != sign) {
    if (Equal(x, TFe{})) return std::nullopt;
    x = Neg(x);
  }
  return TPoint{x, y, Small(1), Mul(x, y)};
}

std::optional<TPoint> Decode(const TBytes32& s) {
  const TFe y = FromBytes(s);
  TBytes32 withoutSign = s;
  withoutSign[31] &= 0x7f;
  // A y of p or above comes back from its canonical form different.
  if (ToBytes(y) != withoutSign) return std::nullopt;
  return FromY(y, (s[31] & 0x80) != 0);
}

TBytes32 Encode(const TPoint& p) {
  const TFe zInverse = Invert(p.z);
  TBytes32 out = ToBytes(Mul(p.y, zInverse));
  if (IsOdd(Mul(p.x, zInverse))) out[31] |= 0x80;
  return out;
}

// [0]B to [15]B, where B has y = 4/5 and an even x.
const TMultiples& BaseMultiples() {
  static const TMultiples table = Multiples(*FromY(Mul(Small(4), Invert(Small(5))), false));
  return table;
}

// ----- Scalars: 256-bit numbers in eight little-endian 32-bit words -----

using TScalar = std::array<uint32_t, 8>;

// L = 2^252 + 27742317777372353535851937790883648493, the order of B.
constexpr TScalar kOrder = {0x5cf5d3ed, 0x5812631a, 0xa2f79cd6, 0x14def9de,
                            0x00000000, 0x00000000, 0x00000000, 0x10000000};

bool Below(const TScalar& a, const TScalar& b) {
  for (int i = 7; i >= 0; --i)
    if (a[i] != b[i]) return a[i] < b[i];
  return false;
}

// Bits 4n to 4n + 3.
size_t NibbleOf(const TScalar& a, int n) {
  return a[n / 8] >> (4 * (n % 8)) & 15;
}

TScalar ScalarFromBytes(const uint8_t* bytes) {
  TScalar a{};
  for (int i = 0; i < 32; ++i)
    a[i / 4] |= uint32_t{bytes[i]} << (8 * (i % 4));
  return a;
}

// The little-endian 512-bit number modulo L, bit by bit from the top: the
// remainder stays below L, so doubling it and adding a bit stays below 2L
// and below 2^254, and one subtraction brings it back.
TScalar ReduceModOrder(const TSha512Digest& digest) {
  TScalar r{};
  for (int bit = 511; bit >= 0; --bit) {
    uint32_t carry = (digest[bit / 8] >> (bit % 8)) & 1;
    for (uint32_t& word : r) {
      const uint32_t top = word >> 31;
      word = word << 1 | carry;
      carry = top;
    }
    // r - L, kept when it does not go below zero.
    TScalar less{};
    uint64_t borrow = 0;
    for (int i = 0; i < 8; ++i) {
      const uint64_t difference = uint64_t{r[i]} - kOrder[i] - borrow;
      less[i] = static_cast<uint32_t>(difference);
      borrow = difference >> 63;
    }
    const uint32_t keep = static_cast<uint32_t>(borrow) - 1; // all ones when r >= L
    for (int i = 0; i < 8; ++i)
      r[i] = (less[i] & keep) | (r[i] & ~keep);
  }
  return r;
}

TEd25519Scalar ScalarToBytes(const TScalar& a) {
  TEd25519Scalar out{};
  for (int i = 0; i < 32; ++i)
    out[i] = static_cast<uint8_t>(a[i / 4] >> (8 * (i % 4)));
  return out;
}

} // namespace

bool CheckEd25519Equation(const TEd25519PublicKey& publicKey, const TEd25519Signature& signature,
                          const TSha512Digest& digest) {
  const TScalar s = ScalarFromBytes(signature.data() + 32);
  if (!Below(s, kOrder)) return false;
  const std::optional<TPoint> a = Decode(publicKey);
  if (!a) return false;
  const TScalar k = ReduceModOrder(digest);

  // [S]B + [k](-A), both scalars walked together four bits at a time from
  // the top.
  const TMultiples& base = BaseMultiples();
  const TMultiples minusA = Multiples(Negate(*a));
  TPoint sum = Identity();
  for (int n = 63; n >= 0; --n) {
    for (int i = 0; i < 4; ++i)
      sum = Double(sum);
    if (const size_t nibble = NibbleOf(s, n); nibble != 0) sum = Add(sum, base[nibble]);
    if (const size_t nibble = NibbleOf(k, n); nibble != 0) sum = Add(sum, minusA[nibble]);
  }
  TBytes32 r{};
  std::copy_n(signature.begin(), r.size(), r.begin());
  return Encode(sum) == r;
}

TEd25519Scalar Ed25519BaseMultiple(const TEd25519Scalar& s) {
  const TScalar scalar = ScalarFromBytes(s.data());
  const TMultiples& base = BaseMultiples();
  TPoint sum = Identity();
  for (int n = 63; n >= 0; --n) {
    for (int i = 0; i < 4; ++i)
      sum = Double(sum);
    // The addition is complete, so adding [0]B (the identity) is an
    // addition like the others.
    sum = Add(sum, Select(base, NibbleOf(scalar, n)));
  }
  return Encode(sum);
}

TEd25519Scalar Ed25519ReduceDigest(const TSha512Digest& digest) {
  return ScalarToBytes(ReduceModOrder(digest));
}

TEd25519Scalar Ed25519MultiplyAdd(const TEd25519Scalar& a, const TEd25519Scalar& b,
                                  const TEd25519Scalar& c) {
  const TScalar x = ScalarFromBytes(a.data());
  const TScalar y = ScalarFromBytes(b.data());
  const TScalar z = ScalarFromBytes(c.data());
  // The 512-bit sum in 32-bit words; a, b < 2^255 leave room for c.
  std::array<uint32_t, 16> words{};
  for (int i = 0; i < 8; ++i)
    words[i] = z[i];
  for (int i = 0; i < 8; ++i) {
    uint64_t carry = 0;
    for (int j = 0; j < 8; ++j) {
      const uint64_t t = uint64_t{x[i]} * y[j] + words[i + j] + carry;
      words[i + j] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    for (int k = i + 8; k < 16; ++k) {
      const uint64_t t = uint64_t{words[k]} + carry;
      words[k] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
  }
  TSha512Digest wide{};
  for (int i = 0; i < 64; ++i)
    wide[i] = static_cast<uint8_t>(words[i / 4] >> (8 * (i % 4)));
  return ScalarToBytes(ReduceModOrder(wide));
}

} // namespace platform
