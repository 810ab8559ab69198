// SPDX-License-Identifier: BSD-2-Clause
/* The plugin: its three elements and the type finder that recognises Kivo
 * files by their header (and the extension kiv), with ranks that let
 * playbin and decodebin pick them on their own. */
#include <gst/audio/gstaudiodecoder.h>
#include <gst/video/gstvideodecoder.h>

#include "gstkivo.h"

/* The certainty grows with what the bytes show: the magic alone (a file too
 * short for a header) is possible; a header whose fields a movie could have
 * is likely; a first index entry just past the tables, where every writer
 * puts it, makes it certain. A header of implausible fields is no movie. */
static void kivo_type_find(GstTypeFind* find, gpointer data) {
  (void)data;
  const guint8* b = gst_type_find_peek(find, 0, 4);
  if (!b || b[0] != 'K' || b[1] != 'I' || b[2] != 'V' || b[3] < 'f' || b[3] > 'i') return;
  const guint8* h = gst_type_find_peek(find, 0, 44);
  if (!h) {
    gst_type_find_suggest_empty_simple(find, GST_TYPE_FIND_POSSIBLE, KIVO_FILE_CAPS);
    return;
  }
  const guint32 frames = GST_READ_UINT32_LE(h + 8), indexLast = GST_READ_UINT32_LE(h + 16);
  const guint32 width = GST_READ_UINT32_LE(h + 20), height = GST_READ_UINT32_LE(h + 24);
  const guint32 rateNum = GST_READ_UINT32_LE(h + 28), rateDen = GST_READ_UINT32_LE(h + 32);
  const guint32 tracks = GST_READ_UINT32_LE(h + 40), dataSize = GST_READ_UINT32_LE(h + 4);
  const guint64 tablesEnd = 44 + 12 * (guint64)tracks + 4 * ((guint64)indexLast + 1);
  if (frames == 0 || indexLast < frames || width == 0 || width > 65536 || height == 0 || height > 65536 ||
      rateNum == 0 || rateDen == 0 || tracks > 4096 || tablesEnd > (guint64)dataSize + 8)
    return;
  const guint8* first = gst_type_find_peek(find, 44 + 12 * (gint64)tracks, 4);
  const gboolean placed = first && (GST_READ_UINT32_LE(first) & ~1u) == tablesEnd;
  gst_type_find_suggest_empty_simple(find, placed ? GST_TYPE_FIND_MAXIMUM : GST_TYPE_FIND_LIKELY, KIVO_FILE_CAPS);
}

static gboolean plugin_init(GstPlugin* plugin) {
  gboolean ok = gst_type_find_register(plugin, "video/x-kivo", GST_RANK_PRIMARY, kivo_type_find, "kiv",
                                       gst_static_caps_get(&(GstStaticCaps)GST_STATIC_CAPS(KIVO_FILE_CAPS)), NULL,
                                       NULL);
  ok &= gst_element_register(plugin, "kivodemux", GST_RANK_PRIMARY, GST_TYPE_KIVO_DEMUX);
  ok &= gst_element_register(plugin, "kivovideodec", GST_RANK_PRIMARY, GST_TYPE_KIVO_VIDEO_DEC);
  ok &= gst_element_register(plugin, "kivoaudiodec", GST_RANK_PRIMARY, GST_TYPE_KIVO_AUDIO_DEC);
  return ok;
}

#ifndef PACKAGE
#define PACKAGE "kivo"
#endif

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, kivo, "Kivo movies: demuxer, video and audio decoders",
                  plugin_init, KIVO_GST_VERSION, "BSD", "Kivo", KIVO_GST_ORIGIN)
