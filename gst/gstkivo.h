// SPDX-License-Identifier: BSD-2-Clause
/* The Kivo GStreamer plugin's elements: the demuxer and the two decoders,
 * each built on the library's C API only. */
#ifndef GST_KIVO_H
#define GST_KIVO_H

#include <gst/audio/gstaudiodecoder.h>
#include <gst/gst.h>
#include <gst/video/gstvideodecoder.h>

G_BEGIN_DECLS

/* Caps between the elements: the file, each packet's video data, and one
 * track's audio chunks. */
#define KIVO_FILE_CAPS "video/x-kivo"
#define KIVO_VIDEO_CAPS "video/x-kivo-video"
#define KIVO_AUDIO_CAPS "audio/x-kivo-audio"

#define GST_TYPE_KIVO_DEMUX (gst_kivo_demux_get_type())
G_DECLARE_FINAL_TYPE(GstKivoDemux, gst_kivo_demux, GST, KIVO_DEMUX, GstElement)

#define GST_TYPE_KIVO_VIDEO_DEC (gst_kivo_video_dec_get_type())
G_DECLARE_FINAL_TYPE(GstKivoVideoDec, gst_kivo_video_dec, GST, KIVO_VIDEO_DEC, GstVideoDecoder)

#define GST_TYPE_KIVO_AUDIO_DEC (gst_kivo_audio_dec_get_type())
G_DECLARE_FINAL_TYPE(GstKivoAudioDec, gst_kivo_audio_dec, GST, KIVO_AUDIO_DEC, GstAudioDecoder)

G_END_DECLS

#endif
