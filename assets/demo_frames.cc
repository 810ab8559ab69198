// SPDX-License-Identifier: BSD-2-Clause
// Makes the source pictures of the demo movies from artwork pictures:
//   demo_frames movie OUT.y4m PIC0 ... PIC4   20 s of 640x480 at 25 fps: pans,
//       zooms, cross-fades, a sharp-edged card sliding over a still, a fade
//       to black, so that every block type has something to code
//   demo_frames sprite OUTDIR PIC             50 RGBA frames of 160x120: a disc
//       with soft edges cut from PIC, moving over transparency
// The movie is written as YUV4MPEG2 in the player's own YUV, so that kivenc
// codes exactly these pictures and a comparison of its output with them
// measures the coding alone.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "encode/colour_convert.h"

namespace {

constexpr int kWidth = 640, kHeight = 480, kFrames = 500;

struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes a pixel
};

bool ReadPicture(const char* path, Picture* p) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path)) return false;
  image.format = PNG_FORMAT_RGB;
  p->width = int(image.width);
  p->height = int(image.height);
  p->rgb.resize(PNG_IMAGE_SIZE(image));
  return png_image_finish_read(&image, nullptr, p->rgb.data(), 0, nullptr) != 0;
}

bool WriteRgba(const std::string& path, const std::vector<uint8_t>& rgba, int width, int height) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = uint32_t(width);
  image.height = uint32_t(height);
  image.format = PNG_FORMAT_RGBA;
  return png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr) != 0;
}

// The view of a picture: the source rectangle of `scale` source pixels per
// output pixel whose top left corner is (x, y), sampled bilinearly (with
// four taps a pixel when it shrinks, against aliasing).
struct View {
  double x = 0, y = 0, scale = 1;
};

void Sample(const Picture& p, double sx, double sy, double out[3]) {
  sx = std::clamp(sx, 0.0, double(p.width - 1));
  sy = std::clamp(sy, 0.0, double(p.height - 1));
  const int x0 = int(sx), y0 = int(sy);
  const int x1 = std::min(x0 + 1, p.width - 1), y1 = std::min(y0 + 1, p.height - 1);
  const double fx = sx - x0, fy = sy - y0;
  for (int c = 0; c < 3; ++c) {
    auto at = [&](int x, int y) { return double(p.rgb[(size_t(y) * p.width + x) * 3 + c]); };
    out[c] = (at(x0, y0) * (1 - fx) + at(x1, y0) * fx) * (1 - fy) + (at(x0, y1) * (1 - fx) + at(x1, y1) * fx) * fy;
  }
}

void Render(const Picture& p, const View& v, std::vector<double>& frame) {
  frame.assign(size_t(kWidth) * kHeight * 3, 0);
  const bool exact = v.scale == 1 && v.x == std::floor(v.x) && v.y == std::floor(v.y);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      double* out = &frame[(size_t(y) * kWidth + x) * 3];
      if (exact) {
        Sample(p, v.x + x, v.y + y, out);
        continue;
      }
      const int taps = v.scale > 1 ? 2 : 1;
      double sum[3] = {0, 0, 0}, one[3];
      for (int j = 0; j < taps; ++j)
        for (int i = 0; i < taps; ++i) {
          Sample(p, v.x + (x + (i + 0.5) / taps) * v.scale - 0.5, v.y + (y + (j + 0.5) / taps) * v.scale - 0.5,
                 one);
          for (int c = 0; c < 3; ++c) sum[c] += one[c];
        }
      for (int c = 0; c < 3; ++c) out[c] = sum[c] / (taps * taps);
    }
}

// The view that shows the whole picture.
View Whole(const Picture& p) { return View{0, 0, double(p.width) / kWidth}; }

// The view between two others, each of its numbers in proportion.
View Between(const View& from, const View& to, double t) {
  return View{from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t, from.scale + (to.scale - from.scale) * t};
}

double Ease(double t) { return t * t * (3 - 2 * t); }

