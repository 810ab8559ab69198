// SPDX-License-Identifier: BSD-2-Clause
// Forced into every file of the WebAssembly build: the C++20 library pieces
// that Emscripten 3.1's libc++ lacks and the library uses.
#pragma once

#include <version>

#if !defined(__cpp_lib_bit_cast)
#include <type_traits>
namespace std {
template <class To, class From>
  requires(sizeof(To) == sizeof(From) && is_trivially_copyable_v<To> && is_trivially_copyable_v<From>)
constexpr To bit_cast(const From& from) noexcept {
  return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif

#if !defined(__cpp_lib_atomic_ref)
#include <atomic>
namespace std {
// The operations the library uses, on the compiler's atomic builtins (whose
// order constants libc++'s memory_order takes its values from).
template <class T>
class atomic_ref {
 public:
  explicit atomic_ref(T& value) : p_(&value) {}
  T load(memory_order order = memory_order_seq_cst) const { return __atomic_load_n(p_, int(order)); }
  void store(T v, memory_order order = memory_order_seq_cst) const { __atomic_store_n(p_, v, int(order)); }
  T fetch_or(T v, memory_order order = memory_order_seq_cst) const { return __atomic_fetch_or(p_, v, int(order)); }
  T fetch_and(T v, memory_order order = memory_order_seq_cst) const { return __atomic_fetch_and(p_, v, int(order)); }
  T fetch_add(T v, memory_order order = memory_order_seq_cst) const { return __atomic_fetch_add(p_, v, int(order)); }

 private:
  T* p_;
};
}  // namespace std
#endif
