// SPDX-License-Identifier: BSD-2-Clause
/* Runs a pipeline to its end, or from a seek: prerolls it, seeks (flushing,
 * to the key frame at or before the time), prints the position it landed on
 * and plays it to the end. Exit code 0 at the end of the stream, 1 on an
 * error message (printed), 2 when nothing happens in 60 s. (gst-launch-1.0
 * can hang when an element fails before it has made its pads.)
 *
 *   gst_seek_check [accurate:|after:|segment:]SECONDS|frame:N|play|preroll|storm:N PIPELINE
 * (a key-unit seek, or accurate; after: snaps to the key frame after;
 * segment: a segment seek, which ends in SEGMENT_DONE rather than the end
 * of the stream; replay: plays to the end first, then seeks; frame:N seeks to frame N, counted from 0, in the default
 * format; preroll
 * only prerolls, within 10 s; storm:N plays while N flushing seeks follow
 * one another 10 ms apart, then plays to the end; planes:OUT plays to the
 * end and writes every picture that reaches the element named "planes" to
 * OUT, each plane's visible rows read through the frame's strides; stamps
 * plays to the end and prints the latest end time, in seconds, of the
 * buffers that reach the element named "stamps"). */
#include <string.h>
#include <stdio.h>
#include <stdlib.h>

#include <gst/gst.h>
#include <gst/video/video.h>

static int wait_within(GstElement* pipeline, GstMessageType types, GstClockTime timeout) {
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* m = gst_bus_timed_pop_filtered(bus, timeout, types | GST_MESSAGE_ERROR);
  gst_object_unref(bus);
  if (!m) return 2;
  int result = 0;
  if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
    GError* error = NULL;
    gst_message_parse_error(m, &error, NULL);
    fprintf(stderr, "gst_seek_check: %s\n", error ? error->message : "error");
    g_clear_error(&error);
    result = 1;
  }
  gst_message_unref(m);
  return result;
}

static int wait_for(GstElement* pipeline, GstMessageType types) { return wait_within(pipeline, types, 60 * GST_SECOND); }

static GstPadProbeReturn note_end(GstPad* pad, GstPadProbeInfo* info, gpointer latest) {
  GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
  if (GST_BUFFER_PTS_IS_VALID(b)) {
    const GstClockTime end = GST_BUFFER_PTS(b) + (GST_BUFFER_DURATION_IS_VALID(b) ? GST_BUFFER_DURATION(b) : 0);
    if (end > *(GstClockTime*)latest) *(GstClockTime*)latest = end;
  }
  return GST_PAD_PROBE_OK;
}

static GstPadProbeReturn write_planes(GstPad* pad, GstPadProbeInfo* info, gpointer out) {
  GstCaps* caps = gst_pad_get_current_caps(pad);
  GstVideoInfo video;
  const gboolean known = caps && gst_video_info_from_caps(&video, caps);
  if (caps) gst_caps_unref(caps);
  GstVideoFrame frame;
  if (!known || !gst_video_frame_map(&frame, &video, GST_PAD_PROBE_INFO_BUFFER(info), GST_MAP_READ)) {
    fprintf(stderr, "gst_seek_check: a picture cannot be mapped\n");
    exit(1);
  }
  for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(&frame); ++p) {
    const guint8* rows = GST_VIDEO_FRAME_PLANE_DATA(&frame, p);
    const gint stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p);
    const gint width = GST_VIDEO_FRAME_COMP_WIDTH(&frame, p), height = GST_VIDEO_FRAME_COMP_HEIGHT(&frame, p);
    for (gint y = 0; y < height; ++y) fwrite(rows + (gsize)y * stride, 1, (size_t)width, out);
  }
  gst_video_frame_unmap(&frame);
  return GST_PAD_PROBE_OK;
}

/* Flushing seeks across the movie while it plays, each before the last has
 * settled; then the end of the stream. */
static int storm(GstElement* pipeline, int seeks) {
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  int result = wait_for(pipeline, GST_MESSAGE_ASYNC_DONE);
  gint64 duration = 0;
  if (result == 0 && !gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration)) result = 1;
  for (int i = 0; i < seeks && result == 0; ++i) {
    const gint64 at = duration / 100 * ((i * 37) % 90);
    gst_element_seek_simple(pipeline, GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT, at);
    g_usleep(10000);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    gst_object_unref(bus);
    if (m) {
      GError* error = NULL;
      gst_message_parse_error(m, &error, NULL);
      fprintf(stderr, "gst_seek_check: seek %d: %s\n", i, error ? error->message : "error");
      g_clear_error(&error);
      gst_message_unref(m);
      result = 1;
    }
  }
  if (result == 0) result = wait_for(pipeline, GST_MESSAGE_EOS);
  return result;
}

