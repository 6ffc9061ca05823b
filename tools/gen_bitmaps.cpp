// Draws the player's tool-button bitmaps and its program icon, pixel by pixel, and writes them as
// files that are compiled into the program as resources:
//   app/resources/bmp/BITMAP_*.bmp   20 x 18, 24-bit, on the button face grey
//   app/resources/vlmplay.png        48 x 48 program icon (RGBA)
//   app/resources/vlmplay256.png     256 x 256 program icon (RGBA)
// Regenerate from the repository root after a build:
//   build/tools/gen_bitmaps [output folder, default app/resources] [--sheet contact-sheet.png]
// The contact sheet shows every button picture at 1x and 4x on one page, for looking them over.
//
// Every picture is a list of shapes (filled polygons, discs, rings, strokes) given in pixel
// coordinates; each pixel is sampled 4 x 4 times so that slanted edges come out smooth. The BMP and
// PNG files are written by hand (the PNG with uncompressed deflate blocks), so this tool needs
// nothing beyond the standard library and the core's file writer.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "util/files.h"

namespace {

constexpr int BUTTON_W = 20;
constexpr int BUTTON_H = 18;
constexpr int SUPERSAMPLE = 4;

struct Rgb {
  float r, g, b;
};
constexpr Rgb rgb(uint32_t v) {
  return {float((v >> 16) & 0xFF), float((v >> 8) & 0xFF), float(v & 0xFF)};
}

// Colours of the button pictures.
constexpr Rgb FACE = rgb(0xC0C0C0);  // the button face the pictures sit on
constexpr Rgb INK = rgb(0x202020);
constexpr Rgb GREEN = rgb(0x107830);
constexpr Rgb NAVY = rgb(0x203078);
constexpr Rgb BLUE = rgb(0x1E50B4);
constexpr Rgb RED = rgb(0xD01818);
constexpr Rgb DARK_RED = rgb(0x801010);
constexpr Rgb FOLDER = rgb(0xF0C848);
constexpr Rgb FOLDER_FRONT = rgb(0xF8DC78);
constexpr Rgb FOLDER_EDGE = rgb(0x705010);
constexpr Rgb WHITE = rgb(0xFFFFFF);
constexpr Rgb PAPER_FOLD = rgb(0xD8D8D8);
constexpr Rgb TEXT_LINE = rgb(0x5070A0);
constexpr Rgb STEEL = rgb(0x485868);
constexpr Rgb GOLD = rgb(0xF0C020);
constexpr Rgb GOLD_EDGE = rgb(0x806000);
constexpr Rgb GREY_SHADOW = rgb(0x808080);

using Inside = std::function<bool(float, float)>;

struct Point {
  float x, y;
};

// RGBA canvas, colour channels 0..255 not premultiplied, alpha 0..1.
class Canvas {
 public:
  Canvas(int w, int h, Rgb fill, float alpha) : w_(w), h_(h), px_(size_t(w * h)) {
    for (auto& p : px_) p = {fill.r, fill.g, fill.b, alpha};
  }
  int width() const { return w_; }
  int height() const { return h_; }

  // Paints the region `inside` (pixel coordinates, y down) in colour `c` with opacity `alpha`,
  // shifted by (dx, dy).
  void paint(const Inside& inside, Rgb c, float dx = 0, float dy = 0, float alpha = 1) {
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x) {
        int hits = 0;
        for (int sy = 0; sy < SUPERSAMPLE; ++sy)
          for (int sx = 0; sx < SUPERSAMPLE; ++sx) {
            const float fx = x + (sx + 0.5f) / SUPERSAMPLE - dx;
            const float fy = y + (sy + 0.5f) / SUPERSAMPLE - dy;
            if (inside(fx, fy)) ++hits;
          }
        if (hits) blend(x, y, c, alpha * float(hits) / (SUPERSAMPLE * SUPERSAMPLE));
      }
  }

  void blend(int x, int y, Rgb c, float a) {
    Pixel& p = px_[size_t(y * w_ + x)];
    const float outA = a + p.a * (1 - a);
    if (outA <= 0) return;
    p.r = (c.r * a + p.r * p.a * (1 - a)) / outA;
    p.g = (c.g * a + p.g * p.a * (1 - a)) / outA;
    p.b = (c.b * a + p.b * p.a * (1 - a)) / outA;
    p.a = outA;
  }

