// JGraphics::drawText: FreeType rendering with a process-wide cache of loaded font faces and of
// the glyphs drawn with them (a face redrawn on every value draws the same few glyphs again).
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "gfxkit/JGraphics.h"

namespace {
constexpr int kMinPixelSize = 6;
constexpr int kMaxPixelSize = 256;

// Every FreeType call goes through here, under mu: neither the library nor a face may be used
// from two threads at once. Destroyed at exit, freeing all FreeType resources.
class FontCache {
public:
  std::mutex mu;

  ~FontCache() {
    for (auto& f : faces_) FT_Done_Face(f.second);
    if (lib_) FT_Done_FreeType(lib_);
  }

  // The face for a font file, loaded on first use; nullptr when it cannot be loaded (not cached,
  // so a file that appears later is picked up). Caller holds mu.
  FT_Face face(const std::string& path) {
    auto it = faces_.find(path);
    if (it != faces_.end()) return it->second;
    if (!lib_ && FT_Init_FreeType(&lib_) != 0) {
      lib_ = nullptr;
      return nullptr;
    }
    FT_Face f = nullptr;
    if (FT_New_Face(lib_, path.c_str(), 0, &f) != 0) return nullptr;
    if (!FT_IS_SCALABLE(f) || FT_Select_Charmap(f, FT_ENCODING_UNICODE) != 0) {
      FT_Done_Face(f);
      return nullptr;
    }
    faces_.emplace(path, f);
    return f;
  }

  // A glyph of a face at a pixel size, as FreeType hints and renders it.
  struct Glyph {
    bool loaded = false;    // FreeType could load it: the advance is known
    long long advance = 0;  // 26.6
    bool rendered = false;  // the coverage below is there (empty for a glyph with no ink)
    int left = 0, top = 0, width = 0, rows = 0;
    std::vector<uint8_t> coverage;  // 0..255, rows of width
  };
  // The glyph, from the cache or loaded (and with render, drawn) at the size last set on face,
  // which must be px. Caller holds mu.
  const Glyph& glyph(FT_Face face, int px, FT_UInt index, bool render) {
    const GlyphKey key{face, static_cast<uint32_t>(px), index};
    auto it = glyphs_.find(key);
    if (it == glyphs_.end()) {
      if (glyphs_.size() >= kMaxGlyphs) glyphs_.clear();
      it = glyphs_.emplace(key, Glyph{}).first;
    }
    Glyph& g = it->second;
    if (g.loaded && (g.rendered || !render)) return g;
    if (FT_Load_Glyph(face, index, render ? FT_LOAD_DEFAULT | FT_LOAD_RENDER : FT_LOAD_DEFAULT) != 0) return g;
    const FT_GlyphSlot slot = face->glyph;
    g.loaded = true;
    g.advance = slot->advance.x;
    if (!render) return g;
    g.rendered = true;
    const FT_Bitmap& bm = slot->bitmap;
    if ((bm.pixel_mode != FT_PIXEL_MODE_GRAY && bm.pixel_mode != FT_PIXEL_MODE_MONO) || bm.width == 0 || bm.rows == 0 ||
        !bm.buffer)
      return g;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.width = static_cast<int>(bm.width);
    g.rows = static_cast<int>(bm.rows);
    g.coverage.resize(static_cast<size_t>(bm.width) * bm.rows);
    for (unsigned row = 0; row < bm.rows; ++row)
      for (unsigned col = 0; col < bm.width; ++col)
        g.coverage[static_cast<size_t>(row) * bm.width + col] = static_cast<uint8_t>(coverageOf(bm, col, row));
    return g;
  }

private:
  static constexpr size_t kMaxGlyphs = 8192;  // then forgotten all at once and drawn anew
  struct GlyphKey {
    FT_Face face;
    uint32_t px;
    FT_UInt index;
    bool operator==(const GlyphKey& o) const { return face == o.face && px == o.px && index == o.index; }
  };
  struct GlyphHash {
    size_t operator()(const GlyphKey& k) const {
      return std::hash<const void*>()(k.face) ^ (static_cast<size_t>(k.px) << 20) ^ static_cast<size_t>(k.index);
    }
  };

  // Coverage 0..255 of bitmap pixel (col, row), for the grey and monochrome formats.
  static int coverageOf(const FT_Bitmap& bm, unsigned col, unsigned row) {
    const int pitch = bm.pitch;
    const unsigned char* line = pitch >= 0 ? bm.buffer + static_cast<long>(row) * pitch
                                           : bm.buffer + static_cast<long>(bm.rows - 1 - row) * -pitch;
    if (bm.pixel_mode == FT_PIXEL_MODE_MONO) return (line[col >> 3] & (0x80 >> (col & 7))) ? 255 : 0;
    const int levels = bm.num_grays > 1 ? bm.num_grays - 1 : 255;
    return std::min(255, line[col] * 255 / levels);
  }

