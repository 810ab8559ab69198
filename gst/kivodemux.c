// SPDX-License-Identifier: BSD-2-Clause
/* kivodemux: a Kivo file into one video stream (each packet's video data)
 * and one stream per playable sound track (its chunks), timed from the frame
 * rate and the tracks' byte counts, key frames marked. Pulls from a seekable
 * source (seeking in time or by frame to the key frame at or before the
 * target, the sound carried over exactly), and takes pushed data in order
 * otherwise (a seek then asks upstream for the bytes from the first packet
 * and counts its way to the key frame). */
#include <string.h>

#include <gst/base/gstadapter.h>
#include <gst/base/gstflowcombiner.h>

#include "gstkivo.h"
#include "kivo/kivo_dec.h"

GST_DEBUG_CATEGORY_STATIC(kivo_demux_debug);
#define GST_CAT_DEFAULT kivo_demux_debug

#define MAX_TRACKS 32
/* Push mode: a seek point every PUSH_STEP frames. */
#define PUSH_STEP 64

/* What a seek asks for: the key frame where decoding starts, the time where
 * the segment starts, and the last frame that starts before its stop. */
typedef struct {
  guint32 seqnum;
  gdouble rate;
  GstSeekFlags flags;
  uint32_t key, last;
  GstClockTime start;
  uint32_t resume, point; /* push mode: the frame read again from, and the seek point used */
} SeekPlan;

typedef struct {
  GstPad* pad;
  uint32_t index;           /* in the file's track table */
  uint32_t number;          /* in the pad's name: the track id, unless another track has it */
  uint32_t bytesPerSecond;  /* of the decoded sound */
  uint32_t maxBytes;        /* the most one chunk decodes to, by the track table */
  guint64 bytes;            /* decoded bytes before the next chunk */
  GstClockTime covered;     /* the stream's time sent so far, by sound or gaps */
  gboolean discont;
  GByteArray* carry;        /* push mode, after a seek: the chunk carrying the sound over */
  uint32_t carryFrame;      /* push mode: the last frame whose chunk decoded sound */
} AudioStream;

struct _GstKivoDemux {
  GstElement parent;
  GstPad* sinkpad;
  GstPad* videopad;
  AudioStream audio[MAX_TRACKS];
  guint audioCount;
  GstFlowCombiner* combiner;

  KivoMovie* movie;
  KivoMovieInfo info;
  gboolean pull;
  guint64 readOffset; /* pull mode: where the C API's reads stand */
  GstFlowReturn pullFlow; /* pull mode: the last pull's answer */
  uint32_t nextFrame;
  uint32_t lastFrame; /* the segment's end */
  GstSegment segment;
  gboolean needSegment;
  gboolean videoDiscont;
  gboolean primeAudio; /* after a seek: send each track's carrying chunk first */
  guint32 seqnum;
  gboolean seekDone; /* the seek of `seqnum` has been done */

  /* Push mode. */
  GstAdapter* adapter;
  guint64 adapterOffset; /* file offset of the adapter's first byte */
  guint8* tables;        /* the header and tables, which the movie reads in place */
  uint32_t skipUntil;    /* after a seek: frames before this one only count their sound */
  uint32_t countFrom;    /* after a seek: frames before this one only keep their chunks */
  /* Seek points learnt as the packets pass (under the object lock): every
   * PUSH_STEP frames, each sound stream's bytes before the frame and the
   * frame whose chunk carries its sound into it, so that a seek asks
   * upstream for the data from there rather than from the first packet. */
  guint64* stepBytes; /* point j, stream i at j * audioCount + i */
  uint32_t* stepCarry;
  uint32_t stepsKnown;
  gboolean seekPending;  /* a seek waits for upstream's flush (object lock) */
  SeekPlan pendingSeek;
};

G_DEFINE_TYPE(GstKivoDemux, gst_kivo_demux, GST_TYPE_ELEMENT)

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(KIVO_FILE_CAPS));
static GstStaticPadTemplate video_template =
    GST_STATIC_PAD_TEMPLATE("video_%u", GST_PAD_SRC, GST_PAD_SOMETIMES, GST_STATIC_CAPS(KIVO_VIDEO_CAPS));
static GstStaticPadTemplate audio_template =
    GST_STATIC_PAD_TEMPLATE("audio_%u", GST_PAD_SRC, GST_PAD_SOMETIMES, GST_STATIC_CAPS(KIVO_AUDIO_CAPS));

/* ---- Reading through the C API's callbacks (pull mode) -------------------- */

static int64_t pull_read(void* opaque, void* buffer, size_t size) {
  GstKivoDemux* self = opaque;
  GstBuffer* got = NULL;
  self->pullFlow = gst_pad_pull_range(self->sinkpad, self->readOffset, (guint)size, &got);
  if (self->pullFlow != GST_FLOW_OK) return -1;
  gsize n = gst_buffer_extract(got, 0, buffer, size);
  gst_buffer_unref(got);
  self->readOffset += n;
  return (int64_t)n;
}

static int32_t pull_seek(void* opaque, uint64_t offset) {
  ((GstKivoDemux*)opaque)->readOffset = offset;
  return 0;
}

static int64_t pull_size(void* opaque) {
  GstKivoDemux* self = opaque;
  gint64 size = -1;
  if (!gst_pad_peer_query_duration(self->sinkpad, GST_FORMAT_BYTES, &size)) return -1;
  return size;
}

static const KivoIo pull_io = {pull_read, pull_seek, pull_size};

/* ---- Streams --------------------------------------------------------------- */

static GstClockTime frame_time(GstKivoDemux* self, uint32_t frame) {
  return (GstClockTime)kivo_movie_frame_time(self->movie, frame);
}

