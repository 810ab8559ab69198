// SPDX-License-Identifier: BSD-2-Clause
// Fuzzes the GStreamer plugin in-process: any bytes given to its type finder
// and pushed in pieces through appsrc (push mode, a stream of unknown size)
// into kivodemux, each stream it exposes through its decoder into an appsink,
// to the end of the stream or an error. The plugin's sources are compiled into
// this program and registered as a static plugin; the registry is off, so
// nothing is loaded from disk. A pipeline that neither ends nor fails within
// kWait is a hang: a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/base/gsttypefindhelper.h>
#include <gst/gst.h>

extern "C" void gst_plugin_kivo_register(void);

namespace {

constexpr GstClockTime kWait = 8 * GST_SECOND;

// Streaming threads that outlive the pipelines but end each task before its
// join returns. GStreamer's shared pool lets its thread drop the task's last
// reference after the join, in the next input (libFuzzer then looks for
// leaks after nearly every input); a thread per task halves the speed.
struct Worker {
  std::mutex mutex;
  std::condition_variable changed;
  GstTaskPoolFunction func = nullptr;
  gpointer data = nullptr;
  bool taken = false, done = false;
};

std::mutex workersMutex;
std::vector<Worker*> workers;  // kept to the end of the process

void Work(Worker* w) {
  std::unique_lock<std::mutex> lock(w->mutex);
  for (;;) {
    w->changed.wait(lock, [w] { return w->func != nullptr; });
    lock.unlock();
    w->func(w->data);
    lock.lock();
    w->func = nullptr;
    w->done = true;
    w->changed.notify_all();
  }
}

gpointer PoolPush(GstTaskPool*, GstTaskPoolFunction func, gpointer data, GError**) {
  Worker* w = nullptr;
  {
    std::lock_guard<std::mutex> lock(workersMutex);
    for (Worker* idle : workers)
      if (!idle->taken) w = idle;
    if (!w) {
      w = new Worker;
      workers.push_back(w);
      std::thread(Work, w).detach();
    }
    w->taken = true;
  }
  std::lock_guard<std::mutex> lock(w->mutex);
  w->func = func;
  w->data = data;
  w->done = false;
  w->changed.notify_all();
  return w;
}

void PoolJoin(GstTaskPool*, gpointer id) {
  Worker* w = static_cast<Worker*>(id);
  {
    std::unique_lock<std::mutex> lock(w->mutex);
    w->changed.wait(lock, [w] { return w->done; });
  }
  std::lock_guard<std::mutex> lock(workersMutex);
  w->taken = false;
}

struct JoinedPool {
  GstTaskPool parent;
};
struct JoinedPoolClass {
  GstTaskPoolClass parent;
};
G_DEFINE_TYPE(JoinedPool, joined_pool, GST_TYPE_TASK_POOL)

void PoolPrepare(GstTaskPool*, GError**) {}
void PoolCleanup(GstTaskPool*) {}

void joined_pool_class_init(JoinedPoolClass* klass) {
  klass->parent.prepare = PoolPrepare;
  klass->parent.cleanup = PoolCleanup;
  klass->parent.push = PoolPush;
  klass->parent.join = PoolJoin;
}
void joined_pool_init(JoinedPool*) {}

GstTaskPool* pool;

// Every task of the pipeline (appsrc's) runs on the joined pool; of the
// messages only the end and errors are kept.
GstBusSyncReply OnMessage(GstBus*, GstMessage* message, gpointer) {
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_STREAM_STATUS) {
    GstStreamStatusType type;
    gst_message_parse_stream_status(message, &type, nullptr);
    const GValue* task = gst_message_get_stream_status_object(message);
    if (type == GST_STREAM_STATUS_TYPE_CREATE && task && G_VALUE_HOLDS(task, GST_TYPE_TASK))
      gst_task_set_pool(GST_TASK(g_value_get_object(task)), pool);
  }
  if (GST_MESSAGE_TYPE(message) & (GST_MESSAGE_EOS | GST_MESSAGE_ERROR)) return GST_BUS_PASS;
  gst_message_unref(message);  // a dropped message is the handler's to free
  return GST_BUS_DROP;
}

// A stream the demuxer exposes: its decoder into an appsink that keeps no
// more than one buffer. A stream whose caps the decoder refuses stays
// unlinked, its branch out of the pipeline (it would never see the end).
void OnPad(GstElement* demux, GstPad* pad, gpointer data) {
  GstBin* bin = GST_BIN(data);
  const gboolean video = g_str_has_prefix(GST_PAD_NAME(pad), "video");
  // Names of our own: GStreamer's numbered names would feed the fuzzer's
  // comparison hints with counters.
  gchar* name = g_strdup_printf("sink-%s", GST_PAD_NAME(pad));
  GstElement* dec = gst_element_factory_make(video ? "kivovideodec" : "kivoaudiodec", name + 5);
  GstElement* sink = gst_element_factory_make("appsink", name);
  g_free(name);
  g_object_set(sink, "sync", FALSE, "async", FALSE, "drop", TRUE, "max-buffers", 1u, "wait-on-eos", FALSE,
               nullptr);
  gst_bin_add_many(bin, dec, sink, nullptr);
  GstPad* in = gst_element_get_static_pad(dec, "sink");
  const gboolean linked = gst_element_link(dec, sink) && GST_PAD_LINK_SUCCESSFUL(gst_pad_link(pad, in));
  gst_object_unref(in);
  if (!linked) {
    gst_bin_remove_many(bin, dec, sink, nullptr);
    return;
  }
  gst_element_sync_state_with_parent(sink);
  gst_element_sync_state_with_parent(dec);
}