  void pixel(int x, int y, uint8_t out[4]) const {
    const Pixel& p = px_[size_t(y * w_ + x)];
    auto to8 = [](float v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); };
    out[0] = to8(p.r);
    out[1] = to8(p.g);
    out[2] = to8(p.b);
    out[3] = to8(p.a * 255);
  }

 private:
  struct Pixel {
    float r, g, b, a;
  };
  int w_, h_;
  std::vector<Pixel> px_;
};

// ---- shapes ----

Inside box(float x0, float y0, float x1, float y1) {
  return [=](float x, float y) { return x >= x0 && x < x1 && y >= y0 && y < y1; };
}

Inside polygon(std::vector<Point> pts) {
  return [pts](float x, float y) {
    bool in = false;
    for (size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
      const Point a = pts[i], b = pts[j];
      if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) in = !in;
    }
    return in;
  };
}

Inside disc(float cx, float cy, float r) {
  return [=](float x, float y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; };
}

Inside ellipse(float cx, float cy, float rx, float ry, float angle = 0) {
  const float c = std::cos(angle), s = std::sin(angle);
  return [=](float x, float y) {
    const float u = ((x - cx) * c + (y - cy) * s) / rx;
    const float v = (-(x - cx) * s + (y - cy) * c) / ry;
    return u * u + v * v <= 1;
  };
}

Inside ring(float cx, float cy, float r0, float r1) {
  return [=](float x, float y) {
    const float d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
    return d >= r0 * r0 && d <= r1 * r1;
  };
}

// A stroke of the given width along the segment a-b, with square-cut ends.
Inside stroke(Point a, Point b, float width) {
  return [=](float x, float y) {
    const float vx = b.x - a.x, vy = b.y - a.y;
    const float len2 = vx * vx + vy * vy;
    const float t = ((x - a.x) * vx + (y - a.y) * vy) / len2;
    if (t < 0 || t > 1) return false;
    const float px = a.x + t * vx - x, py = a.y + t * vy - y;
    return px * px + py * py <= width * width / 4;
  };
}

Inside minus(Inside a, Inside b) {
  return [=](float x, float y) { return a(x, y) && !b(x, y); };
}
Inside both(Inside a, Inside b) {
  return [=](float x, float y) { return a(x, y) && b(x, y); };
}

// Fills the polygon and draws its edges one pixel wide (edges on half-pixel coordinates come out
// crisp).
void outlined(Canvas& c, const std::vector<Point>& pts, Rgb fill, Rgb edge, float dx = 0,
              float dy = 0) {
  c.paint(polygon(pts), fill, dx, dy);
  for (size_t i = 0; i < pts.size(); ++i)
    c.paint(stroke(pts[i], pts[(i + 1) % pts.size()], 1.0f), edge, dx, dy);
  for (const Point& p : pts)
    c.paint(box(p.x - 0.5f, p.y - 0.5f, p.x + 0.5f, p.y + 0.5f), edge, dx, dy);
}

// ---- the button pictures ----

void drawPlay(Canvas& c, Rgb ink, float dx = 0, float dy = 0) {
  c.paint(polygon({{6.5f, 3.5f}, {6.5f, 14.5f}, {15, 9}}), ink, dx, dy);
}

void drawStop(Canvas& c) {
  c.paint(box(5.5f, 4.5f, 14.5f, 13.5f), NAVY);
}

void drawPause(Canvas& c) {
  c.paint(box(5.5f, 4, 8.5f, 14), NAVY);
  c.paint(box(11.5f, 4, 14.5f, 14), NAVY);
}

void drawOpen(Canvas& c) {
  // Back of the folder with its tab, then the opened front flap.
  outlined(c,
           {{2.5f, 3.5f}, {7.5f, 3.5f}, {8.5f, 4.5f}, {15.5f, 4.5f}, {15.5f, 14.5f}, {2.5f, 14.5f}},
           FOLDER, FOLDER_EDGE);
  outlined(c, {{5.5f, 7.5f}, {18.5f, 7.5f}, {15.5f, 14.5f}, {2.5f, 14.5f}}, FOLDER_FRONT,
           FOLDER_EDGE);
}

void drawFlat(Canvas& c) {
  c.paint(box(7, 1.5f, 8.6f, 16), INK);
  // The bowl: an oval leaning right whose hollow is cut out, joined to the stem at the bottom.
  const Inside outer = ellipse(10.3f, 12.0f, 4.1f, 3.4f, -0.6f);
  const Inside hollow = ellipse(9.8f, 12.6f, 2.3f, 1.4f, -0.6f);
  c.paint(both(minus(outer, hollow), [](float x, float y) { return x >= 7.5f && y <= 16; }), INK);
}