// A card with sharp edges and a few flat colours: stripes, a checker, a
// solid bar and a patch of fine detail.
void DrawCard(std::vector<double>& frame, int left, int top, int frameNo) {
  const int w = 240, h = 144;
  uint32_t seed = 12345;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int fx = left + x, fy = top + y;
      if (fx < 0 || fy < 0 || fx >= kWidth || fy >= kHeight) continue;
      double rgb[3];
      seed = seed * 1103515245u + 12345u;
      if (x < 4 || y < 4 || x >= w - 4 || y >= h - 4) {
        rgb[0] = 250, rgb[1] = 250, rgb[2] = 250;
      } else if (y < 40) {
        const bool on = ((x / 6) + (y / 6)) % 2 == 0;
        rgb[0] = on ? 20 : 235, rgb[1] = on ? 30 : 200, rgb[2] = on ? 60 : 40;
      } else if (y < 72) {
        rgb[0] = 200, rgb[1] = 40, rgb[2] = 40;
      } else if (x < 120) {
        const bool on = (x + 2 * y) % 11 < 4;
        rgb[0] = on ? 240 : 10, rgb[1] = on ? 240 : 10, rgb[2] = on ? 240 : 10;
      } else {
        const double v = double((seed >> 16) & 255) * 0.6 + 50 + 40 * std::sin((x + frameNo) * 0.9);
        rgb[0] = v, rgb[1] = 255 - v, rgb[2] = (v + 128) / 2;
      }
      double* out = &frame[(size_t(fy) * kWidth + fx) * 3];
      for (int c = 0; c < 3; ++c) out[c] = rgb[c];
    }
}

void Mix(std::vector<double>& a, const std::vector<double>& b, double t) {
  for (size_t i = 0; i < a.size(); ++i) a[i] = a[i] * (1 - t) + b[i] * t;
}

bool WriteY4mFrame(FILE* out, const std::vector<double>& frame) {
  std::vector<uint8_t> rgb(frame.size());
  for (size_t i = 0; i < frame.size(); ++i) rgb[i] = uint8_t(std::clamp(std::lround(frame[i]), 0L, 255L));
  std::vector<uint8_t> y(size_t(kWidth) * kHeight), cr(size_t(kWidth / 2) * (kHeight / 2)), cb(cr.size());
  kivo::encode::RgbToYuv(rgb.data(), kWidth * 3, 3, kWidth, kHeight, false, false, y.data(), cr.data(), cb.data());
  // YUV4MPEG2 stores the blue-difference plane first.
  return fputs("FRAME\n", out) >= 0 && fwrite(y.data(), 1, y.size(), out) == y.size() &&
         fwrite(cb.data(), 1, cb.size(), out) == cb.size() && fwrite(cr.data(), 1, cr.size(), out) == cr.size();
}

