#pragma once
// A small SWF writer for fixtures: bit fields, records and tags written by the field layouts of
// the SWF file format specification, independently of the engine's reader.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace swftest {

class Bits {
 public:
  void ubits(std::uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) {
      acc_ = std::uint8_t(acc_ << 1 | ((v >> i) & 1));
      if (++count_ == 8) flushByte();
    }
  }
  void sbits(std::int32_t v, int n) { ubits(std::uint32_t(v) & mask(n), n); }
  void flag(bool b) { ubits(b ? 1 : 0, 1); }
  void align() {
    if (count_ > 0) {
      acc_ = std::uint8_t(acc_ << (8 - count_));
      flushByte();
    }
  }
  void u8(std::uint32_t v) {
    align();
    bytes_.push_back(std::uint8_t(v));
  }
  void u16(std::uint32_t v) {
    u8(v & 0xff);
    u8(v >> 8 & 0xff);
  }
  void u32(std::uint32_t v) {
    u16(v & 0xffff);
    u16(v >> 16);
  }
  void str(const std::string& s) {
    align();
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    bytes_.push_back(0);
  }
  void raw(const std::vector<std::uint8_t>& b) {
    align();
    bytes_.insert(bytes_.end(), b.begin(), b.end());
  }
  const std::vector<std::uint8_t>& bytes() {
    align();
    return bytes_;
  }

  // Bits needed for a signed value (at least 1) and for an unsigned one.
  static int sneed(std::int32_t v) {
    int n = 1;
    while (n < 32 && (v < -(std::int64_t(1) << (n - 1)) || v >= (std::int64_t(1) << (n - 1)))) ++n;
    return n;
  }
  static int uneed(std::uint32_t v) {
    int n = 0;
    while (n < 32 && (v >> n) != 0) ++n;
    return n;
  }

 private:
  static std::uint32_t mask(int n) { return n >= 32 ? 0xffffffffu : (1u << n) - 1; }
  void flushByte() {
    bytes_.push_back(acc_);
    acc_ = 0;
    count_ = 0;
  }
  std::vector<std::uint8_t> bytes_;
  std::uint8_t acc_ = 0;
  int count_ = 0;
};

inline int sneedAll(std::initializer_list<std::int32_t> vs) {
  int n = 1;
  for (auto v : vs) n = std::max(n, Bits::sneed(v));
  return n;
}

inline void rect(Bits& b, std::int32_t xmin, std::int32_t xmax, std::int32_t ymin,
                 std::int32_t ymax) {
  b.align();
  int n = sneedAll({xmin, xmax, ymin, ymax});
  b.ubits(std::uint32_t(n), 5);
  b.sbits(xmin, n);
  b.sbits(xmax, n);
  b.sbits(ymin, n);
  b.sbits(ymax, n);
  b.align();
}

// A matrix with scale and rotation in 16.16 fixed point and translation in twips.
struct M {
  double a = 1, b = 0, c = 0, d = 1;
  std::int32_t tx = 0, ty = 0;
};

inline void matrix(Bits& w, const M& m) {
  w.align();
  auto fx = [](double v) { return std::int32_t(v * 65536.0 + (v < 0 ? -0.5 : 0.5)); };
  bool scale = m.a != 1 || m.d != 1;
  w.flag(scale);
  if (scale) {
    int n = sneedAll({fx(m.a), fx(m.d)});
    w.ubits(std::uint32_t(n), 5);
    w.sbits(fx(m.a), n);
    w.sbits(fx(m.d), n);
  }
  bool rotate = m.b != 0 || m.c != 0;
  w.flag(rotate);
  if (rotate) {
    int n = sneedAll({fx(m.b), fx(m.c)});
    w.ubits(std::uint32_t(n), 5);
    w.sbits(fx(m.b), n);
    w.sbits(fx(m.c), n);
  }
  int n = (m.tx == 0 && m.ty == 0) ? 0 : sneedAll({m.tx, m.ty});
  w.ubits(std::uint32_t(n), 5);
  w.sbits(m.tx, n);
  w.sbits(m.ty, n);
  w.align();
}

// Multipliers in 8.8 (256 = 1.0), additions in 0..255 units.
struct CX {
  int rm = 256, gm = 256, bm = 256, am = 256;
  int ra = 0, ga = 0, ba = 0, aa = 0;
};