static GstClockTime audio_time(const AudioStream* a, guint64 bytes) {
  return a->bytesPerSecond ? gst_util_uint64_scale(bytes, GST_SECOND, a->bytesPerSecond) : 0;
}

/* A pad that cannot be added is freed by GStreamer and never used again:
 * the caller posts the error. `codec` names the stream's coding in its tags,
 * after the container's name. */
static gboolean add_stream(GstKivoDemux* self, GstPad* pad, GstCaps* caps, const gchar* stream, const gchar* codecTag,
                           const gchar* codec) {
  gst_pad_use_fixed_caps(pad);
  gst_pad_set_active(pad, TRUE);
  gchar* id = gst_pad_create_stream_id(pad, GST_ELEMENT(self), stream);
  GstEvent* start = gst_event_new_stream_start(id);
  gst_event_set_group_id(start, 1);
  gst_pad_push_event(pad, start);
  g_free(id);
  gst_pad_set_caps(pad, caps);
  gst_caps_unref(caps);
  GstTagList* tags = gst_tag_list_new(GST_TAG_CONTAINER_FORMAT, "Kivo", codecTag, codec, NULL);
  gst_tag_list_set_scope(tags, GST_TAG_SCOPE_STREAM);
  gst_pad_push_event(pad, gst_event_new_tag(tags));
  if (!gst_element_add_pad(GST_ELEMENT(self), pad)) return FALSE;
  gst_flow_combiner_add_pad(self->combiner, pad);
  return TRUE;
}

static gboolean src_event(GstPad* pad, GstObject* parent, GstEvent* event);
static gboolean src_query(GstPad* pad, GstObject* parent, GstQuery* query);

/* The frame rate as caps and timestamps can carry it: both terms positive
 * gints, and a frame no longer than an hour. */
static gboolean rate_is_sane(const KivoMovieInfo* info) {
  return info->rate_num > 0 && info->rate_den > 0 && info->rate_num <= G_MAXINT && info->rate_den <= G_MAXINT &&
         (guint64)info->rate_den <= (guint64)info->rate_num * 3600;
}

/* Track ids may repeat: a repeated id's pad takes the next number no track
 * of the file uses, so that every pad has a name of its own. */
static guint audio_pad_number(GstKivoDemux* self, uint32_t id, uint32_t* spare) {
  for (guint i = 0; i < self->audioCount; ++i)
    if (self->audio[i].number == id) return (*spare)++;
  return id;
}

/* Makes the pads once the movie is open; FALSE (the error posted) when the
 * movie cannot be played. */
static gboolean expose(GstKivoDemux* self) {
  kivo_movie_info(self->movie, &self->info);
  if (!rate_is_sane(&self->info)) {
    GST_ELEMENT_ERROR(self, STREAM, DEMUX, ("The frame rate of this Kivo file (%u/%u) is damaged.",
                                            self->info.rate_num, self->info.rate_den),
                      (NULL));
    return FALSE;
  }
  self->lastFrame = self->info.frame_count;
  self->nextFrame = 1;
  gst_segment_init(&self->segment, GST_FORMAT_TIME);
  self->segment.duration = self->info.duration_ns;
  self->needSegment = TRUE;

  KivoVideoParams params;
  kivo_movie_video_params(self->movie, &params);
  self->videopad = gst_pad_new_from_static_template(&video_template, "video_0");
  gst_pad_set_event_function(self->videopad, src_event);
  gst_pad_set_query_function(self->videopad, src_query);
  /* The decoder's parameters travel whole, the choices the library made for
   * this movie (decoder-options) included. */
  GstCaps* caps = gst_caps_new_simple(KIVO_VIDEO_CAPS, "width", G_TYPE_INT, (gint)self->info.width, "height",
                                      G_TYPE_INT, (gint)self->info.height, "framerate", GST_TYPE_FRACTION,
                                      (gint)self->info.rate_num, (gint)self->info.rate_den, "revision", G_TYPE_INT,
                                      (gint)params.revision, "video-flags", G_TYPE_INT,
                                      (gint)(params.video_flags & 0x120000u), "decoder-options", G_TYPE_UINT,
                                      (guint)params.options, "display-mode", G_TYPE_INT,
                                      (gint)self->info.display_mode, NULL);
  if (!add_stream(self, self->videopad, caps, "video", GST_TAG_VIDEO_CODEC, "Kivo video")) {
    self->videopad = NULL; /* freed by the failed add */
    GST_ELEMENT_ERROR(self, CORE, PAD, ("The video stream of this Kivo file cannot be added."), (NULL));
    return FALSE;
  }

  uint32_t spare = 0;
  for (uint32_t i = 0; i < self->info.track_count; ++i) {
    KivoTrackInfo track;
    kivo_movie_track(self->movie, i, &track);
    if (track.id >= spare) spare = track.id + 1;
  }
  for (uint32_t i = 0; i < self->info.track_count && self->audioCount < MAX_TRACKS; ++i) {
    KivoTrackInfo track;
    kivo_movie_track(self->movie, i, &track);
    if (!track.playable || track.sample_rate == 0) continue;
    AudioStream* a = &self->audio[self->audioCount];
    a->number = audio_pad_number(self, track.id, &spare);
    gchar* name = g_strdup_printf("audio_%u", a->number);
    a->pad = gst_pad_new_from_static_template(&audio_template, name);
    g_free(name);
    a->index = i;
    a->bytesPerSecond = track.sample_rate * track.channels * 2;
    a->maxBytes = track.max_bytes;
    a->bytes = 0;
    a->covered = 0;
    a->discont = TRUE;
    gst_pad_set_event_function(a->pad, src_event);
    gst_pad_set_query_function(a->pad, src_query);
    caps = gst_caps_new_simple(KIVO_AUDIO_CAPS, "rate", G_TYPE_INT, (gint)track.sample_rate, "channels", G_TYPE_INT,
                               (gint)track.channels, "audio-word", G_TYPE_UINT, (guint)track.audio_word, "track-id",
                               G_TYPE_UINT, (guint)track.id, NULL);
    gchar* stream = g_strdup_printf("audio-%u", a->number);
    const gboolean added = add_stream(self, a->pad, caps, stream, GST_TAG_AUDIO_CODEC,
                                      track.coding == KIVO_CODING_DCT ? "Kivo audio (DCT)" : "Kivo audio (RDFT)");
    g_free(stream);
    if (!added) {
      a->pad = NULL; /* freed by the failed add */
      GST_ELEMENT_ERROR(self, CORE, PAD, ("Sound track %u of this Kivo file cannot be added.", track.id), (NULL));
      return FALSE;
    }
    a->carry = g_byte_array_new();
    self->audioCount++;
  }
  if (!self->pull && self->audioCount) {
    const gsize points = self->info.frame_count / PUSH_STEP + 1;
    self->stepBytes = g_new0(guint64, points * self->audioCount);
    self->stepCarry = g_new0(uint32_t, points * self->audioCount);
  }
  gst_element_no_more_pads(GST_ELEMENT(self));
  return TRUE;
}