int MakeMovie(const char* outPath, const std::vector<Picture>& pics) {
  FILE* out = fopen(outPath, "wb");
  if (!out) {
    fprintf(stderr, "demo_frames: cannot write %s\n", outPath);
    return 1;
  }
  fprintf(out, "YUV4MPEG2 W%d H%d F25:1 Ip A1:1 C420jpeg\n", kWidth, kHeight);
  const Picture &a = pics[0], &b = pics[1], &c = pics[2], &d = pics[3], &e = pics[4];
  std::vector<double> frame, other;
  bool ok = true;
  for (int f = 0; f < kFrames && ok; ++f) {
    auto panA = [&](int g) { return View{double(320 + 2 * g), double(std::min(a.height - kHeight, 120)), 1}; };
    auto zoomB = [&](int g) {
      // From the whole picture to a quarter of it around a point of interest.
      const double t = Ease(std::clamp((g - 125) / 100.0, 0.0, 1.0));
      return Between(Whole(b), View{b.width * 0.45 - kWidth / 2.0, b.height * 0.4 - kHeight / 2.0, 1}, t);
    };
    if (f < 100) {
      Render(a, panA(f), frame);
    } else if (f < 125) {
      Render(a, panA(f), frame);
      Render(b, zoomB(f), other);
      Mix(frame, other, (f - 100 + 1) / 26.0);
    } else if (f < 225) {
      Render(b, zoomB(f), frame);
    } else if (f < 250) {
      Render(b, zoomB(f), frame);
      Render(c, Whole(c), other);
      Mix(frame, other, (f - 225 + 1) / 26.0);
    } else if (f < 325) {
      // A still, with the card sliding over it at whole pixels a frame.
      Render(c, Whole(c), frame);
      DrawCard(frame, -240 + 4 * (f - 250) + (f - 250) * (f - 250) / 20, 60 + (f - 250), f);
    } else if (f < 400) {
      // A cut, then a slow pan upwards.
      Render(d, View{double(d.width - kWidth) / 2, double(d.height - kHeight) - double(f - 325), 1}, frame);
    } else if (f < 460) {
      // Zooming out of a picture.
      const double t = Ease((f - 400) / 60.0);
      Render(e, Between(View{e.width * 0.7 - kWidth / 2.0, e.height * 0.55 - kHeight / 2.0, 1}, Whole(e), t), frame);
    } else {
      Render(e, Whole(e), frame);
      const double t = (f - 460 + 1) / 40.0;
      for (double& v : frame) v *= 1 - t;
    }
    ok = WriteY4mFrame(out, frame);
  }
  ok = fclose(out) == 0 && ok;
  if (!ok) fprintf(stderr, "demo_frames: cannot write %s\n", outPath);
  return ok ? 0 : 1;
}

int MakeSprite(const std::string& dir, const Picture& p) {
  const int w = 160, h = 120, frames = 50, radius = 34;
  std::vector<uint8_t> rgba(size_t(w) * h * 4);
  for (int f = 0; f < frames; ++f) {
    const double angle = 2 * std::numbers::pi * f / frames;
    const double cx = w / 2.0 + 40 * std::cos(angle), cy = h / 2.0 + 22 * std::sin(2 * angle);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const double dist = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
        // Opaque inside, a soft edge of 10 pixels, transparent outside.
        const double alpha = std::clamp((radius - dist) / 10.0 + 0.5, 0.0, 1.0);
        double rgb[3];
        Sample(p, (x - cx + radius) * 6 + p.width * 0.3, (y - cy + radius) * 6 + p.height * 0.2, rgb);
        uint8_t* out = &rgba[(size_t(y) * w + x) * 4];
        for (int c = 0; c < 3; ++c) out[c] = alpha > 0 ? uint8_t(std::lround(rgb[c])) : 0;
        out[3] = uint8_t(std::lround(alpha * 255));
      }
    char name[32];
    snprintf(name, sizeof name, "/sprite%03d.png", f);
    if (!WriteRgba(dir + name, rgba, w, h)) {
      fprintf(stderr, "demo_frames: cannot write %s%s\n", dir.c_str(), name);
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const int needed = mode == "movie" ? 8 : mode == "sprite" ? 4 : 0;
  if (!needed || argc != needed) {
    fputs("usage: demo_frames movie OUT.y4m PIC0 PIC1 PIC2 PIC3 PIC4\n"
          "       demo_frames sprite OUTDIR PIC\n",
          stderr);
    return 1;
  }
  std::vector<Picture> pics(size_t(argc - 3));
  for (int i = 3; i < argc; ++i) {
    Picture& p = pics[size_t(i - 3)];
    if (!ReadPicture(argv[i], &p) || p.width < kWidth || p.height < kHeight) {
      fprintf(stderr, "demo_frames: %s is not a PNG picture of at least %dx%d\n", argv[i], kWidth, kHeight);
      return 1;
    }
  }
  return mode == "movie" ? MakeMovie(argv[2], pics) : MakeSprite(argv[2], pics[0]);
}