inline void cxform(Bits& w, const CX& c, bool alpha) {
  w.align();
  bool mult = c.rm != 256 || c.gm != 256 || c.bm != 256 || (alpha && c.am != 256);
  bool add = c.ra || c.ga || c.ba || (alpha && c.aa);
  w.flag(add);
  w.flag(mult);
  int n = sneedAll({c.rm, c.gm, c.bm, c.am, c.ra, c.ga, c.ba, c.aa});
  w.ubits(std::uint32_t(n), 4);
  if (mult) {
    w.sbits(c.rm, n);
    w.sbits(c.gm, n);
    w.sbits(c.bm, n);
    if (alpha) w.sbits(c.am, n);
  }
  if (add) {
    w.sbits(c.ra, n);
    w.sbits(c.ga, n);
    w.sbits(c.ba, n);
    if (alpha) w.sbits(c.aa, n);
  }
  w.align();
}

struct Color {
  std::uint8_t r = 0, g = 0, b = 0, a = 255;
};

inline void color(Bits& w, Color c, bool alpha) {
  w.u8(c.r);
  w.u8(c.g);
  w.u8(c.b);
  if (alpha) w.u8(c.a);
}

// FILLSTYLE records.
struct Fill {
  int type = 0x00;  // 0x00 solid, 0x10 linear, 0x12 radial, 0x40..0x43 bitmap
  Color color;
  M matrix;
  std::vector<std::pair<int, Color>> stops;
  int bitmap = 0;
  static Fill solid(Color c) {
    Fill f;
    f.color = c;
    return f;
  }
  static Fill gradient(int type, M m, std::vector<std::pair<int, Color>> stops) {
    Fill f;
    f.type = type;
    f.matrix = m;
    f.stops = std::move(stops);
    return f;
  }
  static Fill bitmapFill(int type, int id, M m) {
    Fill f;
    f.type = type;
    f.bitmap = id;
    f.matrix = m;
    return f;
  }
};

struct Line {
  int width = 20;
  Color color;
};

inline void fillStyle(Bits& w, const Fill& f, int version) {
  w.u8(std::uint32_t(f.type));
  if (f.type == 0x00) {
    color(w, f.color, version >= 3);
  } else if (f.type == 0x10 || f.type == 0x12) {
    matrix(w, f.matrix);
    w.u8(std::uint32_t(f.stops.size()));
    for (auto& [ratio, c] : f.stops) {
      w.u8(std::uint32_t(ratio));
      color(w, c, version >= 3);
    }
  } else {
    w.u16(std::uint32_t(f.bitmap));
    matrix(w, f.matrix);
  }
}

inline void styleArrays(Bits& w, const std::vector<Fill>& fills, const std::vector<Line>& lines,
                        int version) {
  if (fills.size() >= 255) {
    w.u8(0xff);
    w.u16(std::uint32_t(fills.size()));
  } else {
    w.u8(std::uint32_t(fills.size()));
  }
  for (auto& f : fills) fillStyle(w, f, version);
  w.u8(std::uint32_t(lines.size()));
  for (auto& l : lines) {
    w.u16(std::uint32_t(l.width));
    color(w, l.color, version >= 3);
  }
}

// Shape records in absolute twips; the writer turns them into the deltas the format stores.
class ShapeWriter {
 public:
  // version 1..3 for DefineShape 1..3; 0 for a glyph shape without styles.
  ShapeWriter(int version, std::vector<Fill> fills, std::vector<Line> lines) : version_(version) {
    if (version > 0) styleArrays(head_, fills, lines, version);
    fillBits_ = std::max(1, Bits::uneed(std::uint32_t(fills.size())));
    lineBits_ = Bits::uneed(std::uint32_t(lines.size()));
    head_.align();
  }

