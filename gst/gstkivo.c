// SPDX-License-Identifier: BSD-2-Clause
/* The plugin: its three elements and the type finder that recognises Kivo
 * files by their magic (and the extension kiv), with ranks that let
 * playbin and decodebin pick them on their own. */
#include <gst/audio/gstaudiodecoder.h>
#include <gst/video/gstvideodecoder.h>

#include "gstkivo.h"

static void kivo_type_find(GstTypeFind* find, gpointer data) {
  (void)data;
  const guint8* bytes = gst_type_find_peek(find, 0, 4);
  if (bytes && bytes[0] == 'K' && bytes[1] == 'I' && bytes[2] == 'V' && bytes[3] >= 'f' && bytes[3] <= 'i')
    gst_type_find_suggest_empty_simple(find, GST_TYPE_FIND_MAXIMUM, KIVO_FILE_CAPS);
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