static void push_to_all(GstKivoDemux* self, GstEvent* event) {
  if (self->videopad) gst_pad_push_event(self->videopad, gst_event_ref(event));
  for (guint i = 0; i < self->audioCount; ++i) gst_pad_push_event(self->audio[i].pad, gst_event_ref(event));
  gst_event_unref(event);
}

static uint32_t chunk_bytes(const AudioStream* a, const uint8_t* chunk, uint32_t size) {
  return kivo_track_chunk_bytes(a->maxBytes, chunk, size);
}

/* A damaged packet can leave a stream nothing: an empty buffer then. */
static GstBuffer* copy_bytes(const uint8_t* data, uint32_t size) {
  return size && data ? gst_buffer_new_memdup(data, size) : gst_buffer_new();
}

static void send_segment(GstKivoDemux* self) {
  if (!self->needSegment) return;
  GstEvent* seg = gst_event_new_segment(&self->segment);
  if (self->seqnum) gst_event_set_seqnum(seg, self->seqnum);
  push_to_all(self, seg);
  self->needSegment = FALSE;
}

/* Pushes a buffer on one pad; the answer combines every pad's flow. */
static GstFlowReturn push_on(GstKivoDemux* self, GstPad* pad, GstBuffer* buffer) {
  return gst_flow_combiner_update_pad_flow(self->combiner, pad, gst_pad_push(pad, buffer));
}

/* Pushes one split packet: each track's chunk, then the video data. */
static GstFlowReturn push_packet(GstKivoDemux* self, const KivoPacket* packet, uint32_t frame) {
  send_segment(self);
  GstFlowReturn ret = GST_FLOW_OK;
  for (guint i = 0; i < self->audioCount; ++i) {
    AudioStream* a = &self->audio[i];
    const uint8_t* chunk;
    uint32_t size;
    kivo_packet_audio(packet, a->index, &chunk, &size);
    const uint32_t bytes = chunk_bytes(a, chunk, size);
    if (size <= 4 || bytes == 0) {
      /* No sound in this frame: the stream is told that nothing comes up
       * to the frame's end, so that its sinks preroll and run on. */
      const GstClockTime from = MAX(a->covered, audio_time(a, a->bytes)), to = frame_time(self, frame + 1);
      if (to > from) {
        gst_pad_push_event(a->pad, gst_event_new_gap(from, to - from));
        a->covered = to;
      }
      continue;
    }
    GstBuffer* b = copy_bytes(chunk, size);
    GST_BUFFER_PTS(b) = audio_time(a, a->bytes);
    GST_BUFFER_DURATION(b) = audio_time(a, a->bytes + bytes) - GST_BUFFER_PTS(b);
    GST_BUFFER_OFFSET(b) = frame;
    if (a->discont) GST_BUFFER_FLAG_SET(b, GST_BUFFER_FLAG_DISCONT);
    a->discont = FALSE;
    a->bytes += bytes;
    a->carryFrame = frame;
    a->covered = MAX(a->covered, audio_time(a, a->bytes));
    ret = push_on(self, a->pad, b);
    if (ret != GST_FLOW_OK) return ret;
  }
  GstBuffer* v = copy_bytes(packet->video, packet->video_size);
  GST_BUFFER_PTS(v) = GST_BUFFER_DTS(v) = frame_time(self, frame);
  GST_BUFFER_DURATION(v) = frame_time(self, frame + 1) - frame_time(self, frame);
  GST_BUFFER_OFFSET(v) = frame - 1;
  if (!packet->key_frame) GST_BUFFER_FLAG_SET(v, GST_BUFFER_FLAG_DELTA_UNIT);
  if (self->videoDiscont) GST_BUFFER_FLAG_SET(v, GST_BUFFER_FLAG_DISCONT);
  self->videoDiscont = FALSE;
  self->segment.position = GST_BUFFER_PTS(v);
  return push_on(self, self->videopad, v);
}

/* After a seek to `key`: each track's chunk that carries its sound into the
 * key frame goes first, marked decode-only. */
static GstFlowReturn push_carry(GstKivoDemux* self, uint32_t key) {
  send_segment(self);
  for (guint i = 0; i < self->audioCount; ++i) {
    AudioStream* a = &self->audio[i];
    uint32_t carry = 0;
    KivoPacket packet;
    const uint8_t* chunk;
    uint32_t size;
    if (kivo_movie_audio_carry(self->movie, a->index, key, &carry) != KIVO_DEC_OK || carry == 0) continue;
    if (kivo_movie_read_packet(self->movie, carry, &packet) != KIVO_DEC_OK) continue;
    kivo_packet_audio(&packet, a->index, &chunk, &size);
    GstBuffer* b = copy_bytes(chunk, size);
    GST_BUFFER_FLAG_SET(b, GST_BUFFER_FLAG_DECODE_ONLY);
    GST_BUFFER_FLAG_SET(b, GST_BUFFER_FLAG_DISCONT);
    a->discont = FALSE;
    GstFlowReturn ret = push_on(self, a->pad, b);
    if (ret != GST_FLOW_OK) return ret;
  }
  return GST_FLOW_OK;
}