  FT_Library lib_ = nullptr;
  std::map<std::string, FT_Face> faces_;
  std::unordered_map<GlyphKey, Glyph, GlyphHash> glyphs_;
};

FontCache& fontCache() {
  static FontCache cache;
  return cache;
}

// UTF-8 to code points; a malformed byte becomes U+FFFD.
std::vector<char32_t> decodeUtf8(const std::string& s) {
  std::vector<char32_t> out;
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    bool ok = len > 0 && i + static_cast<size_t>(len) <= s.size();
    for (int k = 1; ok && k < len; ++k) {
      const unsigned char cc = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
      if ((cc & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are malformed too.
    static const char32_t kMinForLen[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (ok && (cp < kMinForLen[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (ok) {
      out.push_back(cp);
      i += static_cast<size_t>(len);
    } else {
      out.push_back(0xFFFD);
      ++i;
    }
  }
  return out;
}

// The advance width of the glyphs at a pixel size, in 26.6 units (hinted advances plus
// kerning); -1 when the size cannot be set. Leaves the face at that size.
long long measure(FontCache& cache, FT_Face face, const std::vector<FT_UInt>& glyphs, int px) {
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(px)) != 0) return -1;
  long long pen = 0;
  FT_UInt prev = 0;
  for (FT_UInt g : glyphs) {
    FT_Vector kern{0, 0};
    if (prev && FT_HAS_KERNING(face) && FT_Get_Kerning(face, prev, g, FT_KERNING_DEFAULT, &kern) == 0) pen += kern.x;
    const FontCache::Glyph& glyph = cache.glyph(face, px, g, false);
    if (glyph.loaded) pen += glyph.advance;
    prev = g;
  }
  return pen;
}

long long floorDiv64(long long v) { return v >= 0 ? v / 64 : -((-v + 63) / 64); }
}  // namespace

bool JGraphics::drawText(const std::string& text, const JRect& r) {
  FontCache& cache = fontCache();
  std::lock_guard<std::mutex> lock(cache.mu);
  FT_Face face = cache.face(fontPath_.empty() ? defaultFontPath() : fontPath_);
  if (!face) return false;

  JRegion area = clip_;
  area.intersect(r);
  if (text.empty() || area.isEmpty()) return true;

  std::vector<FT_UInt> glyphs;
  std::vector<char32_t> points = decodeUtf8(text);
  // Even the narrowest glyph at the smallest size takes more than half a pixel, so of a text too
  // long for r only its middle can show: measuring the rest would only cost time.
  const size_t most = std::max<size_t>(64, 2 * static_cast<size_t>(std::max(0, r.width)));
  if (points.size() > most) {
    const auto first = points.begin() + static_cast<long>((points.size() - most) / 2);
    points = std::vector<char32_t>(first, first + static_cast<long>(most));
  }
  for (char32_t cp : points) glyphs.push_back(FT_Get_Char_Index(face, cp));

  // Pixel size: 80% of the height, then the largest size not above it whose width fits.
  const int start = std::clamp(static_cast<int>(r.height * 0.8), kMinPixelSize, kMaxPixelSize);
  const long long limit = static_cast<long long>(r.width) * 64;
  int px = start;
  long long width = measure(cache, face, glyphs, px);
  if (width < 0) return false;
  if (width > limit) {
    // Advances scale nearly linearly; estimate, then correct by single steps.
    px = static_cast<int>(std::clamp<long long>(px * limit / width, kMinPixelSize, px - 1));
    width = measure(cache, face, glyphs, px);
    while (px > kMinPixelSize && width > limit) width = measure(cache, face, glyphs, --px);
    while (px < start - 1) {
      const long long w = measure(cache, face, glyphs, px + 1);
      if (w < 0 || w > limit) break;
      width = w;
      ++px;
    }
    if (measure(cache, face, glyphs, px) < 0) return false;  // leaves the face at size px
  }

  // Centre the advance box horizontally and the font's line box (ascender to descender)
  // vertically; all in 26.6 units.
  const FT_Size_Metrics& m = face->size->metrics;
  const long long lineHeight = static_cast<long long>(m.ascender) - m.descender;
  const long long baseline =
      static_cast<long long>(r.y) * 64 + (static_cast<long long>(r.height) * 64 - lineHeight) / 2 + m.ascender;
  const long long baselineY = floorDiv64(baseline + 32);
  long long pen = static_cast<long long>(r.x) * 64 + (limit - width) / 2;

  const JColor ink = color_;
  JRect inked;  // the union of the glyph boxes, for the text log
  bool anyInk = false;
  FT_UInt prev = 0;
  for (FT_UInt g : glyphs) {
    FT_Vector kern{0, 0};
    if (prev && FT_HAS_KERNING(face) && FT_Get_Kerning(face, prev, g, FT_KERNING_DEFAULT, &kern) == 0) pen += kern.x;
    prev = g;
    const FontCache::Glyph& glyph = cache.glyph(face, px, g, true);
    if (!glyph.loaded) continue;
    const long long originX = floorDiv64(pen + 32);
    pen += glyph.advance;
    if (glyph.coverage.empty()) continue;
    const long long gx = originX + glyph.left, gy = baselineY - glyph.top;
    if (gx < INT_MIN || gx > INT_MAX || gy < INT_MIN || gy > INT_MAX) continue;
    const JRect box(static_cast<int>(gx), static_cast<int>(gy), glyph.width, glyph.rows);
    inked = anyInk ? inked.unionWith(box) : box;
    anyInk = true;
    for (const JRect& c : area.rects()) {
      const JRect part = box.intersection(c);
      for (int y = part.y; y < part.y + part.height; ++y)
        for (int x = part.x; x < part.x + part.width; ++x) {
          const int cov = glyph.coverage[static_cast<size_t>(y - box.y) * static_cast<size_t>(glyph.width) +
                                         static_cast<size_t>(x - box.x)];
          if (cov == 0) continue;
          canvas_.setPixel(x, y,
                           JColor(ink.getRed(), ink.getGreen(), ink.getBlue(), (ink.getAlpha() * cov + 127) / 255));
        }
    }
  }
  if (textLog_ && anyInk) textLog_->push_back({text, inked});
  return true;
}