void drawSharp(Canvas& c) {
  c.paint(box(7, 3.5f, 8.5f, 16.5f), INK);
  c.paint(box(11.5f, 1.5f, 13, 14.5f), INK);
  c.paint(stroke({4.5f, 7.6f}, {15.5f, 5.4f}, 2.2f), INK);
  c.paint(stroke({4.5f, 12.6f}, {15.5f, 10.4f}, 2.2f), INK);
}

void drawSpeaker(Canvas& c) {
  c.paint(box(2, 6.5f, 5, 11.5f), INK);
  c.paint(polygon({{4.5f, 6.5f}, {9, 2.5f}, {9, 15.5f}, {4.5f, 11.5f}}), INK);
}

void drawMinus(Canvas& c) {
  drawSpeaker(c);
  c.paint(box(11.5f, 8, 18.5f, 10), BLUE);
}

void drawPlus(Canvas& c) {
  drawSpeaker(c);
  c.paint(box(11.5f, 8, 18.5f, 10), BLUE);
  c.paint(box(14, 5.5f, 16, 12.5f), BLUE);
}

void drawSlower(Canvas& c) {
  c.paint(polygon({{10, 4}, {10, 14}, {3, 9}}), GREEN);
  c.paint(polygon({{17, 4}, {17, 14}, {10, 9}}), GREEN);
}

void drawFaster(Canvas& c) {
  c.paint(polygon({{3, 4}, {3, 14}, {10, 9}}), GREEN);
  c.paint(polygon({{10, 4}, {10, 14}, {17, 9}}), GREEN);
}

void drawPrevious(Canvas& c, Rgb ink, float dx = 0, float dy = 0) {
  c.paint(box(4, 4, 6, 14), ink, dx, dy);
  c.paint(polygon({{15.5f, 4}, {15.5f, 14}, {6.5f, 9}}), ink, dx, dy);
}

void drawNext(Canvas& c, Rgb ink, float dx = 0, float dy = 0) {
  c.paint(polygon({{4.5f, 4}, {4.5f, 14}, {13.5f, 9}}), ink, dx, dy);
  c.paint(box(14, 4, 16, 14), ink, dx, dy);
}

// The greyed look of an unavailable button: a mid-grey picture over a white copy one pixel down
// and right, as an engraved image.
void greyed(Canvas& c, void (*draw)(Canvas&, Rgb, float, float)) {
  draw(c, WHITE, 1, 1);
  draw(c, GREY_SHADOW, 0, 0);
}

void drawRec(Canvas& c) {
  c.paint(disc(10, 9, 5.2f), DARK_RED);
  c.paint(disc(10, 9, 4.2f), RED);
}

void drawCut(Canvas& c) {
  // Two crossing blades over two handle rings.
  c.paint(stroke({7.6f, 11.2f}, {13.6f, 1.5f}, 1.7f), STEEL);
  c.paint(stroke({12.4f, 11.2f}, {6.4f, 1.5f}, 1.7f), STEEL);
  c.paint(disc(10, 8.2f, 0.9f), WHITE);
  c.paint(ring(6.3f, 13.4f, 1.3f, 2.8f), RED);
  c.paint(ring(13.7f, 13.4f, 1.3f, 2.8f), RED);
}

void drawProp(Canvas& c) {
  outlined(c, {{4.5f, 1.5f}, {11.5f, 1.5f}, {15.5f, 5.5f}, {15.5f, 16.5f}, {4.5f, 16.5f}}, WHITE,
           INK);
  outlined(c, {{11.5f, 1.5f}, {15.5f, 5.5f}, {11.5f, 5.5f}}, PAPER_FOLD, INK);
  for (int i = 0; i < 4; ++i) {
    const float y = 7 + 2.2f * float(i);
    c.paint(box(6.5f, y, i == 3 ? 11 : 13.5f, y + 1), TEXT_LINE);
  }
}

void drawCustom(Canvas& c) {
  std::vector<Point> star;
  for (int i = 0; i < 10; ++i) {
    const float r = i % 2 ? 3.0f : 7.6f;
    const float a = float(M_PI) * (-0.5f + 0.2f * float(i));
    star.push_back({10 + r * std::cos(a), 9.8f + r * std::sin(a)});
  }
  c.paint(polygon(star), GOLD_EDGE);
  // The fill: the same star drawn a little smaller.
  std::vector<Point> inner;
  for (const Point& p : star) inner.push_back({10 + (p.x - 10) * 0.8f, 9.8f + (p.y - 9.8f) * 0.8f});
  c.paint(polygon(inner), GOLD);
}