static void post_read_error(GstKivoDemux* self, int32_t status, uint32_t frame) {
  GST_ELEMENT_ERROR(self, STREAM, DEMUX, ("Frame %u of this Kivo file cannot be read: %s", frame,
                                          kivo_dec_error_text(status)),
                    (NULL));
}

/* ---- Pull mode ------------------------------------------------------------- */

/* After a failed read of the C API: the flow that stopped upstream when it
 * was not the end of the data (a flush for a seek, upstream's own error), or
 * OK when the file itself is at fault. */
static GstFlowReturn upstream_stopped(GstKivoDemux* self) {
  return self->pullFlow == GST_FLOW_OK || self->pullFlow == GST_FLOW_EOS ? GST_FLOW_OK : self->pullFlow;
}

static void pull_loop(GstPad* pad) {
  GstKivoDemux* self = GST_KIVO_DEMUX(gst_pad_get_parent(pad));
  GstFlowReturn ret = GST_FLOW_OK;
  if (!self->movie) {
    KivoDecError error;
    self->readOffset = 0;
    self->pullFlow = GST_FLOW_OK;
    if (kivo_movie_open_io(&pull_io, self, &self->movie, &error) != KIVO_DEC_OK) {
      ret = upstream_stopped(self);
      if (ret == GST_FLOW_OK) {
        GST_ELEMENT_ERROR(self, STREAM, DEMUX, ("%s", error.message), (NULL));
        ret = GST_FLOW_ERROR;
      }
      goto pause;
    }
    if (!expose(self)) {
      ret = GST_FLOW_ERROR;
      goto pause;
    }
  }
  if (self->primeAudio) {
    self->primeAudio = FALSE;
    ret = push_carry(self, self->nextFrame);
    if (ret != GST_FLOW_OK) goto pause;
  }
  if (self->nextFrame > self->lastFrame) {
    if (self->segment.flags & GST_SEGMENT_FLAG_SEGMENT) {
      /* A segment seek ends with SEGMENT_DONE, for the application to seek on. */
      send_segment(self);
      const gint64 stop = GST_CLOCK_TIME_IS_VALID(self->segment.stop) ? (gint64)self->segment.stop
                                                                       : (gint64)self->info.duration_ns;
      GstMessage* m = gst_message_new_segment_done(GST_OBJECT(self), GST_FORMAT_TIME, stop);
      gst_message_set_seqnum(m, self->seqnum);
      gst_element_post_message(GST_ELEMENT(self), m);
      GstEvent* done = gst_event_new_segment_done(GST_FORMAT_TIME, stop);
      gst_event_set_seqnum(done, self->seqnum);
      push_to_all(self, done);
      gst_pad_pause_task(pad);
      gst_object_unref(self);
      return;
    }
    ret = GST_FLOW_EOS;
    goto pause;
  }
  KivoPacket packet;
  self->pullFlow = GST_FLOW_OK;
  int32_t status = kivo_movie_read_packet(self->movie, self->nextFrame, &packet);
  if (status != KIVO_DEC_OK) {
    ret = upstream_stopped(self);
    if (ret == GST_FLOW_OK) {
      post_read_error(self, status, self->nextFrame);
      ret = GST_FLOW_ERROR;
    }
    goto pause;
  }
  ret = push_packet(self, &packet, self->nextFrame);
  self->nextFrame++;
  if (ret != GST_FLOW_OK) goto pause;
  gst_object_unref(self);
  return;

pause:
  GST_DEBUG_OBJECT(self, "pausing: %s", gst_flow_get_name(ret));
  gst_pad_pause_task(pad);
  if (ret == GST_FLOW_EOS) {
    GstEvent* eos = gst_event_new_eos();
    if (self->seqnum) gst_event_set_seqnum(eos, self->seqnum);
    push_to_all(self, eos);
  } else if (ret == GST_FLOW_NOT_LINKED || ret < GST_FLOW_EOS) {
    if (ret != GST_FLOW_ERROR) GST_ELEMENT_FLOW_ERROR(self, ret);
    push_to_all(self, gst_event_new_eos());
  }
  gst_object_unref(self);
}

/* The key frame at or after `frame`, 0 when there is none. */
static uint32_t key_frame_after(GstKivoDemux* self, uint32_t frame) {
  for (uint32_t n = frame; n <= self->info.frame_count; ++n)
    if (kivo_movie_is_key_frame(self->movie, n)) return n;
  return 0;
}

/* A seek event's format and rate, checked before anything is flushed. */
static gboolean seek_is_possible(GstKivoDemux* self, GstPad* pad, GstEvent* event) {
  gdouble rate;
  GstFormat format;
  gst_event_parse_seek(event, &rate, &format, NULL, NULL, NULL, NULL, NULL);
  /* Frames are the video's default unit; an audio pad's would be samples. */
  return rate > 0.0 && (format == GST_FORMAT_TIME || (format == GST_FORMAT_DEFAULT && pad == self->videopad));
}

/* Works out a seek as GStreamer's demuxers do: decoding starts at the key
 * frame at or before the target (KEY_UNIT with SNAP_AFTER or SNAP_NEAREST may
 * pick the one after); the segment starts there for KEY_UNIT seeks and at
 * the target otherwise, the frames before it decoded and clipped. A target
 * past the end plays nothing. Reads the movie: the stream is stopped (pull
 * mode) or the object lock held (push mode). */