// appsrc asks for the data from `offset` on.
gboolean OnSeekData(GstAppSrc*, guint64 offset, gpointer from) {
  *static_cast<guint64*>(from) = offset;
  return TRUE;
}

// The data from `from` on, in pieces of sizes that split the header, the
// tables and the packets, then the end of the stream.
void Push(GstAppSrc* src, const uint8_t* data, size_t size, guint64 from) {
  static const size_t kPieces[] = {17, 4096, 1, 300, 64};
  for (size_t at = from < size ? size_t(from) : size, i = 0; at < size; ++i) {
    const size_t n = kPieces[i % 5] < size - at ? kPieces[i % 5] : size - at;
    gst_app_src_push_buffer(src, gst_buffer_new_memdup(data + at, n));
    at += n;
  }
  gst_app_src_end_of_stream(src);
}

// True at the end of the stream, false on an error; neither within kWait is
// a hang.
bool WaitForTheEnd(GstBus* bus) {
  GstMessage* end = gst_bus_timed_pop_filtered(bus, kWait, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  if (!end) {
    fprintf(stderr, "gst_pipeline_fuzz: neither the end of the stream nor an error within %llu s\n",
            static_cast<unsigned long long>(kWait / GST_SECOND));
    abort();
  }
  const bool eos = GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS;
  gst_message_unref(end);
  return eos;
}

// Large pictures and long movies of them only make runs slow; the open's own
// limits are fuzzed by the C API target.
bool TooSlow(const uint8_t* data, size_t size) {
  if (size < 28) return false;
  auto word = [data](size_t at) { return data[at] | data[at + 1] << 8 | data[at + 2] << 16 | uint32_t(data[at + 3]) << 24; };
  const uint64_t area = uint64_t(word(20)) * word(24);
  return area > 1024 * 1024 || area * word(8) > (uint64_t(1) << 26);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // No registry: the elements come from this program alone.
  setenv("GST_REGISTRY_DISABLE", "yes", 1);
  gst_init(nullptr, nullptr);
  // A critical is GLib's report of a misused call: the plugin's fault.
  g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR));
  gst_plugin_kivo_register();
  pool = GST_TASK_POOL(g_object_new(joined_pool_get_type(), nullptr));
  if (!gst_element_register(nullptr, "appsrc", GST_RANK_NONE, GST_TYPE_APP_SRC) ||
      !gst_element_register(nullptr, "appsink", GST_RANK_NONE, GST_TYPE_APP_SINK)) {
    fprintf(stderr, "gst_pipeline_fuzz: the app elements cannot be registered\n");
    abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The type finder sees the same bytes (ours is the only one registered).
  GstTypeFindProbability certainty;
  if (GstCaps* found = gst_type_find_helper_for_data(nullptr, data, size, &certainty)) gst_caps_unref(found);
  if (TooSlow(data, size)) return 0;
  GstElement* pipeline = gst_pipeline_new("pipeline");
  GstElement* src = gst_element_factory_make("appsrc", "src");
  GstElement* demux = gst_element_factory_make("kivodemux", "demux");
  if (!src || !demux) {
    fprintf(stderr, "gst_pipeline_fuzz: the elements are not registered\n");
    abort();
  }
  // One input in three comes as a stream that can be sought (of unknown size
  // still): after its end a seek near the end makes the demuxer ask for the
  // data again from its seek point, and it is pushed from there.
  const bool seekable = size % 3 == 0;
  guint64 from = 0;
  GstCaps* caps = gst_caps_new_empty_simple("video/x-kivo");
  g_object_set(src, "stream-type", seekable ? GST_APP_STREAM_TYPE_SEEKABLE : GST_APP_STREAM_TYPE_STREAM, "format",
               GST_FORMAT_BYTES, "caps", caps, nullptr);
  gst_caps_unref(caps);
  if (seekable) g_signal_connect(src, "seek-data", G_CALLBACK(OnSeekData), &from);
  GstBus* bus = gst_element_get_bus(pipeline);
  gst_bus_set_sync_handler(bus, OnMessage, nullptr, nullptr);
  gst_bin_add_many(GST_BIN(pipeline), src, demux, nullptr);
  gst_element_link(src, demux);
  g_signal_connect(demux, "pad-added", G_CALLBACK(OnPad), pipeline);
  gst_pipeline_use_clock(GST_PIPELINE(pipeline), nullptr);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);

  Push(GST_APP_SRC(src), data, size, 0);
  gint64 duration = 0;
  if (WaitForTheEnd(bus) && seekable && gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration) &&
      duration > 0 &&
      gst_element_seek_simple(pipeline, GST_FORMAT_TIME,
                              static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), duration / 8 * 7)) {
    Push(GST_APP_SRC(src), data, size, from);
    WaitForTheEnd(bus);
  }
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return 0;
}