  struct Change {
    bool move = false;
    std::int32_t x = 0, y = 0;
    int fill0 = -1, fill1 = -1, line = -1;  // -1: unchanged
  };
  ShapeWriter& change(const Change& c) {
    startRecords();
    body_.ubits(0, 1);
    std::uint32_t flags = (c.line >= 0 ? 0x08 : 0) | (c.fill1 >= 0 ? 0x04 : 0) |
                          (c.fill0 >= 0 ? 0x02 : 0) | (c.move ? 0x01 : 0);
    if (flags == 0) throw std::logic_error("an empty style change ends the shape");
    body_.ubits(flags, 5);
    if (c.move) {
      int n = sneedAll({c.x, c.y});
      body_.ubits(std::uint32_t(n), 5);
      body_.sbits(c.x, n);
      body_.sbits(c.y, n);
      x_ = c.x;
      y_ = c.y;
    }
    if (c.fill0 >= 0) body_.ubits(std::uint32_t(c.fill0), fillBits_);
    if (c.fill1 >= 0) body_.ubits(std::uint32_t(c.fill1), fillBits_);
    if (c.line >= 0) body_.ubits(std::uint32_t(c.line), lineBits_);
    return *this;
  }
  ShapeWriter& move(std::int32_t x, std::int32_t y, int fill0 = -1, int fill1 = -1, int line = -1) {
    return change({true, x, y, fill0, fill1, line});
  }
  // A style change that brings new style arrays (DefineShape2 and 3).
  ShapeWriter& newStyles(std::vector<Fill> fills, std::vector<Line> lines, int fill0, int fill1,
                         int line, bool move = false, std::int32_t x = 0, std::int32_t y = 0) {
    startRecords();
    body_.ubits(0, 1);
    body_.ubits(0x10 | (line >= 0 ? 0x08 : 0) | (fill1 >= 0 ? 0x04 : 0) | (fill0 >= 0 ? 0x02 : 0) |
                    (move ? 0x01 : 0),
                5);
    if (move) {
      int n = sneedAll({x, y});
      body_.ubits(std::uint32_t(n), 5);
      body_.sbits(x, n);
      body_.sbits(y, n);
      x_ = x;
      y_ = y;
    }
    // Indices in this record are written with the old bit counts.
    if (fill0 >= 0) body_.ubits(std::uint32_t(fill0), fillBits_);
    if (fill1 >= 0) body_.ubits(std::uint32_t(fill1), fillBits_);
    if (line >= 0) body_.ubits(std::uint32_t(line), lineBits_);
    styleArrays(body_, fills, lines, version_);
    fillBits_ = std::max(1, Bits::uneed(std::uint32_t(fills.size())));
    lineBits_ = Bits::uneed(std::uint32_t(lines.size()));
    body_.align();
    body_.ubits(std::uint32_t(fillBits_), 4);
    body_.ubits(std::uint32_t(lineBits_), 4);
    return *this;
  }
  ShapeWriter& line(std::int32_t x, std::int32_t y) {
    startRecords();
    std::int32_t dx = x - x_, dy = y - y_;
    int n = std::max(2, sneedAll({dx, dy}));
    body_.ubits(1, 1);  // edge
    body_.ubits(1, 1);  // straight
    body_.ubits(std::uint32_t(n - 2), 4);
    if (dx != 0 && dy != 0) {
      body_.ubits(1, 1);
      body_.sbits(dx, n);
      body_.sbits(dy, n);
    } else {
      body_.ubits(0, 1);
      body_.ubits(dx == 0 ? 1 : 0, 1);
      body_.sbits(dx == 0 ? dy : dx, n);
    }
    x_ = x;
    y_ = y;
    return *this;
  }
  ShapeWriter& curve(std::int32_t cx, std::int32_t cy, std::int32_t x, std::int32_t y) {
    startRecords();
    std::int32_t cdx = cx - x_, cdy = cy - y_, adx = x - cx, ady = y - cy;
    int n = std::max(2, sneedAll({cdx, cdy, adx, ady}));
    body_.ubits(1, 1);
    body_.ubits(0, 1);
    body_.ubits(std::uint32_t(n - 2), 4);
    body_.sbits(cdx, n);
    body_.sbits(cdy, n);
    body_.sbits(adx, n);
    body_.sbits(ady, n);
    x_ = x;
    y_ = y;
    return *this;
  }
  // A closed rectangle from the pen's move.
  ShapeWriter& rect(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
    return line(x1, y0).line(x1, y1).line(x0, y1).line(x0, y0);
  }
  // SHAPEWITHSTYLE (or SHAPE for glyphs) with its end record.
  std::vector<std::uint8_t> finish() {
    startRecords();
    body_.ubits(0, 6);
    body_.align();
    std::vector<std::uint8_t> out = head_.bytes();
    auto& b = body_.bytes();
    out.insert(out.end(), b.begin(), b.end());
    return out;
  }

 private:
  void startRecords() {
    if (started_) return;
    started_ = true;
    body_.ubits(std::uint32_t(fillBits_), 4);
    body_.ubits(std::uint32_t(lineBits_), 4);
  }
  int version_;
  Bits head_, body_;
  int fillBits_ = 1, lineBits_ = 0;
  std::int32_t x_ = 0, y_ = 0;
  bool started_ = false;
};