static void plan_seek(GstKivoDemux* self, GstEvent* event, SeekPlan* plan) {
  gdouble rate;
  GstFormat format;
  GstSeekFlags flags;
  GstSeekType startType, stopType;
  gint64 start, stop;
  gst_event_parse_seek(event, &rate, &format, &flags, &startType, &start, &stopType, &stop);
  if (format == GST_FORMAT_DEFAULT) {
    /* Frames counted from 0, as GStreamer counts them. */
    if (startType == GST_SEEK_TYPE_SET) start = (gint64)frame_time(self, (uint32_t)MIN(start, G_MAXUINT32 - 1) + 1);
    if (stopType == GST_SEEK_TYPE_SET && stop >= 0) stop = (gint64)frame_time(self, (uint32_t)MIN(stop, G_MAXUINT32 - 1) + 1);
  }
  const GstClockTime duration = self->info.duration_ns;
  GstClockTime target = startType == GST_SEEK_TYPE_SET ? (GstClockTime)MAX(start, 0) : self->segment.position;
  plan->seqnum = gst_event_get_seqnum(event);
  plan->rate = rate;
  plan->flags = flags;
  plan->last = self->info.frame_count;
  if (target >= duration) {
    plan->key = self->info.frame_count + 1;
    plan->start = duration;
    return;
  }
  const uint32_t frame = kivo_movie_frame_at(self->movie, target);
  plan->key = kivo_movie_key_frame_before(self->movie, frame);
  if (flags & GST_SEEK_FLAG_KEY_UNIT) {
    const uint32_t after = (flags & (GST_SEEK_FLAG_SNAP_AFTER | GST_SEEK_FLAG_SNAP_NEAREST)) ? key_frame_after(self, frame) : 0;
    if (after && (flags & GST_SEEK_FLAG_SNAP_NEAREST ? frame_time(self, after) - target < target - frame_time(self, plan->key)
                                                      : !(flags & GST_SEEK_FLAG_SNAP_BEFORE)))
      plan->key = after;
    target = frame_time(self, plan->key);
  }
  plan->start = target;
  if (stopType == GST_SEEK_TYPE_SET && stop >= 0) {
    /* Frames that start before the stop are played. */
    uint32_t last = kivo_movie_frame_at(self->movie, (uint64_t)stop);
    if (last > 1 && frame_time(self, last) >= (GstClockTime)stop) --last;
    plan->last = MAX(last, plan->key);
  }
}

/* Puts a planned seek in force; the streaming thread is stopped. */
static void apply_seek(GstKivoDemux* self, const SeekPlan* plan) {
  const uint32_t key = plan->key;
  self->seqnum = plan->seqnum;
  self->lastFrame = plan->last;
  gst_segment_init(&self->segment, GST_FORMAT_TIME);
  self->segment.rate = plan->rate;
  self->segment.duration = self->info.duration_ns;
  if (plan->flags & GST_SEEK_FLAG_SEGMENT) self->segment.flags |= GST_SEGMENT_FLAG_SEGMENT;
  self->segment.start = self->segment.time = self->segment.position = plan->start;
  if (self->lastFrame < self->info.frame_count) self->segment.stop = frame_time(self, self->lastFrame + 1);
  for (guint i = 0; i < self->audioCount; ++i) {
    self->audio[i].discont = TRUE;
    self->audio[i].covered = 0;
  }
  self->videoDiscont = TRUE;
  self->needSegment = TRUE;
  gst_flow_combiner_reset(self->combiner);
  if (self->pull) {
    self->nextFrame = key;
    for (guint i = 0; i < self->audioCount; ++i)
      kivo_movie_audio_offset(self->movie, self->audio[i].index, key, &self->audio[i].bytes);
    self->primeAudio = key <= self->lastFrame;
  } else {
    /* Pushed data is read again from the seek point before the key frame
     * (or the earlier chunk carrying a track's sound into it): the frames
     * before the key frame count their sound from the point on and keep
     * each track's last chunk, which carries its sound into the key frame. */
    self->nextFrame = plan->resume;
    self->skipUntil = key;
    self->countFrom = plan->point * PUSH_STEP + 1;
    for (guint i = 0; i < self->audioCount; ++i) {
      AudioStream* a = &self->audio[i];
      const gsize at = (gsize)plan->point * self->audioCount + i;
      a->bytes = self->stepsKnown ? self->stepBytes[at] : 0;
      a->carryFrame = self->stepsKnown ? self->stepCarry[at] : 0;
      g_byte_array_set_size(a->carry, 0);
    }
  }
  self->seekDone = TRUE;
}

/* Seeks in time, or by frame (format default). A pulling demuxer stops its
 * task, works the seek out under the stream lock and reads from the key
 * frame; a pushed one asks upstream for the bytes from the first packet. */
