// SPDX-License-Identifier: BSD-2-Clause
// Helpers of the sound tests.
#include "sound_test_support.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "audio/audio_decoder.h"
#include "encode/audio_encoder.h"
#include "encode/container_writer.h"
#include "sound/sound_device.h"
#include "sound/sound_system.h"
#include "support/virtual_clock.h"

namespace kivo::test {

HandMovie::HandMovie(const std::vector<TrackSpec>& tracks, uint32_t frames, uint32_t rateNum, uint32_t rateDen,
                     uint32_t recordCount)
    : movie(new Movie()) {
  const size_t n = tracks.size();
  const size_t count = std::max<size_t>({n, recordCount, 1});
  records.assign(count, SoundTrack{});
  selected.assign(count, 0);
  for (const TrackSpec& t : tracks) {
    maxBytes.push_back(t.maxBytes);
    words.push_back(t.audioWord);
    ids.push_back(t.id);
  }
  Movie* m = movie.get();
  m->frameCount = frames;
  m->playRateNum = m->fileRateNum = rateNum;
  m->playRateDen = m->fileRateDen = rateDen;
  m->currentFrame = 1;
  m->trackCount = static_cast<uint32_t>(n);
  m->trackMaxBytes = maxBytes.data();
  m->trackAudioWords = words.data();
  m->trackIds = ids.data();
  m->soundTracks = records.data();
  m->selectedTracks = selected.data();
  m->requestedTracks = static_cast<uint32_t>(records.size());
}

bool HandMovie::Open(uint32_t i, SoundOpenFunction open, uint32_t rate, uint32_t bits, uint32_t channels,
                     uint32_t ringSize) {
  SoundTrack& t = records.at(i);
  if (!open(&t, rate, bits, channels, 0, movie.get())) return false;
  rings.resize(records.size());
  rings[i].assign(ringSize, 0xEE);
  t.ringSize = ringSize;
  t.ringStart = t.ringRead = t.ringWrite = rings[i].data();
  t.ringEnd = t.ringStart + ringSize;
  t.eightBit = bits == 8;
  if (!t.alignMask) t.alignMask = 0xFFFFFFFFu;
  const uint32_t zone = movie->fileRateNum * 3 / (movie->fileRateDen * 4);
  t.endZoneFrame = static_cast<int32_t>(movie->frameCount - zone);
  t.prefillBytes = rate * channels * 2 * 750 / 1000 & ~3u;
  if (t.prefillBytes > ringSize) t.prefillBytes = ringSize;
  if (movie->openTrackCount < i + 1) movie->openTrackCount = i + 1;
  movie->soundOn = 1;
  return true;
}

void HandMovie::Append(uint32_t i, const std::vector<uint8_t>& bytes) {
  AppendPcm(&records.at(i), bytes.data(), static_cast<uint32_t>(bytes.size()));
}

void HandMovie::Close() {
  for (uint32_t i = 0; i < movie->openTrackCount; ++i)
    if (records[i].ops.SoundClose) records[i].ops.SoundClose(&records[i]);
  movie->openTrackCount = 0;
}

namespace {

void Record(void* context, uint32_t device, const uint8_t* bytes, uint32_t count, double heardMs, double perMs) {
  Capture* c = static_cast<Capture*>(context);
  std::lock_guard<std::mutex> g(c->lock);
  std::vector<uint8_t>& v = c->bytes[device];
  // The library clock wraps at 2^32 ms: times are kept on from there.
  if (c->lastHeardMs < 0) c->lastHeardMs = heardMs;
  while (heardMs < c->lastHeardMs - 2147483648.0) heardMs += 4294967296.0;
  while (heardMs > c->lastHeardMs + 2147483648.0) heardMs -= 4294967296.0;
  c->lastHeardMs = heardMs;
  c->runs[device].push_back({v.size(), heardMs, perMs});
  v.insert(v.end(), bytes, bytes + count);
}

}  // namespace

void Capture::Attach() { SetVirtualSink(Record, this); }

std::vector<uint8_t> Capture::Played(uint32_t device) {
  AdvanceVirtualDevices();
  std::lock_guard<std::mutex> g(lock);
  return bytes[device];
}

double Capture::HeardAt(uint32_t device, size_t offset) {
  std::lock_guard<std::mutex> g(lock);
  const std::vector<Run>& r = runs[device];
  auto it = std::upper_bound(r.begin(), r.end(), offset, [](size_t o, const Run& run) { return o < run.at; });
  if (it == r.begin()) return 0;
  --it;
  return it->heardMs + double(offset - it->at) / it->bytesPerMs;
}

std::vector<uint8_t> Pattern(uint32_t bytes, uint32_t seed) {
  std::vector<uint8_t> out(bytes);
  for (uint32_t i = 0; i + 1 < bytes; i += 2) {
    // An odd multiplier permutes 16-bit values, so that 65536 samples differ.
    uint16_t v = static_cast<uint16_t>((i / 2 + seed) * 40503u);
    if (v == 0) v = 1;
    out[i] = static_cast<uint8_t>(v);
    out[i + 1] = static_cast<uint8_t>(v >> 8);
  }
  return out;
}

int64_t Find(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle) {
  if (needle.empty() || needle.size() > hay.size()) return -1;
  // Needles open with long runs of silence: compared from their end.
  const auto at = std::search(hay.begin(), hay.end(), std::boyer_moore_horspool_searcher(needle.begin(), needle.end()));
  return at == hay.end() ? -1 : int64_t(at - hay.begin());
}

bool AllZero(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
  for (size_t i = from; i < to && i < bytes.size(); ++i)
    if (bytes[i]) return false;
  return to <= bytes.size();
}

namespace {

// 22050 Hz stereo DCT blocks give 3840 bytes, 960 sample frames: at 735/32
// frames per second one block is exactly one frame.
constexpr uint32_t kTrackWord = 0x70005622;
constexpr uint32_t kBlockBytes = 3840;
constexpr uint32_t kLeadBlocks = 8;

void Collect(void* context, const int16_t* samples, uint32_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(samples);
  out->insert(out->end(), p, p + n);
}

}  // namespace

SoundMovie MakeSoundMovie(uint32_t frames) {
  encode::MovieLayout layout;
  layout.width = 64;
  layout.height = 48;
  layout.rateNum = 735;
  layout.rateDen = 32;
  layout.tracks.push_back({kTrackWord, 0, 0});
  std::vector<encode::FramePacket> packets(frames);
  AudioDecoder* decoder = OpenAudioDecoder(22050, 2, 1);
  SoundMovie movie;
  for (uint32_t f = 0; f < frames; ++f) {
    encode::FramePacket& p = packets[f];
    p.key = f % 10 == 0;
    p.video.assign(200, static_cast<uint8_t>(f));
    const uint32_t blocks = f == 0 ? kLeadBlocks : 1;
    std::vector<uint8_t> audio = Pattern(4 + blocks * 240, f + 3);
    const uint32_t decoded = blocks * kBlockBytes;
    for (int b = 0; b < 4; ++b) audio[b] = static_cast<uint8_t>(decoded >> (8 * b));
    movie.frameStart.push_back(movie.pcm.size());
    DecodeAudioChunk(decoder, audio.data(), static_cast<uint32_t>(audio.size()), Collect, &movie.pcm);
    p.audio.push_back(audio);
  }
  CloseAudioDecoder(decoder);
  movie.bytes = encode::BuildMovie(layout, packets);
  return movie;
}

SyncMovie MakeSyncMovie(uint32_t frames, const std::vector<uint32_t>& sound) {
  constexpr uint32_t kRate = 22050, kFrameSamples = 960;
  encode::MovieLayout layout;
  layout.width = 64;
  layout.height = 48;
  layout.rateNum = 735;
  layout.rateDen = 32;
  SyncMovie movie;
  std::vector<encode::FramePacket> packets(frames);
  for (uint32_t t = 0; t < sound.size(); ++t) {
    encode::AudioTrackSettings settings;
    settings.rate = kRate;
    settings.channels = 2;
    settings.mode = encode::AudioMode::kDct;
    encode::AudioEncoder encoder;
    std::string error;
    if (!encode::OpenAudioEncoder(encoder, settings, layout.rateNum, layout.rateDen, &error)) ADD_FAILURE() << error;
    layout.tracks.push_back({encode::AudioTrackWord(settings), t});
    std::vector<int16_t> noise(size_t(sound[t]) * kFrameSamples * 2);
    uint32_t state = 12345 + t * 777;
    for (int16_t& v : noise) {
      state = state * 1664525u + 1013904223u;
      v = static_cast<int16_t>(static_cast<int32_t>(state >> 16) % 12000 - 6000);
    }
    encode::AddAudioInput(encoder, noise.data(), static_cast<uint32_t>(noise.size() / 2));
    encode::EndAudioInput(encoder);
    AudioDecoder* decoder = OpenAudioDecoder(kRate, 2, 1);
    movie.pcm.emplace_back();
    for (uint32_t f = 0; f < frames; ++f) {
      std::vector<uint8_t> audio;
      if (!encode::EncodeAudioFrame(encoder, audio, &error)) ADD_FAILURE() << error;
      if (!audio.empty())
        DecodeAudioChunk(decoder, audio.data(), static_cast<uint32_t>(audio.size()), Collect, &movie.pcm[t]);
      packets[f].audio.push_back(audio);
    }
    CloseAudioDecoder(decoder);
  }
  for (uint32_t f = 0; f < frames; ++f) {
    packets[f].key = f % 10 == 0;
    packets[f].video.assign(200, static_cast<uint8_t>(f));
  }
  movie.bytes = encode::BuildMovie(layout, packets);
  return movie;
}

void VirtualSoundTest::SetUp() {
  UseVirtualClock();
  ResetVirtualSound();
  ResetSoundSystem();
  UseSoundDevice("virtual");
  capture.Attach();
}

void VirtualSoundTest::TearDown() {
  SetVirtualSink(nullptr, nullptr);
  UseSoundDevice(nullptr);
  ResetSoundSystem();
  ResetVirtualSound();
  UsePlatformClock();
}

}  // namespace kivo::test
