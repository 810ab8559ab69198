// SPDX-License-Identifier: BSD-2-Clause
// The eight-point transform's flow graph over a vector of 32-bit lanes, for
// the SIMD inverse DCTs. Each SIMD file includes it inside an anonymous
// namespace after defining its vector operations, so that every
// instantiation stays local to an object built with that file's extension
// (a shared inline copy could serve callers on processors without it).
//
// Ops: a type V and static Add(a, b), Sub(a, b) and M(c, x) = (x * c) >> 11,
// each lane wrapping at 32 bits with the shift sign-propagating.

// The last stage of the transform: the even part's sums (a0 +- a2, a1 +- t)
// against the odd part's terms.
template <typename Ops>
inline __attribute__((always_inline)) void Outputs(typename Ops::V s02, typename Ops::V d02,
                                                   typename Ops::V s1t, typename Ops::V d1t,
                                                   typename Ops::V b0, typename Ops::V b2,
                                                   typename Ops::V b3, typename Ops::V b4,
                                                   typename Ops::V o[8]) {
  o[0] = Ops::Add(s02, b0);
  o[7] = Ops::Sub(s02, b0);
  o[1] = Ops::Add(s1t, b2);
  o[6] = Ops::Sub(s1t, b2);
  o[2] = Ops::Add(d1t, b3);
  o[5] = Ops::Sub(d1t, b3);
  o[3] = Ops::Sub(d02, b4);
  o[4] = Ops::Add(d02, b4);
}

// The eight-point transform, lane by lane; e and o may be the same array.
template <typename Ops>
inline __attribute__((always_inline)) void Transform8(const typename Ops::V e[8],
                                                      typename Ops::V o[8]) {
  using V = typename Ops::V;
  V a0 = Ops::Add(e[0], e[4]), a1 = Ops::Sub(e[0], e[4]);
  V a2 = Ops::Add(e[2], e[6]);
  V t = Ops::Sub(Ops::M(2896, Ops::Sub(e[2], e[6])), a2);
  V a4 = Ops::Add(e[5], e[3]), a5 = Ops::Sub(e[5], e[3]);
  V a6 = Ops::Add(e[1], e[7]), a7 = Ops::Sub(e[1], e[7]);
  V b0 = Ops::Add(a4, a6);
  V b1 = Ops::M(3784, Ops::Add(a5, a7));
  V b2 = Ops::Add(Ops::Sub(Ops::M(-5352, a5), b0), b1);
  V b3 = Ops::Sub(Ops::M(2896, Ops::Sub(a6, a4)), b2);
  V b4 = Ops::Add(Ops::Sub(Ops::M(2217, a7), b1), b3);
  Outputs<Ops>(Ops::Add(a0, a2), Ops::Sub(a0, a2), Ops::Add(a1, t), Ops::Sub(a1, t), b0, b2, b3, b4,
               o);
}

// Transform8 for inputs 2 to 7 all zero, with the terms they would add left
// out (M of 0 is 0, so every output is the same).
template <typename Ops>
inline __attribute__((always_inline)) void Transform8FirstTwo(typename Ops::V o[8]) {
  using V = typename Ops::V;
  V e0 = o[0], e1 = o[1];
  V b1 = Ops::M(3784, e1);
  V b2 = Ops::Sub(b1, e1);
  V b3 = Ops::Sub(Ops::M(2896, e1), b2);
  V b4 = Ops::Add(Ops::Sub(Ops::M(2217, e1), b1), b3);
  Outputs<Ops>(e0, e0, e0, e0, e1, b2, b3, b4, o);
}
