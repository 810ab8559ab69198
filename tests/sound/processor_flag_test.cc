// SPDX-License-Identifier: BSD-2-Clause
// The movie's "no processor extensions" open flag reaches its sound tracks'
// decoders as well as the picture's.
#include <gtest/gtest.h>

#include "audio/audio_decoder.h"
#include "base/processor.h"
#include "movie/movie_api.h"
#include "sound/sound_drivers.h"
#include "sound/sound_system.h"
#include "sound/sound_track.h"
#include "sound_test_support.h"

namespace kivo {
namespace {

struct ProcessorFlag : test::VirtualSoundTest {};

TEST_F(ProcessorFlag, RefusingExtensionsKeepsTheAudioDecoderPlain) {
  ASSERT_EQ(SetSoundSystem(SelectWaveOutDriver, nullptr), 1);
  const test::SoundMovie sm = test::MakeSoundMovie(4);
  for (uint32_t refuse : {0u, kNoProcessorExtensions}) {
    Movie* m = OpenMovie(sm.bytes.data(), kOpenMemory | refuse);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->openTrackCount, 1u);
    EXPECT_EQ(m->soundTracks[0].decoder->features, refuse ? 0u : CpuFeatures()) << refuse;
    CloseMovie(m);
  }
}

}  // namespace
}  // namespace kivo