// Tag codes used by the fixtures.
enum : int {
  End = 0,
  ShowFrame = 1,
  DefineShape = 2,
  PlaceObject = 4,
  RemoveObject = 5,
  DefineBits = 6,
  DefineButton = 7,
  JPEGTables = 8,
  SetBackgroundColor = 9,
  DefineFont = 10,
  DefineText = 11,
  DoAction = 12,
  DefineFontInfo = 13,
  DefineSound = 14,
  DefineBitsLossless = 20,
  DefineBitsJPEG2 = 21,
  DefineShape2 = 22,
  DefineButtonCxform = 23,
  PlaceObject2 = 26,
  RemoveObject2 = 28,
  DefineShape3 = 32,
  DefineText2 = 33,
  DefineButton2 = 34,
  DefineBitsJPEG3 = 35,
  DefineBitsLossless2 = 36,
  DefineEditText = 37,
  DefineSprite = 39,
  FrameLabel = 43,
  DefineMorphShape = 46,
  DefineFont2 = 48,
};

// A tag: its header (short form below 63 bytes unless forced long) and body.
inline std::vector<std::uint8_t> tag(int code, const std::vector<std::uint8_t>& body,
                                     bool longForm = false) {
  Bits w;
  if (body.size() < 63 && !longForm) {
    w.u16(std::uint32_t(code) << 6 | std::uint32_t(body.size()));
  } else {
    w.u16(std::uint32_t(code) << 6 | 0x3f);
    w.u32(std::uint32_t(body.size()));
  }
  w.raw(body);
  return w.bytes();
}

class MovieWriter {
 public:
  MovieWriter(int version, int widthPx, int heightPx, double fps = 12)
      : version_(version),
        width_(widthPx * 20),
        height_(heightPx * 20),
        rate_(std::uint16_t(fps * 256)) {}

  MovieWriter& add(int code, const std::vector<std::uint8_t>& body, bool longForm = false) {
    auto t = tag(code, body, longForm);
    tags_.insert(tags_.end(), t.begin(), t.end());
    if (code == ShowFrame) ++frames_;
    return *this;
  }
  MovieWriter& add(int code, Bits& body) { return add(code, body.bytes()); }
  MovieWriter& showFrame() { return add(ShowFrame, std::vector<std::uint8_t>{}); }
  MovieWriter& background(Color c) {
    Bits b;
    color(b, c, false);
    return add(SetBackgroundColor, b);
  }
  void setFrameCount(int n) { statedFrames_ = n; }

  std::vector<std::uint8_t> bytes(bool compressed = false) const {
    Bits body;
    rect(body, 0, width_, 0, height_);
    body.u16(rate_);
    body.u16(std::uint32_t(statedFrames_ >= 0 ? statedFrames_ : frames_));
    std::vector<std::uint8_t> rest = body.bytes();
    rest.insert(rest.end(), tags_.begin(), tags_.end());
    rest.push_back(0);  // End
    rest.push_back(0);
    Bits out;
    out.u8(compressed ? 'C' : 'F');
    out.u8('W');
    out.u8('S');
    out.u8(std::uint32_t(version_));
    out.u32(std::uint32_t(8 + rest.size()));
    if (!compressed) {
      out.raw(rest);
      return out.bytes();
    }
    uLongf size = compressBound(uLong(rest.size()));
    std::vector<std::uint8_t> z(size);
    compress2(z.data(), &size, rest.data(), uLong(rest.size()), 9);
    z.resize(size);
    out.raw(z);
    return out.bytes();
  }

 private:
  int version_;
  std::int32_t width_, height_;
  std::uint16_t rate_;
  std::vector<std::uint8_t> tags_;
  int frames_ = 0;
  int statedFrames_ = -1;
};

// Tag bodies.
inline std::vector<std::uint8_t> defineShape(int id, std::int32_t x0, std::int32_t x1,
                                             std::int32_t y0, std::int32_t y1,
                                             const std::vector<std::uint8_t>& shape) {
  Bits b;
  b.u16(std::uint32_t(id));
  rect(b, x0, x1, y0, y1);
  b.raw(shape);
  return b.bytes();
}

struct Place {
  int depth = 1;
  int id = 0;  // 0: none
  bool move = false;
  bool hasMatrix = false;
  M matrix;
  bool hasCx = false;
  CX cx;
  int ratio = -1;
  std::string name;
  int clipDepth = -1;
};