struct ButtonPicture {
  const char* name;
  std::function<void(Canvas&)> draw;
};

std::vector<ButtonPicture> buttonPictures() {
  return {
      {"BITMAP_PLAY", [](Canvas& c) { drawPlay(c, GREEN); }},
      {"BITMAP_STOP", drawStop},
      {"BITMAP_PAUSE", drawPause},
      {"BITMAP_OPEN", drawOpen},
      {"BITMAP_FLAT", drawFlat},
      {"BITMAP_SHARP", drawSharp},
      {"BITMAP_MINUS", drawMinus},
      {"BITMAP_PLUS", drawPlus},
      {"BITMAP_PLAYDOWN", drawSlower},
      {"BITMAP_PLAYUP", drawFaster},
      {"BITMAP_PLAYBACK", [](Canvas& c) { drawPrevious(c, NAVY); }},
      {"BITMAP_NPLAYBACK", [](Canvas& c) { greyed(c, drawPrevious); }},
      {"BITMAP_PLAYNEXT", [](Canvas& c) { drawNext(c, NAVY); }},
      {"BITMAP_NPLAYNEXT", [](Canvas& c) { greyed(c, drawNext); }},
      {"BITMAP_REC", drawRec},
      {"BITMAP_CUT", drawCut},
      {"BITMAP_PROP", drawProp},
      {"BITMAP_CUST1", drawCustom},
  };
}

// The program icon in unit coordinates: a rounded blue tile with two beamed eighth notes.
void drawIcon(Canvas& c) {
  const float s = float(c.width());
  const float radius = 0.18f * s, inset = 0.04f * s;
  auto tile = [=](float x, float y) {
    const float lo = inset + radius, hi = s - inset - radius;
    const float cx = std::clamp(x, lo, hi), cy = std::clamp(y, lo, hi);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
  };
  c.paint(tile, rgb(0x1A3C8C));
  // Lighter towards the top for a little depth.
  for (int band = 0; band < 16; ++band)
    c.paint(both(tile, [=](float, float y) { return y < s * float(16 - band) / 24; }),
            rgb(0x3468D0), 0, 0, 0.08f);
  const Rgb note = rgb(0xFFFFFF);
  c.paint(ellipse(0.33f * s, 0.72f * s, 0.115f * s, 0.08f * s, -0.4f), note);
  c.paint(ellipse(0.68f * s, 0.64f * s, 0.115f * s, 0.08f * s, -0.4f), note);
  c.paint(box(0.415f * s, 0.24f * s, 0.465f * s, 0.71f * s), note);
  c.paint(box(0.765f * s, 0.16f * s, 0.815f * s, 0.63f * s), note);
  c.paint(polygon({{0.415f * s, 0.24f * s},
                   {0.815f * s, 0.16f * s},
                   {0.815f * s, 0.26f * s},
                   {0.415f * s, 0.34f * s}}),
          note);
}

// ---- file writers ----

void put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}
void put32be(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}

// A 24-bit bottom-up BMP with a 40-byte info header.
std::vector<uint8_t> encodeBmp(const Canvas& c) {
  const uint32_t stride = (uint32_t(c.width()) * 3 + 3) & ~3u;
  const uint32_t bitsSize = stride * uint32_t(c.height());
  std::vector<uint8_t> v;
  v.push_back('B');
  v.push_back('M');
  put32(v, 54 + bitsSize);
  put32(v, 0);
  put32(v, 54);
  put32(v, 40);
  put32(v, uint32_t(c.width()));
  put32(v, uint32_t(c.height()));
  put16(v, 1);
  put16(v, 24);
  put32(v, 0);  // BI_RGB
  put32(v, bitsSize);
  put32(v, 2835);  // 72 dpi
  put32(v, 2835);
  put32(v, 0);
  put32(v, 0);
  for (int y = c.height() - 1; y >= 0; --y) {
    size_t row = v.size();
    for (int x = 0; x < c.width(); ++x) {
      uint8_t p[4];
      c.pixel(x, y, p);
      v.push_back(p[2]);
      v.push_back(p[1]);
      v.push_back(p[0]);
    }
    while (v.size() - row < stride) v.push_back(0);
  }
  return v;
}