static gboolean do_seek(GstKivoDemux* self, GstPad* pad, GstEvent* event) {
  /* Every sink of a pipeline sends the pipeline's seek up: do it once. */
  if (self->seekDone && gst_event_get_seqnum(event) == self->seqnum) return TRUE;
  if (!seek_is_possible(self, pad, event)) return FALSE;
  GstSeekFlags flags;
  gst_event_parse_seek(event, NULL, NULL, &flags, NULL, NULL, NULL, NULL);
  const guint32 seqnum = gst_event_get_seqnum(event);
  if (!self->pull) {
    SeekPlan plan;
    GST_OBJECT_LOCK(self);
    const gboolean open = self->movie != NULL;
    uint64_t first = 0;
    uint32_t size;
    if (open) {
      plan_seek(self, event, &plan);
      plan.point = 0;
      plan.resume = 1;
      if (self->stepsKnown) {
        const uint32_t key = MIN(plan.key, self->info.frame_count);
        plan.point = MIN((key - 1) / PUSH_STEP, self->stepsKnown - 1);
        plan.resume = plan.point * PUSH_STEP + 1;
        for (guint i = 0; i < self->audioCount; ++i) {
          const uint32_t carry = self->stepCarry[(gsize)plan.point * self->audioCount + i];
          if (carry && carry < plan.resume) plan.resume = carry;
        }
      }
      kivo_movie_packet_place(self->movie, plan.resume, &first, &size);
      GST_DEBUG_OBJECT(self, "the seek to frame %u reads again from frame %u", plan.key, plan.resume);
      self->pendingSeek = plan;
      self->seekPending = TRUE;
    }
    GST_OBJECT_UNLOCK(self);
    if (!open) return FALSE;
    GstEvent* e = gst_event_new_seek(1.0, GST_FORMAT_BYTES, GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE,
                                     GST_SEEK_TYPE_SET, (gint64)first, GST_SEEK_TYPE_NONE, -1);
    gst_event_set_seqnum(e, seqnum);
    const gboolean done = gst_pad_push_event(self->sinkpad, e);
    if (!done) {
      GST_OBJECT_LOCK(self);
      self->seekPending = FALSE;
      GST_OBJECT_UNLOCK(self);
    }
    return done;
  }
  const gboolean flush = (flags & GST_SEEK_FLAG_FLUSH) != 0;
  if (flush) {
    GstEvent* e = gst_event_new_flush_start();
    gst_event_set_seqnum(e, seqnum);
    push_to_all(self, gst_event_ref(e));
    gst_pad_push_event(self->sinkpad, e);
  } else {
    gst_pad_pause_task(self->sinkpad);
  }
  GST_PAD_STREAM_LOCK(self->sinkpad);
  if (flush) {
    GstEvent* e = gst_event_new_flush_stop(TRUE);
    gst_event_set_seqnum(e, seqnum);
    push_to_all(self, gst_event_ref(e));
    gst_pad_push_event(self->sinkpad, e);
  }
  gboolean done = self->movie != NULL;
  if (done) {
    SeekPlan plan;
    plan_seek(self, event, &plan);
    apply_seek(self, &plan);
  }
  gst_pad_start_task(self->sinkpad, (GstTaskFunction)pull_loop, self->sinkpad, NULL);
  GST_PAD_STREAM_UNLOCK(self->sinkpad);
  return done;
}

/* ---- Push mode ------------------------------------------------------------- */

/* A frame before the key frame of a seek: its sound is counted, and each
 * track's latest chunk that decodes something is kept. */
static void skip_packet(GstKivoDemux* self, const KivoPacket* packet, uint32_t frame) {
  for (guint i = 0; i < self->audioCount; ++i) {
    AudioStream* a = &self->audio[i];
    const uint8_t* chunk;
    uint32_t size;
    kivo_packet_audio(packet, a->index, &chunk, &size);
    const uint32_t bytes = chunk_bytes(a, chunk, size);
    if (size <= 4 || bytes == 0) continue;
    if (frame >= self->countFrom) a->bytes += bytes;
    a->carryFrame = frame;
    g_byte_array_set_size(a->carry, 0);
    g_byte_array_append(a->carry, chunk, size);
  }
}

static GstFlowReturn push_kept_carry(GstKivoDemux* self) {
  send_segment(self);
  for (guint i = 0; i < self->audioCount; ++i) {
    AudioStream* a = &self->audio[i];
    if (a->carry->len == 0) continue;
    GstBuffer* b = copy_bytes(a->carry->data, a->carry->len);
    GST_BUFFER_FLAG_SET(b, GST_BUFFER_FLAG_DECODE_ONLY);
    GST_BUFFER_FLAG_SET(b, GST_BUFFER_FLAG_DISCONT);
    a->discont = FALSE;
    g_byte_array_set_size(a->carry, 0);
    GstFlowReturn ret = push_on(self, a->pad, b);
    if (ret != GST_FLOW_OK) return ret;
  }
  return GST_FLOW_OK;
}

/* Before frame nextFrame's packet: a new seek point when one falls here. */
static void note_seek_point(GstKivoDemux* self) {
  const uint32_t f = self->nextFrame;
  if (!self->stepBytes || (f - 1) % PUSH_STEP != 0 || (f - 1) / PUSH_STEP != self->stepsKnown) return;
  GST_OBJECT_LOCK(self);
  for (guint i = 0; i < self->audioCount; ++i) {
    const gsize at = (gsize)self->stepsKnown * self->audioCount + i;
    self->stepBytes[at] = self->audio[i].bytes;
    self->stepCarry[at] = self->audio[i].carryFrame;
  }
  self->stepsKnown++;
  GST_OBJECT_UNLOCK(self);
}