inline std::vector<std::uint8_t> placeObject2(const Place& p) {
  Bits b;
  std::uint32_t flags = (p.clipDepth >= 0 ? 0x40 : 0) | (!p.name.empty() ? 0x20 : 0) |
                        (p.ratio >= 0 ? 0x10 : 0) | (p.hasCx ? 0x08 : 0) |
                        (p.hasMatrix ? 0x04 : 0) | (p.id ? 0x02 : 0) | (p.move ? 0x01 : 0);
  b.u8(flags);
  b.u16(std::uint32_t(p.depth));
  if (p.id) b.u16(std::uint32_t(p.id));
  if (p.hasMatrix) matrix(b, p.matrix);
  if (p.hasCx) cxform(b, p.cx, true);
  if (p.ratio >= 0) b.u16(std::uint32_t(p.ratio));
  if (!p.name.empty()) b.str(p.name);
  if (p.clipDepth >= 0) b.u16(std::uint32_t(p.clipDepth));
  return b.bytes();
}

inline std::vector<std::uint8_t> place(int id, int depth, M m = {}) {
  Place p;
  p.id = id;
  p.depth = depth;
  p.hasMatrix = true;
  p.matrix = m;
  return placeObject2(p);
}

inline std::vector<std::uint8_t> removeObject2(int depth) {
  Bits b;
  b.u16(std::uint32_t(depth));
  return b.bytes();
}

// ---- More tag bodies

// DefineBitsLossless(2): pixels as straight RGBA rows. format 3 builds a colour map from the
// pixels (at most 256 colours), 4 keeps 5 bits a channel, 5 is 32-bit. With alpha, format 5
// stores premultiplied ARGB.
inline std::vector<std::uint8_t> defineBitsLossless(int id, int format, int w, int h,
                                                    const std::vector<Color>& px, bool alpha) {
  std::vector<std::uint8_t> raw;
  std::vector<Color> table;
  if (format == 3) {
    for (auto& c : px) {
      bool found = false;
      for (auto& t : table)
        if (t.r == c.r && t.g == c.g && t.b == c.b && t.a == c.a) found = true;
      if (!found) table.push_back(c);
    }
    for (auto& t : table) {
      std::uint8_t a = alpha ? t.a : 255;
      raw.push_back(std::uint8_t(t.r * a / 255));
      raw.push_back(std::uint8_t(t.g * a / 255));
      raw.push_back(std::uint8_t(t.b * a / 255));
      if (alpha) raw.push_back(a);
    }
    int row = (w + 3) & ~3;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < row; ++x) {
        std::uint8_t index = 0;
        if (x < w) {
          const Color& c = px[std::size_t(y * w + x)];
          for (std::size_t i = 0; i < table.size(); ++i)
            if (table[i].r == c.r && table[i].g == c.g && table[i].b == c.b && table[i].a == c.a)
              index = std::uint8_t(i);
        }
        raw.push_back(index);
      }
  } else if (format == 4) {
    int row = (w * 2 + 3) & ~3;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const Color& c = px[std::size_t(y * w + x)];
        unsigned v = unsigned(c.r >> 3) << 10 | unsigned(c.g >> 3) << 5 | unsigned(c.b >> 3);
        raw.push_back(std::uint8_t(v >> 8));
        raw.push_back(std::uint8_t(v));
      }
      for (int x = w * 2; x < row; ++x) raw.push_back(0);
    }
  } else {
    for (auto& c : px) {
      std::uint8_t a = alpha ? c.a : 255;
      raw.push_back(alpha ? a : 0);
      raw.push_back(std::uint8_t(c.r * a / 255));
      raw.push_back(std::uint8_t(c.g * a / 255));
      raw.push_back(std::uint8_t(c.b * a / 255));
    }
  }
  uLongf size = compressBound(uLong(raw.size()));
  std::vector<std::uint8_t> z(size);
  compress2(z.data(), &size, raw.data(), uLong(raw.size()), 9);
  z.resize(size);
  Bits b;
  b.u16(std::uint32_t(id));
  b.u8(std::uint32_t(format));
  b.u16(std::uint32_t(w));
  b.u16(std::uint32_t(h));
  if (format == 3) b.u8(std::uint32_t(table.size() - 1));
  b.raw(z);
  return b.bytes();
}

// DefineFont: glyph SHAPEs (ShapeWriter version 0, fill 1) behind their offset table.
inline std::vector<std::uint8_t> defineFont(int id,
                                            const std::vector<std::vector<std::uint8_t>>& glyphs) {
  Bits b;
  b.u16(std::uint32_t(id));
  std::size_t offset = glyphs.size() * 2;
  for (auto& g : glyphs) {
    b.u16(std::uint32_t(offset));
    offset += g.size();
  }
  for (auto& g : glyphs) b.raw(g);
  return b.bytes();
}

