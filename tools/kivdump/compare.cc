// SPDX-License-Identifier: BSD-2-Clause
// Picture quality against a source: squared errors summed over the whole
// movie (so the PSNR is that of the movie's mean error, not a mean of frame
// PSNRs), the worst frame, and SSIM over 8x8 windows.
#include "compare.h"

#include <algorithm>
#include <cmath>

#include "encode/input_y4m.h"

namespace kivo::tools {

struct SourceFrames {
  encode::Y4mInput in;
  encode::SourcePicture picture;
  ~SourceFrames() { encode::CloseY4m(in); }
};

Comparison::Comparison() = default;
Comparison::~Comparison() = default;

std::string OpenComparison(Comparison& c, const std::string& path, uint32_t width, uint32_t height) {
  c.path = path;
  c.source = std::make_unique<SourceFrames>();
  std::string why;
  if (!encode::OpenY4m(c.source->in, path, &why)) return why;
  if (c.source->in.width != width || c.source->in.height != height)
    return path + " is " + std::to_string(c.source->in.width) + "x" + std::to_string(c.source->in.height) +
           ", the movie " + std::to_string(width) + "x" + std::to_string(height);
  return "";
}

std::string CompareFrame(Comparison& c, const MoviePicture& p, bool colour) {
  std::string why;
  const encode::SourcePicture& s = c.source->picture;
  const int got = encode::ReadY4mFrame(c.source->in, c.source->picture, &why);
  if (got < 0) return why;
  if (got == 0) return c.path + " has fewer frames than the movie";
  colour = colour && !s.cb.empty();
  MeasureFrame(c.meter, p.width, p.height, p.luma, p.pitch, colour ? p.u : nullptr, colour ? p.v : nullptr,
               p.chromaPitch, s.luma.data(), colour ? s.cb.data() : nullptr, colour ? s.cr.data() : nullptr);
  return "";
}
namespace {

double Squares(uint32_t width, uint32_t height, const uint8_t* a, uint32_t pitchA, const uint8_t* b,
               uint32_t pitchB) {
  uint64_t sum = 0;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* ra = a + size_t(y) * pitchA;
    const uint8_t* rb = b + size_t(y) * pitchB;
    uint32_t row = 0;
    for (uint32_t x = 0; x < width; ++x) {
      const int d = int(ra[x]) - int(rb[x]);
      row += uint32_t(d * d);
    }
    sum += row;
  }
  return double(sum);
}

}  // namespace

double PsnrOf(double squares, uint64_t samples) {
  if (samples == 0 || squares <= 0) return 99;
  return std::min(99.0, 10 * std::log10(255.0 * 255.0 * double(samples) / squares));
}

double LumaSsim(uint32_t width, uint32_t height, const uint8_t* a, uint32_t pitchA, const uint8_t* b,
                uint32_t pitchB) {
  const double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
  double total = 0;
  uint64_t windows = 0;
  for (uint32_t y = 0; y + 8 <= height; y += 4)
    for (uint32_t x = 0; x + 8 <= width; x += 4) {
      uint32_t sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
      for (uint32_t j = 0; j < 8; ++j)
        for (uint32_t i = 0; i < 8; ++i) {
          const uint32_t va = a[size_t(y + j) * pitchA + x + i], vb = b[size_t(y + j) * pitchB + x + i];
          sa += va;
          sb += vb;
          saa += va * va;
          sbb += vb * vb;
          sab += va * vb;
        }
      const double ma = sa / 64.0, mb = sb / 64.0;
      const double va = saa / 64.0 - ma * ma, vb = sbb / 64.0 - mb * mb, cov = sab / 64.0 - ma * mb;
      total += ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
      ++windows;
    }
  return windows ? total / double(windows) : 1.0;
}

void MeasureFrame(QualityMeter& m, uint32_t width, uint32_t height, const uint8_t* y, uint32_t pitch,
                  const uint8_t* u, const uint8_t* v, uint32_t chromaPitch, const uint8_t* srcY,
                  const uint8_t* srcU, const uint8_t* srcV) {
  const double luma = Squares(width, height, y, pitch, srcY, width);
  const uint64_t samples = uint64_t(width) * height;
  m.lumaSquares += luma;
  m.lumaSamples += samples;
  ++m.frames;
  const double psnr = PsnrOf(luma, samples);
  if (psnr < m.worstPsnr) {
    m.worstPsnr = psnr;
    m.worstFrame = m.frames;
  }
  m.ssimSum += LumaSsim(width, height, y, pitch, srcY, width);
  if (u && v && srcU && srcV) {
    const uint32_t cw = (width + 1) / 2, ch = (height + 1) / 2;
    m.chromaSquares += Squares(cw, ch, u, chromaPitch, srcU, cw) + Squares(cw, ch, v, chromaPitch, srcV, cw);
    m.chromaSamples += 2 * uint64_t(cw) * ch;
  }
}

void WriteQuality(const QualityMeter& m, FILE* out) {
  fprintf(out, "luma PSNR %.2f dB", PsnrOf(m.lumaSquares, m.lumaSamples));
  if (m.chromaSamples) fprintf(out, ", chroma PSNR %.2f dB", PsnrOf(m.chromaSquares, m.chromaSamples));
  fprintf(out, ", luma SSIM %.4f, lowest frame %.2f dB (frame %llu), %llu frames\n",
          m.frames ? m.ssimSum / double(m.frames) : 1.0, m.frames ? m.worstPsnr : 99.0,
          static_cast<unsigned long long>(m.worstFrame), static_cast<unsigned long long>(m.frames));
}

}  // namespace kivo::tools