int main(int argc, char** argv) {
  gst_init(&argc, &argv);
  if (argc != 3) {
    fprintf(stderr, "usage: gst_seek_check SECONDS PIPELINE\n");
    return 2;
  }
  GError* error = NULL;
  GstElement* pipeline = gst_parse_launch(argv[2], &error);
  if (!pipeline) {
    fprintf(stderr, "gst_seek_check: %s\n", error ? error->message : "no pipeline");
    return 1;
  }
  if (!strncmp(argv[1], "storm:", 6) || !strcmp(argv[1], "preroll")) {
    int result;
    if (argv[1][0] == 's') {
      result = storm(pipeline, atoi(argv[1] + 6));
    } else {
      gst_element_set_state(pipeline, GST_STATE_PAUSED);
      result = wait_within(pipeline, GST_MESSAGE_ASYNC_DONE, 10 * GST_SECOND);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return result;
  }
  if (!strncmp(argv[1], "planes:", 7)) {
    FILE* out = fopen(argv[1] + 7, "wb");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "planes");
    GstPad* pad = sink ? gst_element_get_static_pad(sink, "sink") : NULL;
    if (!out || !pad) {
      fprintf(stderr, "gst_seek_check: no output file or no element named planes\n");
      return 1;
    }
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, write_planes, out, NULL);
    gst_object_unref(pad);
    gst_object_unref(sink);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    int result = wait_for(pipeline, GST_MESSAGE_EOS);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    if (fclose(out) != 0) result = 1;
    return result;
  }
  if (!strcmp(argv[1], "stamps")) {
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "stamps");
    GstPad* pad = sink ? gst_element_get_static_pad(sink, "sink") : NULL;
    if (!pad) {
      fprintf(stderr, "gst_seek_check: no element named stamps\n");
      return 1;
    }
    GstClockTime latest = 0;
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, note_end, &latest, NULL);
    gst_object_unref(pad);
    gst_object_unref(sink);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    const int result = wait_for(pipeline, GST_MESSAGE_EOS);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    printf("%.3f\n", latest / (double)GST_SECOND);
    return result;
  }
  if (!strcmp(argv[1], "play")) {
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    int result = wait_for(pipeline, GST_MESSAGE_EOS);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return result;
  }
  const gboolean replay = !strncmp(argv[1], "replay:", 7);
  gst_element_set_state(pipeline, replay ? GST_STATE_PLAYING : GST_STATE_PAUSED);
  int result = wait_for(pipeline, replay ? GST_MESSAGE_EOS : GST_MESSAGE_ASYNC_DONE);
  if (replay && result == 0) {
    /* Seek paused, as after a preroll, so that the position is where it landed. */
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    gst_element_get_state(pipeline, NULL, NULL, 10 * GST_SECOND);
  }
  GstMessageType end = GST_MESSAGE_EOS;
  if (result == 0) {
    const char* at_text = argv[1];
    GstSeekFlags flags = GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT;
    if (!strncmp(at_text, "accurate:", 9)) {
      flags = GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE;
      at_text += 9;
    } else if (!strncmp(at_text, "after:", 6)) {
      flags |= GST_SEEK_FLAG_SNAP_AFTER;
      at_text += 6;
    } else if (replay) {
      at_text += 7;
    } else if (!strncmp(at_text, "segment:", 8)) {
      flags |= GST_SEEK_FLAG_SEGMENT;
      end = GST_MESSAGE_SEGMENT_DONE;
      at_text += 8;
    }
    const gboolean frames = !strncmp(at_text, "frame:", 6);
    const gint64 at = frames ? atoll(at_text + 6) : (gint64)(atof(at_text) * GST_SECOND);
    if (!gst_element_seek_simple(pipeline, frames ? GST_FORMAT_DEFAULT : GST_FORMAT_TIME, flags, at)) {
      fprintf(stderr, "gst_seek_check: the seek was refused\n");
      result = 1;
    }
  }
  if (result == 0) result = wait_for(pipeline, GST_MESSAGE_ASYNC_DONE);
  if (result == 0) {
    gint64 position = -1;
    gst_element_query_position(pipeline, GST_FORMAT_TIME, &position);
    printf("%.3f\n", position / (double)GST_SECOND);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    result = wait_for(pipeline, end);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return result;
}
