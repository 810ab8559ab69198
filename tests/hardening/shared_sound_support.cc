// SPDX-License-Identifier: BSD-2-Clause
// The sound tests' helpers (virtual devices, capture, sound movies), built
// into this binary too so that both suites drive sound the same way.
#include "sound/sound_test_support.cc"
