// SPDX-License-Identifier: BSD-2-Clause
// A sound device of this file's own, added to the list from here alone, as a
// new device would be: the device contract runs over it, it is chosen by its
// name, and a track tries it in turn when the device before it cannot be
// opened. It offers the virtual device's two layers under a name of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "movie/movie_api.h"
#include "sound/sound_device.h"
#include "sound/sound_system.h"
#include "sound/sound_test_support.h"
#include "sound/sound_track.h"

namespace kivo {
namespace {

// Chosen by name only, until a test lets it be tried in turn.
SoundDeviceEntry newcomer = {"newcomer", kSoundDeviceOnDemand, nullptr, nullptr};

const bool added = [] {
  const SoundDeviceEntry* virtualDevice = FindSoundDevice("virtual");
  newcomer.queue = virtualDevice->queue;
  newcomer.loop = virtualDevice->loop;
  return AddSoundDevice(&newcomer) == 1;
}();

TEST(NewcomerDevice, TheContractAndTheNamesTakeItUp) {
  ASSERT_TRUE(added);
  EXPECT_EQ(AddSoundDevice(&newcomer), 0) << "its name is taken now";
  bool listed = false;
  for (uint32_t i = 0; const char* name = GetSoundDeviceName(i); ++i) listed |= std::string(name) == "newcomer";
  EXPECT_TRUE(listed);
  ASSERT_EQ(UseSoundDevice("newcomer"), 1);
  EXPECT_EQ(CurrentQueueDevice(), newcomer.queue);
  EXPECT_EQ(UseSoundDevice(nullptr), 1);
  EXPECT_NE(CurrentQueueDevice(), newcomer.queue) << "a device on demand is never tried in turn";
  bool contract = false;
  const ::testing::UnitTest& all = *::testing::UnitTest::GetInstance();
  for (int i = 0; i < all.total_test_suite_count(); ++i) {
    const ::testing::TestSuite& suite = *all.GetTestSuite(i);
    for (int j = 0; j < suite.total_test_count(); ++j)
      contract |= std::string(suite.name()) == "EveryDevice/QueueContract" &&
                  std::string(suite.GetTestInfo(j)->name()).ends_with("/newcomer");
  }
  EXPECT_TRUE(contract);
}

#if defined(KIVO_HAVE_SDL) && !defined(_WIN32)
// SDL's device, first in the list, cannot be opened without an audio
// driver: each driver's track opens on the next device instead.
struct WithoutSdlAudio {
  WithoutSdlAudio() {
    newcomer.capabilities = 0;
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    setenv("SDL_AUDIO_DRIVER", "no-such-driver", 1);
  }
  ~WithoutSdlAudio() {
    ResetSoundSystem();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("SDL_AUDIO_DRIVER", "dummy", 1);
    newcomer.capabilities = kSoundDeviceOnDemand;
  }
};

TEST(NewcomerDevice, ATrackTriesItWhenTheDeviceBeforeCannotBeOpened) {
  const WithoutSdlAudio scope;
  const test::SoundMovie movie = test::MakeSoundMovie(5);
  for (const bool queue : {true, false}) {
    ResetSoundSystem();
    ASSERT_EQ(SetSoundSystem(queue ? SelectBufferQueueDriver : SelectLoopingBufferDriver, nullptr), 1) << queue;
    Movie* m = OpenMovie(movie.bytes.data(), kOpenMemory);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->openTrackCount, 1u) << queue;
    const SoundTrack& t = m->soundTracks[0];
    EXPECT_EQ(queue ? static_cast<const void*>(t.state.queue.device) : t.state.loop.device,
              queue ? static_cast<const void*>(newcomer.queue) : newcomer.loop);
    CloseMovie(m);
  }
}
#endif

}  // namespace
}  // namespace kivo
