// SPDX-License-Identifier: BSD-2-Clause
/* kivovideodec: each packet's video data into I420 pictures, A420 for
 * movies with an alpha plane, GRAY8 for grey movies. */
#include <string.h>

#include <gst/video/gstvideodecoder.h>
#include <gst/video/video.h>

#include "gstkivo.h"
#include "kivo/kivo_dec.h"

GST_DEBUG_CATEGORY_STATIC(kivo_video_debug);
#define GST_CAT_DEFAULT kivo_video_debug

struct _GstKivoVideoDec {
  GstVideoDecoder parent;
  KivoVideoDecoder* decoder;
  GstVideoCodecState* input;
  gboolean alpha, grey;
};

G_DEFINE_TYPE(GstKivoVideoDec, gst_kivo_video_dec, GST_TYPE_VIDEO_DECODER)

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS(KIVO_VIDEO_CAPS ", width = (int) [ 1, 65536 ], height = (int) [ 1, 65536 ]"));
static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ I420, A420, GRAY8 }")));

static void close_decoder(GstKivoVideoDec* self) {
  kivo_video_close(self->decoder);
  self->decoder = NULL;
  if (self->input) gst_video_codec_state_unref(self->input);
  self->input = NULL;
}

static gboolean kivo_video_set_format(GstVideoDecoder* dec, GstVideoCodecState* state) {
  GstKivoVideoDec* self = GST_KIVO_VIDEO_DEC(dec);
  GstStructure* s = gst_caps_get_structure(state->caps, 0);
  gint width = 0, height = 0, revision = 'i', flags = 0, mode = 0;
  guint options = 0;
  if (!gst_structure_get_int(s, "width", &width) || !gst_structure_get_int(s, "height", &height)) return FALSE;
  gst_structure_get_int(s, "revision", &revision);
  gst_structure_get_int(s, "video-flags", &flags);
  gst_structure_get_int(s, "display-mode", &mode);
  gst_structure_get_uint(s, "decoder-options", &options);
  close_decoder(self);
  KivoVideoParams params;
  memset(&params, 0, sizeof params);
  params.width = (uint32_t)width;
  params.height = (uint32_t)height;
  params.video_flags = (uint32_t)flags;
  params.revision = (uint32_t)revision;
  params.options = options;
  int32_t status = kivo_video_open(&params, &self->decoder);
  if (status != KIVO_DEC_OK) {
    GST_ELEMENT_ERROR(dec, STREAM, DECODE, ("%s", kivo_dec_error_text(status)), (NULL));
    return FALSE;
  }
  KivoPicture picture;
  kivo_video_picture(self->decoder, &picture);
  self->alpha = picture.alpha != NULL;
  self->grey = (flags & 0x20000) != 0;
  self->input = gst_video_codec_state_ref(state);
  GstVideoFormat format = self->alpha ? GST_VIDEO_FORMAT_A420 : self->grey ? GST_VIDEO_FORMAT_GRAY8 : GST_VIDEO_FORMAT_I420;
  GstVideoCodecState* out = gst_video_decoder_set_output_state(dec, format, (guint)width, (guint)height, state);
  /* The doubling the file asks a player for, as the shape of its pixels:
   * height doubled (modes 1 and 2) makes them twice as tall, width doubled
   * (3) twice as wide, both (4 and 5) or neither leaves them square. */
  out->info.par_n = mode == 3 ? 2 : 1;
  out->info.par_d = mode == 1 || mode == 2 ? 2 : 1;
  /* The player converts as BT.601 at limited range, each chroma sample
   * standing for the 2x2 block it covers (centred, as in JPEG). */
  if (format != GST_VIDEO_FORMAT_GRAY8) {
    gst_video_colorimetry_from_string(&out->info.colorimetry, GST_VIDEO_COLORIMETRY_BT601);
    out->info.chroma_site = GST_VIDEO_CHROMA_SITE_JPEG;
  }
  gst_video_codec_state_unref(out);
  return gst_video_decoder_negotiate(dec);
}

static void copy_plane(GstVideoFrame* frame, guint plane, const uint8_t* from, uint32_t pitch, uint32_t width,
                       uint32_t rows) {
  guint8* to = GST_VIDEO_FRAME_PLANE_DATA(frame, plane);
  const gint stride = GST_VIDEO_FRAME_PLANE_STRIDE(frame, plane);
  for (uint32_t y = 0; y < rows; ++y) memcpy(to + (gsize)y * stride, from + (gsize)y * pitch, width);
}