uint32_t crc32(const uint8_t* p, size_t n) {
  static uint32_t table[256];
  if (!table[1])
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

uint32_t adler32(const std::vector<uint8_t>& d) {
  uint32_t a = 1, b = 0;
  for (uint8_t x : d) {
    a = (a + x) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

void pngChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  put32be(out, uint32_t(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  put32be(out, crc32(out.data() + start, out.size() - start));
}

// An RGBA PNG whose zlib stream holds stored (uncompressed) deflate blocks.
std::vector<uint8_t> encodePng(const Canvas& c) {
  std::vector<uint8_t> raw;
  for (int y = 0; y < c.height(); ++y) {
    raw.push_back(0);  // filter: none
    for (int x = 0; x < c.width(); ++x) {
      uint8_t p[4];
      c.pixel(x, y, p);
      raw.insert(raw.end(), p, p + 4);
    }
  }
  std::vector<uint8_t> z = {0x78, 0x01};
  size_t pos = 0;
  do {
    const size_t n = std::min<size_t>(65535, raw.size() - pos);
    z.push_back(pos + n == raw.size() ? 1 : 0);
    put16(z, uint32_t(n));
    put16(z, uint32_t(~n & 0xFFFF));
    z.insert(z.end(), raw.begin() + long(pos), raw.begin() + long(pos + n));
    pos += n;
  } while (pos < raw.size());
  put32be(z, adler32(raw));

  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  put32be(ihdr, uint32_t(c.width()));
  put32be(ihdr, uint32_t(c.height()));
  ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter, no interlace
  pngChunk(out, "IHDR", ihdr);
  pngChunk(out, "IDAT", z);
  pngChunk(out, "IEND", {});
  return out;
}

bool save(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (!vlm::saveFile(path.c_str(), bytes.data(), bytes.size())) {
    std::fprintf(stderr, "gen_bitmaps: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

// All button pictures at 1x in a row on top and at 4x in a grid below, on a white page.
Canvas contactSheet(const std::vector<Canvas>& pictures) {
  constexpr int ZOOM = 4, GAP = 8, COLUMNS = 6;
  const int rows = int(pictures.size() + COLUMNS - 1) / COLUMNS;
  const int w = GAP + COLUMNS * (BUTTON_W * ZOOM + GAP);
  const int top = GAP + (BUTTON_H + GAP) * 2;
  Canvas sheet(std::max(w, int(pictures.size()) * (BUTTON_W + 4) + GAP),
               top + rows * (BUTTON_H * ZOOM + GAP), WHITE, 1);
  for (size_t i = 0; i < pictures.size(); ++i) {
    const Canvas& p = pictures[i];
    const int x1 = GAP + int(i) * (BUTTON_W + 4);
    const int gx = GAP + int(i % COLUMNS) * (BUTTON_W * ZOOM + GAP);
    const int gy = top + int(i / COLUMNS) * (BUTTON_H * ZOOM + GAP);
    for (int y = 0; y < BUTTON_H; ++y)
      for (int x = 0; x < BUTTON_W; ++x) {
        uint8_t px[4];
        p.pixel(x, y, px);
        const Rgb col = {float(px[0]), float(px[1]), float(px[2])};
        sheet.blend(x1 + x, GAP + y, col, 1);
        for (int zy = 0; zy < ZOOM; ++zy)
          for (int zx = 0; zx < ZOOM; ++zx)
            sheet.blend(gx + x * ZOOM + zx, gy + y * ZOOM + zy, col, 1);
      }
  }
  return sheet;
}

}  // namespace

int main(int argc, char** argv) {
  std::string outDir = "app/resources", sheetPath;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--sheet") == 0 && i + 1 < argc)
      sheetPath = argv[++i];
    else
      outDir = argv[i];
  }
  bool ok = true;
  std::vector<Canvas> pictures;
  for (const ButtonPicture& b : buttonPictures()) {
    Canvas c(BUTTON_W, BUTTON_H, FACE, 1);
    b.draw(c);
    ok &= save(outDir + "/bmp/" + b.name + ".bmp", encodeBmp(c));
    pictures.push_back(c);
  }
  for (int size : {48, 256}) {
    Canvas icon(size, size, WHITE, 0);
    drawIcon(icon);
    ok &= save(outDir + (size == 48 ? "/vlmplay.png" : "/vlmplay256.png"), encodePng(icon));
  }
  if (!sheetPath.empty()) ok &= save(sheetPath, encodePng(contactSheet(pictures)));
  return ok ? 0 : 1;
}