static GstFlowReturn push_chain(GstPad* pad, GstObject* parent, GstBuffer* buffer) {
  GstKivoDemux* self = GST_KIVO_DEMUX(parent);
  gst_adapter_push(self->adapter, buffer);
  if (!self->movie) {
    /* The header, then the header with the track table and the index. */
    if (gst_adapter_available(self->adapter) < 44) return GST_FLOW_OK;
    guint8 head[44];
    gst_adapter_copy(self->adapter, head, 0, 44);
    const guint64 tracks = GST_READ_UINT32_LE(head + 40), indexLast = GST_READ_UINT32_LE(head + 16);
    guint64 need = 44 + 12 * tracks + 4 * (indexLast + 1);
    if (memcmp(head, "KIV", 3) != 0 || need > (64u << 20)) need = 44; /* let the open say what is wrong */
    if (gst_adapter_available(self->adapter) < need) return GST_FLOW_OK;
    self->tables = g_malloc(need);
    gst_adapter_copy(self->adapter, self->tables, 0, need);
    KivoDecError error;
    KivoMovie* movie;
    /* Packets may run past the header's size while the file holds them. */
    gint64 fileSize = 0;
    if (!gst_pad_peer_query_duration(self->sinkpad, GST_FORMAT_BYTES, &fileSize) || fileSize < 0) fileSize = 0;
    if (kivo_movie_open_tables(self->tables, need, (guint64)fileSize, &movie, &error) != KIVO_DEC_OK) {
      GST_ELEMENT_ERROR(self, STREAM, DEMUX, ("%s", error.message), (NULL));
      return GST_FLOW_ERROR;
    }
    /* A seek from the application thread looks at the movie under the lock. */
    GST_OBJECT_LOCK(self);
    self->movie = movie;
    kivo_movie_info(movie, &self->info);
    GST_OBJECT_UNLOCK(self);
    self->adapterOffset = 0;
    if (!expose(self)) return GST_FLOW_ERROR;
  }
  /* Whole packets, in order. */
  while (self->nextFrame <= self->lastFrame) {
    guint64 offset;
    uint32_t size;
    kivo_movie_packet_place(self->movie, self->nextFrame, &offset, &size);
    if (offset < self->adapterOffset) {
      GST_ELEMENT_ERROR(self, STREAM, DEMUX, ("The data arrives out of order."), (NULL));
      return GST_FLOW_ERROR;
    }
    const gsize skip = (gsize)(offset - self->adapterOffset);
    if (gst_adapter_available(self->adapter) < skip + size) return GST_FLOW_OK;
    gst_adapter_flush(self->adapter, skip);
    self->adapterOffset += skip;
    const guint8* data = size ? gst_adapter_map(self->adapter, size) : NULL;
    KivoPacket packet;
    kivo_packet_split(data, size, self->info.track_count, &packet);
    packet.key_frame = kivo_movie_is_key_frame(self->movie, self->nextFrame);
    GstFlowReturn ret = GST_FLOW_OK;
    note_seek_point(self);
    if (self->nextFrame < self->skipUntil) {
      skip_packet(self, &packet, self->nextFrame);
    } else {
      if (self->skipUntil) ret = push_kept_carry(self);
      self->skipUntil = 0;
      if (ret == GST_FLOW_OK) ret = push_packet(self, &packet, self->nextFrame);
    }
    if (size) gst_adapter_unmap(self->adapter);
    gst_adapter_flush(self->adapter, size);
    self->adapterOffset += size;
    self->nextFrame++;
    if (ret != GST_FLOW_OK) return ret;
  }
  return GST_FLOW_OK;
}

static gboolean sink_event(GstPad* pad, GstObject* parent, GstEvent* event) {
  GstKivoDemux* self = GST_KIVO_DEMUX(parent);
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_SEGMENT: {
      /* Upstream's byte segment says where its data starts; the demuxer
       * makes its own time segment for its streams. */
      const GstSegment* segment;
      gst_event_parse_segment(event, &segment);
      if (segment->format == GST_FORMAT_BYTES && self->movie) {
        gst_adapter_clear(self->adapter);
        self->adapterOffset = segment->start;
      }
      gst_event_unref(event);
      return TRUE;
    }
    case GST_EVENT_CAPS:
    case GST_EVENT_STREAM_START:
      gst_event_unref(event);
      return TRUE;
    case GST_EVENT_EOS:
      if (!self->movie) {
        GST_ELEMENT_ERROR(self, STREAM, DEMUX, ("This Kivo file ends before its tables do."), (NULL));
      } else if (self->nextFrame <= self->lastFrame) {
        post_read_error(self, KIVO_DEC_ERROR_READ, self->nextFrame);
      }
      push_to_all(self, event);
      return TRUE;
    case GST_EVENT_FLUSH_STOP: {
      gst_adapter_clear(self->adapter);
      /* A seek of ours upstream: in force from here, before its data. */
      GST_OBJECT_LOCK(self);
      const gboolean pending = self->seekPending;
      const SeekPlan plan = self->pendingSeek;
      self->seekPending = FALSE;
      GST_OBJECT_UNLOCK(self);
      if (pending) apply_seek(self, &plan);
      push_to_all(self, event);
      return TRUE;
    }
    default:
      push_to_all(self, event);
      return TRUE;
  }
}

/* ---- Source pads ------------------------------------------------------------ */

/* Pushed data can be sought when upstream seeks in bytes. */
static gboolean upstream_seekable(GstKivoDemux* self) {
  GstQuery* q = gst_query_new_seeking(GST_FORMAT_BYTES);
  gboolean seekable = FALSE;
  if (gst_pad_peer_query(self->sinkpad, q)) gst_query_parse_seeking(q, NULL, &seekable, NULL, NULL);
  gst_query_unref(q);
  return seekable;
}

static gboolean src_event(GstPad* pad, GstObject* parent, GstEvent* event) {
  GstKivoDemux* self = GST_KIVO_DEMUX(parent);
  if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) {
    gboolean done = do_seek(self, pad, event);
    gst_event_unref(event);
    return done;
  }
  return gst_pad_event_default(pad, parent, event);
}