inline std::vector<std::uint8_t> defineFontInfo(int id, const std::string& name,
                                                const std::vector<int>& codes) {
  Bits b;
  b.u16(std::uint32_t(id));
  b.u8(std::uint32_t(name.size()));
  b.raw(std::vector<std::uint8_t>(name.begin(), name.end()));
  b.u8(0x08);  // ANSI, 8-bit codes
  for (int c : codes) b.u8(std::uint32_t(c));
  return b.bytes();
}

struct FontLayout {
  int ascent = 0, descent = 0, leading = 0;
  std::vector<int> advances;
};

// DefineFont2 with 16-bit offsets and 8-bit codes, optionally with a layout.
inline std::vector<std::uint8_t> defineFont2(int id, const std::string& name,
                                             const std::vector<std::vector<std::uint8_t>>& glyphs,
                                             const std::vector<int>& codes,
                                             const FontLayout* layout) {
  Bits b;
  b.u16(std::uint32_t(id));
  b.u8(layout ? 0x80 : 0x00);
  b.u8(1);
  b.u8(std::uint32_t(name.size()));
  b.raw(std::vector<std::uint8_t>(name.begin(), name.end()));
  b.u16(std::uint32_t(glyphs.size()));
  std::size_t offset = glyphs.size() * 2 + 2;
  for (auto& g : glyphs) {
    b.u16(std::uint32_t(offset));
    offset += g.size();
  }
  b.u16(std::uint32_t(offset));  // code table
  for (auto& g : glyphs) b.raw(g);
  for (int c : codes) b.u8(std::uint32_t(c));
  if (layout) {
    b.u16(std::uint32_t(layout->ascent));
    b.u16(std::uint32_t(layout->descent));
    b.u16(std::uint32_t(std::uint16_t(layout->leading)));
    for (int a : layout->advances) b.u16(std::uint32_t(std::uint16_t(a)));
    for (std::size_t i = 0; i < glyphs.size(); ++i) rect(b, 0, 0, 0, 0);
    b.u16(0);  // no kerning
  }
  return b.bytes();
}

struct TextRecord {
  int font = 0;  // 0: keep
  bool hasColor = false;
  Color color;
  bool hasX = false, hasY = false;
  int x = 0, y = 0, height = 0;
  std::vector<std::pair<int, int>> glyphs;  // index, advance
};

// DefineText (RGB) or DefineText2 (RGBA).
inline std::vector<std::uint8_t> defineText(int id, int version, std::array<std::int32_t, 4> bounds,
                                            M m, const std::vector<TextRecord>& records) {
  Bits b;
  b.u16(std::uint32_t(id));
  rect(b, bounds[0], bounds[1], bounds[2], bounds[3]);
  matrix(b, m);
  int glyphBits = 1, advanceBits = 1;
  for (auto& r : records)
    for (auto& [g, a] : r.glyphs) {
      glyphBits = std::max(glyphBits, Bits::uneed(std::uint32_t(g)));
      advanceBits = std::max(advanceBits, Bits::sneed(a));
    }
  b.u8(std::uint32_t(glyphBits));
  b.u8(std::uint32_t(advanceBits));
  for (auto& r : records) {
    b.u8(0x80 | (r.font ? 0x08 : 0) | (r.hasColor ? 0x04 : 0) | (r.hasY ? 0x02 : 0) |
         (r.hasX ? 0x01 : 0));
    if (r.font) b.u16(std::uint32_t(r.font));
    if (r.hasColor) color(b, r.color, version >= 2);
    if (r.hasX) b.u16(std::uint32_t(std::uint16_t(r.x)));
    if (r.hasY) b.u16(std::uint32_t(std::uint16_t(r.y)));
    if (r.font) b.u16(std::uint32_t(r.height));
    b.u8(std::uint32_t(r.glyphs.size()));
    for (auto& [g, a] : r.glyphs) {
      b.ubits(std::uint32_t(g), glyphBits);
      b.sbits(a, advanceBits);
    }
    b.align();
  }
  b.u8(0);
  return b.bytes();
}

struct EditTextDef {
  std::array<std::int32_t, 4> bounds{0, 2000, 0, 400};
  bool wordWrap = false, multiline = false, readOnly = true, border = false, html = false,
       useOutlines = false, noSelect = true;
  int font = 0, height = 240;
  bool hasColor = true;
  Color color{0, 0, 0, 255};
  bool hasLayout = false;
  int align = 0, leftMargin = 0, rightMargin = 0, indent = 0, leading = 0;
  std::string variable, text;
};

