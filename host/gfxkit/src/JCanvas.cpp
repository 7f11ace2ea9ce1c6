#include "gfxkit/JCanvas.h"

#include <png.h>

#include <algorithm>
#include <cstring>

namespace {
constexpr long long kMaxReadPixels = 1LL << 26;

void setError(std::string* error, const std::string& msg) {
  if (error) *error = msg;
}

// Source-over of c onto the 4 bytes at p.
inline void blend(uint8_t* p, int r, int g, int b, int a) {
  if (a >= 255) {
    p[0] = static_cast<uint8_t>(r);
    p[1] = static_cast<uint8_t>(g);
    p[2] = static_cast<uint8_t>(b);
    p[3] = 255;
    return;
  }
  if (a <= 0) return;
  const int da = p[3];
  const int inv = 255 - a;
  // Output alpha scaled by 255: a*255 + da*(255-a); never 0 here since a > 0.
  const int outA255 = a * 255 + da * inv;
  auto channel = [&](int sc, int dc) {
    return static_cast<uint8_t>((sc * a * 255 + dc * da * inv + outA255 / 2) / outA255);
  };
  p[0] = channel(r, p[0]);
  p[1] = channel(g, p[1]);
  p[2] = channel(b, p[2]);
  p[3] = static_cast<uint8_t>((outA255 + 127) / 255);
}
}  // namespace

JCanvas::JCanvas(int width, int height, const JColor& background)
    : w_(std::max(width, 0)), h_(std::max(height, 0)), px_(static_cast<size_t>(w_) * static_cast<size_t>(h_) * 4) {
  const uint8_t c[4] = {static_cast<uint8_t>(background.getRed()), static_cast<uint8_t>(background.getGreen()),
                        static_cast<uint8_t>(background.getBlue()), static_cast<uint8_t>(background.getAlpha())};
  for (size_t i = 0; i < px_.size(); i += 4) std::memcpy(&px_[i], c, 4);
}

JColor JCanvas::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= w_ || y >= h_) return JColor::black;
  const uint8_t* p = &px_[(static_cast<size_t>(y) * static_cast<size_t>(w_) + static_cast<size_t>(x)) * 4];
  return JColor(p[0], p[1], p[2], p[3]);
}

void JCanvas::setPixel(int x, int y, const JColor& c) {
  if (x < 0 || y < 0 || x >= w_ || y >= h_) return;
  blend(&px_[(static_cast<size_t>(y) * static_cast<size_t>(w_) + static_cast<size_t>(x)) * 4], c.getRed(), c.getGreen(),
        c.getBlue(), c.getAlpha());
}

void JCanvas::blendRect(const JRect& r, const JColor& c) {
  const JRect on = r.intersection(bounds());
  if (on.isEmpty() || c.getAlpha() == 0) return;
  const int cr = c.getRed(), cg = c.getGreen(), cb = c.getBlue(), ca = c.getAlpha();
  for (int y = on.y; y < on.y + on.height; ++y) {
    uint8_t* p = &px_[(static_cast<size_t>(y) * static_cast<size_t>(w_) + static_cast<size_t>(on.x)) * 4];
    for (int i = 0; i < on.width; ++i, p += 4) blend(p, cr, cg, cb, ca);
  }
}

bool JCanvas::writePNG(const std::string& path, std::string* error) const {
  if (w_ <= 0 || h_ <= 0) {
    setError(error, "cannot write an empty canvas as PNG");
    return false;
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w_);
  image.height = static_cast<png_uint_32>(h_);
  image.format = PNG_FORMAT_RGBA;
  if (!png_image_write_to_file(&image, path.c_str(), 0, px_.data(), 0, nullptr)) {
    setError(error, path + ": " + image.message);
    png_image_free(&image);
    return false;
  }
  png_image_free(&image);
  return true;
}

bool JCanvas::readPNG(const std::string& path, JCanvas& out, std::string* error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    setError(error, path + ": " + image.message);
    png_image_free(&image);
    return false;
  }
  const long long pixels = static_cast<long long>(image.width) * image.height;
  if (image.width == 0 || image.height == 0 || pixels > kMaxReadPixels) {
    setError(error, path + ": image too large or empty");
    png_image_free(&image);
    return false;
  }
  image.format = PNG_FORMAT_RGBA;
  JCanvas result(static_cast<int>(image.width), static_cast<int>(image.height), JColor(0, 0, 0, 0));
  if (!png_image_finish_read(&image, nullptr, result.px_.data(), 0, nullptr)) {
    setError(error, path + ": " + image.message);
    png_image_free(&image);
    return false;
  }
  png_image_free(&image);
  out = std::move(result);
  return true;
}