static GstFlowReturn kivo_video_handle_frame(GstVideoDecoder* dec, GstVideoCodecFrame* frame) {
  GstKivoVideoDec* self = GST_KIVO_VIDEO_DEC(dec);
  if (!self->decoder) {
    gst_video_decoder_drop_frame(dec, frame);
    GST_ELEMENT_ERROR(dec, CORE, NEGOTIATION, ("The Kivo video decoder was given no stream format."), (NULL));
    return GST_FLOW_NOT_NEGOTIATED;
  }
  GstMapInfo in;
  if (!gst_buffer_map(frame->input_buffer, &in, GST_MAP_READ)) {
    gst_video_decoder_drop_frame(dec, frame);
    GST_ELEMENT_ERROR(dec, RESOURCE, READ, ("A Kivo video packet cannot be read."), (NULL));
    return GST_FLOW_ERROR;
  }
  KivoPicture p;
  const int32_t status = kivo_video_decode(self->decoder, in.data, (uint32_t)in.size, &p);
  gst_buffer_unmap(frame->input_buffer, &in);
  if (status == KIVO_DEC_ERROR_DATA) GST_WARNING_OBJECT(self, "damaged video data; showing what decoded");
  else if (status != KIVO_DEC_OK) {
    gst_video_decoder_drop_frame(dec, frame);
    GST_ELEMENT_ERROR(dec, STREAM, DECODE, ("%s", kivo_dec_error_text(status)), (NULL));
    return GST_FLOW_ERROR;
  }
  GstFlowReturn ret = gst_video_decoder_allocate_output_frame(dec, frame);
  if (ret != GST_FLOW_OK) {
    gst_video_decoder_drop_frame(dec, frame);
    return ret;
  }
  GstVideoCodecState* state = gst_video_decoder_get_output_state(dec);
  GstVideoFrame out;
  if (!gst_video_frame_map(&out, &state->info, frame->output_buffer, GST_MAP_WRITE)) {
    gst_video_codec_state_unref(state);
    gst_video_decoder_drop_frame(dec, frame);
    GST_ELEMENT_ERROR(dec, RESOURCE, WRITE, ("A picture buffer cannot be written."), (NULL));
    return GST_FLOW_ERROR;
  }
  /* Every plane of the format is written, also the chroma of a grey movie
   * with alpha (A420), which the decoder holds at 128. */
  copy_plane(&out, 0, p.y, p.pitch, p.width, p.height);
  if (GST_VIDEO_FRAME_N_PLANES(&out) >= 3) {
    copy_plane(&out, 1, p.u, p.chroma_pitch, p.chroma_width, p.chroma_height);
    copy_plane(&out, 2, p.v, p.chroma_pitch, p.chroma_width, p.chroma_height);
  }
  if (self->alpha) copy_plane(&out, 3, p.alpha, p.pitch, p.width, p.height);
  gst_video_frame_unmap(&out);
  gst_video_codec_state_unref(state);
  return gst_video_decoder_finish_frame(dec, frame);
}

static gboolean kivo_video_flush(GstVideoDecoder* dec) {
  /* After a seek decoding starts at a key frame, over cleared pictures as
   * at the start. */
  kivo_video_reset(GST_KIVO_VIDEO_DEC(dec)->decoder);
  return TRUE;
}

static gboolean kivo_video_stop(GstVideoDecoder* dec) {
  close_decoder(GST_KIVO_VIDEO_DEC(dec));
  return TRUE;
}

static void gst_kivo_video_dec_class_init(GstKivoVideoDecClass* klass) {
  GstElementClass* element = GST_ELEMENT_CLASS(klass);
  GstVideoDecoderClass* dec = GST_VIDEO_DECODER_CLASS(klass);
  gst_element_class_add_static_pad_template(element, &sink_template);
  gst_element_class_add_static_pad_template(element, &src_template);
  gst_element_class_set_static_metadata(element, "Kivo video decoder", "Codec/Decoder/Video",
                                        "Decodes Kivo video into I420, A420 or GRAY8", "Kivo");
  dec->set_format = GST_DEBUG_FUNCPTR(kivo_video_set_format);
  dec->handle_frame = GST_DEBUG_FUNCPTR(kivo_video_handle_frame);
  dec->flush = GST_DEBUG_FUNCPTR(kivo_video_flush);
  dec->stop = GST_DEBUG_FUNCPTR(kivo_video_stop);
  GST_DEBUG_CATEGORY_INIT(kivo_video_debug, "kivovideodec", 0, "Kivo video decoder");
}

static void gst_kivo_video_dec_init(GstKivoVideoDec* self) {
  gst_video_decoder_set_packetized(GST_VIDEO_DECODER(self), TRUE);
  gst_video_decoder_set_needs_format(GST_VIDEO_DECODER(self), TRUE);
}