inline std::vector<std::uint8_t> defineEditText(int id, const EditTextDef& e) {
  Bits b;
  b.u16(std::uint32_t(id));
  rect(b, e.bounds[0], e.bounds[1], e.bounds[2], e.bounds[3]);
  b.u8((!e.text.empty() ? 0x80 : 0) | (e.wordWrap ? 0x40 : 0) | (e.multiline ? 0x20 : 0) |
       (e.readOnly ? 0x08 : 0) | (e.hasColor ? 0x04 : 0) | (e.font ? 0x01 : 0));
  b.u8((e.hasLayout ? 0x20 : 0) | (e.noSelect ? 0x10 : 0) | (e.border ? 0x08 : 0) |
       (e.html ? 0x02 : 0) | (e.useOutlines ? 0x01 : 0));
  if (e.font) {
    b.u16(std::uint32_t(e.font));
    b.u16(std::uint32_t(e.height));
  }
  if (e.hasColor) color(b, e.color, true);
  if (e.hasLayout) {
    b.u8(std::uint32_t(e.align));
    b.u16(std::uint32_t(e.leftMargin));
    b.u16(std::uint32_t(e.rightMargin));
    b.u16(std::uint32_t(e.indent));
    b.u16(std::uint32_t(std::uint16_t(e.leading)));
  }
  b.str(e.variable);
  if (!e.text.empty()) b.str(e.text);
  return b.bytes();
}

struct ButtonRecordDef {
  int states = 1;  // bit 0 up, 1 over, 2 down, 3 hit
  int id = 0, depth = 1;
  M matrix;
  CX cx;
};

// DefineButton (version 1, no colour transforms, an empty action list) or DefineButton2.
inline std::vector<std::uint8_t> defineButton(int id, int version,
                                              const std::vector<ButtonRecordDef>& records) {
  Bits b;
  b.u16(std::uint32_t(id));
  if (version == 2) {
    b.u8(0);
    b.u16(0);  // no actions
  }
  for (auto& r : records) {
    b.u8(std::uint32_t(r.states));
    b.u16(std::uint32_t(r.id));
    b.u16(std::uint32_t(r.depth));
    matrix(b, r.matrix);
    if (version == 2) cxform(b, r.cx, true);
  }
  b.u8(0);
  if (version == 1) b.u8(0);  // ActionEndFlag
  return b.bytes();
}

inline std::vector<std::uint8_t> defineButtonCxform(int id, const CX& cx) {
  Bits b;
  b.u16(std::uint32_t(id));
  cxform(b, cx, false);
  return b.bytes();
}

// DefineSprite around an inner tag stream written with a MovieWriter-like builder.
class SpriteWriter {
 public:
  SpriteWriter& add(int code, const std::vector<std::uint8_t>& body) {
    auto t = tag(code, body);
    tags_.insert(tags_.end(), t.begin(), t.end());
    if (code == ShowFrame) ++frames_;
    return *this;
  }
  SpriteWriter& showFrame() { return add(ShowFrame, {}); }
  std::vector<std::uint8_t> finish(int id) const {
    Bits b;
    b.u16(std::uint32_t(id));
    b.u16(std::uint32_t(frames_));
    b.raw(tags_);
    b.u16(0);
    return b.bytes();
  }

 private:
  std::vector<std::uint8_t> tags_;
  int frames_ = 0;
};

// Action records for DoAction.
class Actions {
 public:
  Actions& op(int code) {
    b_.u8(std::uint32_t(code));
    return *this;
  }
  Actions& record(int code, const std::vector<std::uint8_t>& payload) {
    b_.u8(std::uint32_t(code));
    b_.u16(std::uint32_t(payload.size()));
    b_.raw(payload);
    return *this;
  }
  Actions& push(const std::string& s) {
    Bits p;
    p.u8(0);
    p.str(s);
    return record(0x96, p.bytes());
  }
  Actions& push(double d) {
    Bits p;
    p.u8(6);
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    p.u32(std::uint32_t(bits >> 32));
    p.u32(std::uint32_t(bits));
    return record(0x96, p.bytes());
  }
  Actions& push(int i) {
    Bits p;
    p.u8(7);
    p.u32(std::uint32_t(i));
    return record(0x96, p.bytes());
  }
  Actions& pushBool(bool v) {
    Bits p;
    p.u8(5);
    p.u8(v ? 1 : 0);
    return record(0x96, p.bytes());
  }
  Actions& gotoFrame(int zeroBased) {
    Bits p;
    p.u16(std::uint32_t(zeroBased));
    return record(0x81, p.bytes());
  }
  Actions& gotoLabel(const std::string& label) {
    Bits p;
    p.str(label);
    return record(0x8c, p.bytes());
  }
  Actions& setTarget(const std::string& target) {
    Bits p;
    p.str(target);
    return record(0x8b, p.bytes());
  }
  Actions& gotoFrame2(bool play) {
    Bits p;
    p.u8(play ? 1 : 0);
    return record(0x9f, p.bytes());
  }
  // Branches by a byte offset from the end of the branch action.
  Actions& jump(int offset) {
    Bits p;
    p.u16(std::uint32_t(std::uint16_t(offset)));
    return record(0x99, p.bytes());
  }
  Actions& ifTrue(int offset) {
    Bits p;
    p.u16(std::uint32_t(std::uint16_t(offset)));
    return record(0x9d, p.bytes());
  }
  std::size_t size() { return b_.bytes().size(); }
  std::vector<std::uint8_t> finish() {
    b_.u8(0);
    return b_.bytes();
  }