static gboolean src_query(GstPad* pad, GstObject* parent, GstQuery* query) {
  GstKivoDemux* self = GST_KIVO_DEMUX(parent);
  GstFormat format;
  switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_DURATION:
      gst_query_parse_duration(query, &format, NULL);
      if (!self->movie) return FALSE;
      if (format == GST_FORMAT_TIME) gst_query_set_duration(query, format, (gint64)self->info.duration_ns);
      else if (format == GST_FORMAT_DEFAULT && pad == self->videopad)
        gst_query_set_duration(query, format, self->info.frame_count);
      else
        return FALSE;
      return TRUE;
    case GST_QUERY_POSITION:
      gst_query_parse_position(query, &format, NULL);
      if (!self->movie) return FALSE;
      if (format == GST_FORMAT_TIME) gst_query_set_position(query, format, (gint64)self->segment.position);
      else if (format == GST_FORMAT_DEFAULT && pad == self->videopad)
        gst_query_set_position(query, format, kivo_movie_frame_at(self->movie, self->segment.position) - 1);
      else
        return FALSE;
      return TRUE;
    case GST_QUERY_SEEKING:
      gst_query_parse_seeking(query, &format, NULL, NULL, NULL);
      if (format != GST_FORMAT_TIME && format != GST_FORMAT_DEFAULT) return FALSE;
      gst_query_set_seeking(query, format, self->movie != NULL && (self->pull || upstream_seekable(self)), 0,
                            format == GST_FORMAT_TIME ? (gint64)self->info.duration_ns : (gint64)self->info.frame_count);
      return TRUE;
    default:
      return gst_pad_query_default(pad, parent, query);
  }
}

/* ---- Activation and states --------------------------------------------------- */

static gboolean sink_activate(GstPad* pad, GstObject* parent) {
  GstQuery* query = gst_query_new_scheduling();
  gboolean pull = gst_pad_peer_query(pad, query) &&
                  gst_query_has_scheduling_mode_with_flags(query, GST_PAD_MODE_PULL, GST_SCHEDULING_FLAG_SEEKABLE);
  gst_query_unref(query);
  return gst_pad_activate_mode(pad, pull ? GST_PAD_MODE_PULL : GST_PAD_MODE_PUSH, TRUE);
}

static gboolean sink_activate_mode(GstPad* pad, GstObject* parent, GstPadMode mode, gboolean active) {
  GstKivoDemux* self = GST_KIVO_DEMUX(parent);
  if (mode == GST_PAD_MODE_PUSH) {
    self->pull = FALSE;
    return TRUE;
  }
  if (mode != GST_PAD_MODE_PULL) return FALSE;
  if (active) {
    self->pull = TRUE;
    return gst_pad_start_task(pad, (GstTaskFunction)pull_loop, pad, NULL);
  }
  return gst_pad_stop_task(pad);
}

static void reset(GstKivoDemux* self) {
  if (self->videopad) {
    gst_flow_combiner_remove_pad(self->combiner, self->videopad);
    gst_element_remove_pad(GST_ELEMENT(self), self->videopad);
  }
  self->videopad = NULL;
  for (guint i = 0; i < self->audioCount; ++i) {
    gst_flow_combiner_remove_pad(self->combiner, self->audio[i].pad);
    gst_element_remove_pad(GST_ELEMENT(self), self->audio[i].pad);
    g_byte_array_unref(self->audio[i].carry);
  }
  self->audioCount = 0;
  GST_OBJECT_LOCK(self);
  kivo_movie_close(self->movie);
  self->movie = NULL;
  GST_OBJECT_UNLOCK(self);
  g_free(self->tables);
  self->tables = NULL;
  gst_adapter_clear(self->adapter);
  self->adapterOffset = 0;
  self->nextFrame = 1;
  self->primeAudio = FALSE;
  self->videoDiscont = TRUE;
  self->seqnum = 0;
  self->seekDone = FALSE;
  self->seekPending = FALSE;
  self->skipUntil = 0;
  self->countFrom = 0;
  GST_OBJECT_LOCK(self);
  g_free(self->stepBytes);
  g_free(self->stepCarry);
  self->stepBytes = NULL;
  self->stepCarry = NULL;
  self->stepsKnown = 0;
  GST_OBJECT_UNLOCK(self);
}

static GstStateChangeReturn change_state(GstElement* element, GstStateChange transition) {
  GstKivoDemux* self = GST_KIVO_DEMUX(element);
  GstStateChangeReturn ret = GST_ELEMENT_CLASS(gst_kivo_demux_parent_class)->change_state(element, transition);
  if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) reset(self);
  return ret;
}

static void finalize(GObject* object) {
  GstKivoDemux* self = GST_KIVO_DEMUX(object);
  kivo_movie_close(self->movie);
  g_free(self->tables);
  g_free(self->stepBytes);
  g_free(self->stepCarry);
  g_object_unref(self->adapter);
  gst_flow_combiner_free(self->combiner);
  G_OBJECT_CLASS(gst_kivo_demux_parent_class)->finalize(object);
}

static void gst_kivo_demux_class_init(GstKivoDemuxClass* klass) {
  GstElementClass* element = GST_ELEMENT_CLASS(klass);
  G_OBJECT_CLASS(klass)->finalize = finalize;
  element->change_state = GST_DEBUG_FUNCPTR(change_state);
  gst_element_class_add_static_pad_template(element, &sink_template);
  gst_element_class_add_static_pad_template(element, &video_template);
  gst_element_class_add_static_pad_template(element, &audio_template);
  gst_element_class_set_static_metadata(element, "Kivo demuxer", "Codec/Demuxer",
                                        "Splits a Kivo movie into its video and sound tracks", "Kivo");
  GST_DEBUG_CATEGORY_INIT(kivo_demux_debug, "kivodemux", 0, "Kivo demuxer");
}

static void gst_kivo_demux_init(GstKivoDemux* self) {
  self->sinkpad = gst_pad_new_from_static_template(&sink_template, "sink");
  gst_pad_set_activate_function(self->sinkpad, sink_activate);
  gst_pad_set_activatemode_function(self->sinkpad, sink_activate_mode);
  gst_pad_set_chain_function(self->sinkpad, push_chain);
  gst_pad_set_event_function(self->sinkpad, sink_event);
  gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);
  self->adapter = gst_adapter_new();
  self->combiner = gst_flow_combiner_new();
  self->nextFrame = 1;
  self->videoDiscont = TRUE;
}
