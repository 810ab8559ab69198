// SPDX-License-Identifier: BSD-2-Clause
/* kivoaudiodec: one track's audio chunks into interleaved signed 16-bit
 * samples (8-bit tracks too, as the decoder gives every track). A buffer
 * flagged decode-only carries the decoder's state across a seek: it is
 * decoded and nothing is output. */
#include <string.h>

#include <gst/audio/audio.h>
#include <gst/audio/gstaudiodecoder.h>

#include "gstkivo.h"
#include "kivo/kivo_dec.h"

GST_DEBUG_CATEGORY_STATIC(kivo_audio_debug);
#define GST_CAT_DEFAULT kivo_audio_debug

struct _GstKivoAudioDec {
  GstAudioDecoder parent;
  KivoAudioDecoder* decoder;
};

G_DEFINE_TYPE(GstKivoAudioDec, gst_kivo_audio_dec, GST_TYPE_AUDIO_DECODER)

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS(KIVO_AUDIO_CAPS ", rate = (int) [ 1, 65535 ], channels = (int) [ 1, 2 ]"));
static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("audio/x-raw, format = (string) " GST_AUDIO_NE(S16)
                                            ", layout = (string) interleaved, rate = (int) [ 1, 65535 ], "
                                            "channels = (int) [ 1, 2 ]"));

static gboolean kivo_audio_set_format(GstAudioDecoder* dec, GstCaps* caps) {
  GstKivoAudioDec* self = GST_KIVO_AUDIO_DEC(dec);
  GstStructure* s = gst_caps_get_structure(caps, 0);
  gint rate = 0, channels = 0;
  guint word = 0;
  if (!gst_structure_get_int(s, "rate", &rate) || !gst_structure_get_int(s, "channels", &channels) ||
      !gst_structure_get_uint(s, "audio-word", &word))
    return FALSE;
  kivo_audio_close(self->decoder);
  self->decoder = NULL;
  int32_t status = kivo_audio_open(word, &self->decoder);
  if (status != KIVO_DEC_OK) {
    GST_ELEMENT_ERROR(dec, STREAM, DECODE, ("%s", kivo_dec_error_text(status)), (NULL));
    return FALSE;
  }
  GstAudioInfo info;
  gst_audio_info_init(&info);
  gst_audio_info_set_format(&info, GST_AUDIO_FORMAT_S16, rate, channels, NULL);
  return gst_audio_decoder_set_output_format(dec, &info);
}

static GstFlowReturn kivo_audio_handle_frame(GstAudioDecoder* dec, GstBuffer* buffer) {
  GstKivoAudioDec* self = GST_KIVO_AUDIO_DEC(dec);
  if (!buffer) return GST_FLOW_OK;  /* nothing is held back: no draining */
  if (!self->decoder) {
    GST_ELEMENT_ERROR(dec, CORE, NEGOTIATION, ("The Kivo audio decoder was given no stream format."), (NULL));
    return GST_FLOW_NOT_NEGOTIATED;
  }
  if (GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT)) kivo_audio_reset(self->decoder);
  GstMapInfo in;
  if (!gst_buffer_map(buffer, &in, GST_MAP_READ)) {
    GST_ELEMENT_ERROR(dec, RESOURCE, READ, ("A Kivo audio chunk cannot be read."), (NULL));
    return GST_FLOW_ERROR;
  }
  const uint32_t want = kivo_audio_decode_bytes(self->decoder, in.data, (uint32_t)in.size);
  if (GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DECODE_ONLY) || want == 0) {
    kivo_audio_decode(self->decoder, in.data, (uint32_t)in.size, NULL, 0, NULL);
    gst_buffer_unmap(buffer, &in);
    return gst_audio_decoder_finish_frame(dec, NULL, 1);
  }
  GstBuffer* out = gst_audio_decoder_allocate_output_buffer(dec, want);
  GstMapInfo o;
  if (!out || !gst_buffer_map(out, &o, GST_MAP_WRITE)) {
    gst_buffer_unmap(buffer, &in);
    if (out) gst_buffer_unref(out);
    GST_ELEMENT_ERROR(dec, RESOURCE, WRITE, ("No buffer for %u bytes of sound.", want), (NULL));
    return GST_FLOW_ERROR;
  }
  uint32_t bytes = 0;
  kivo_audio_decode(self->decoder, in.data, (uint32_t)in.size, (int16_t*)o.data, want, &bytes);
  gst_buffer_unmap(out, &o);
  gst_buffer_unmap(buffer, &in);
  if (bytes == 0) {
    gst_buffer_unref(out);
    return gst_audio_decoder_finish_frame(dec, NULL, 1);
  }
  gst_buffer_set_size(out, bytes);
  return gst_audio_decoder_finish_frame(dec, out, 1);
}

static gboolean kivo_audio_stop(GstAudioDecoder* dec) {
  GstKivoAudioDec* self = GST_KIVO_AUDIO_DEC(dec);
  kivo_audio_close(self->decoder);
  self->decoder = NULL;
  return TRUE;
}

static void gst_kivo_audio_dec_class_init(GstKivoAudioDecClass* klass) {
  GstElementClass* element = GST_ELEMENT_CLASS(klass);
  GstAudioDecoderClass* dec = GST_AUDIO_DECODER_CLASS(klass);
  gst_element_class_add_static_pad_template(element, &sink_template);
  gst_element_class_add_static_pad_template(element, &src_template);
  gst_element_class_set_static_metadata(element, "Kivo audio decoder", "Codec/Decoder/Audio",
                                        "Decodes a Kivo sound track into 16-bit samples", "Kivo");
  dec->set_format = GST_DEBUG_FUNCPTR(kivo_audio_set_format);
  dec->handle_frame = GST_DEBUG_FUNCPTR(kivo_audio_handle_frame);
  dec->stop = GST_DEBUG_FUNCPTR(kivo_audio_stop);
  GST_DEBUG_CATEGORY_INIT(kivo_audio_debug, "kivoaudiodec", 0, "Kivo audio decoder");
}

static void gst_kivo_audio_dec_init(GstKivoAudioDec* self) {
  gst_audio_decoder_set_needs_format(GST_AUDIO_DECODER(self), TRUE);
}