 private:
  Bits b_;
};

// ---- Morph shapes and bitmaps from encoded data

struct MorphFillDef {
  int type = 0x00;
  Color start, end;
  M startMatrix, endMatrix;
  // ratio and colour at the start, then at the end
  std::vector<std::tuple<int, Color, int, Color>> stops;
  int bitmap = 0;
};

struct MorphLineDef {
  int startWidth = 20, endWidth = 20;
  Color start, end;
};

// DefineMorphShape: the edges are SHAPEs (ShapeWriter version 0) whose style indices refer to
// the morph styles.
inline std::vector<std::uint8_t> defineMorphShape(int id, std::array<std::int32_t, 4> startBounds,
                                                  std::array<std::int32_t, 4> endBounds,
                                                  const std::vector<MorphFillDef>& fills,
                                                  const std::vector<MorphLineDef>& lines,
                                                  const std::vector<std::uint8_t>& startEdges,
                                                  const std::vector<std::uint8_t>& endEdges) {
  Bits styles;
  styles.u8(std::uint32_t(fills.size()));
  for (auto& f : fills) {
    styles.u8(std::uint32_t(f.type));
    if (f.type == 0x00) {
      color(styles, f.start, true);
      color(styles, f.end, true);
    } else if (f.type == 0x10 || f.type == 0x12) {
      matrix(styles, f.startMatrix);
      matrix(styles, f.endMatrix);
      styles.u8(std::uint32_t(f.stops.size()));
      for (auto& [r0, c0, r1, c1] : f.stops) {
        styles.u8(std::uint32_t(r0));
        color(styles, c0, true);
        styles.u8(std::uint32_t(r1));
        color(styles, c1, true);
      }
    } else {
      styles.u16(std::uint32_t(f.bitmap));
      matrix(styles, f.startMatrix);
      matrix(styles, f.endMatrix);
    }
  }
  styles.u8(std::uint32_t(lines.size()));
  for (auto& l : lines) {
    styles.u16(std::uint32_t(l.startWidth));
    styles.u16(std::uint32_t(l.endWidth));
    color(styles, l.start, true);
    color(styles, l.end, true);
  }
  std::vector<std::uint8_t> st = styles.bytes();
  Bits b;
  b.u16(std::uint32_t(id));
  rect(b, startBounds[0], startBounds[1], startBounds[2], startBounds[3]);
  rect(b, endBounds[0], endBounds[1], endBounds[2], endBounds[3]);
  b.u32(std::uint32_t(st.size() + startEdges.size()));
  b.raw(st);
  b.raw(startEdges);
  b.raw(endEdges);
  return b.bytes();
}

inline std::vector<std::uint8_t> withId(int id, const std::vector<std::uint8_t>& data) {
  Bits b;
  b.u16(std::uint32_t(id));
  b.raw(data);
  return b.bytes();
}

// DefineBitsJPEG3: JPEG data, then the alpha plane zlib-compressed.
inline std::vector<std::uint8_t> defineBitsJpeg3(int id, const std::vector<std::uint8_t>& jpeg,
                                                 const std::vector<std::uint8_t>& alpha) {
  uLongf size = compressBound(uLong(alpha.size()));
  std::vector<std::uint8_t> z(size);
  compress2(z.data(), &size, alpha.data(), uLong(alpha.size()), 9);
  z.resize(size);
  Bits b;
  b.u16(std::uint32_t(id));
  b.u32(std::uint32_t(jpeg.size()));
  b.raw(jpeg);
  b.raw(z);
  return b.bytes();
}

}  // namespace swftest
