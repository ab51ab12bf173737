// Shape records: styles, the edge stream of DefineShape 1-4 and the two edge streams of
// DefineMorphShape, turned into layers of paths with their fill0/fill1/line styles.
#include <optional>

#include "flash/reader/parse.h"

namespace flash::swf {

Rect readRect(Reader& r) {
  r.align();
  int bits = int(r.ubits(5));
  Rect rect;
  rect.xMin = r.sbits(bits);
  rect.xMax = r.sbits(bits);
  rect.yMin = r.sbits(bits);
  rect.yMax = r.sbits(bits);
  r.align();
  return rect;
}

Matrix readMatrix(Reader& r) {
  r.align();
  Matrix m;
  if (r.flag()) {
    int bits = int(r.ubits(5));
    m.a = r.fbits(bits);
    m.d = r.fbits(bits);
  }
  if (r.flag()) {
    int bits = int(r.ubits(5));
    m.b = r.fbits(bits);
    m.c = r.fbits(bits);
  }
  int bits = int(r.ubits(5));
  m.tx = r.sbits(bits);
  m.ty = r.sbits(bits);
  r.align();
  return m;
}

ColorTransform readCxform(Reader& r, bool withAlpha) {
  r.align();
  bool add = r.flag(), mult = r.flag();
  int bits = int(r.ubits(4));
  ColorTransform cx;
  if (mult) {
    cx.rMul = r.sbits(bits) / 256.0;
    cx.gMul = r.sbits(bits) / 256.0;
    cx.bMul = r.sbits(bits) / 256.0;
    if (withAlpha) cx.aMul = r.sbits(bits) / 256.0;
  }
  if (add) {
    cx.rAdd = r.sbits(bits);
    cx.gAdd = r.sbits(bits);
    cx.bAdd = r.sbits(bits);
    if (withAlpha) cx.aAdd = r.sbits(bits);
  }
  r.align();
  return cx;
}

Rgba readRgb(Reader& r) {
  Rgba c;
  c.r = r.u8();
  c.g = r.u8();
  c.b = r.u8();
  return c;
}

Rgba readRgba(Reader& r) {
  Rgba c = readRgb(r);
  c.a = r.u8();
  return c;
}

namespace {

std::size_t readCount(Reader& r, bool extended) {
  std::size_t n = r.u8();
  if (n == 0xff && extended) n = r.u16();
  return n;
}

void setBitmapKind(FillStyle& f, std::uint8_t type) {
  f.kind = FillStyle::Kind::Bitmap;
  f.repeat = type == 0x40 || type == 0x42;
  f.smooth = type == 0x40 || type == 0x41;
}

FillStyle readFillStyle(Reader& r, int version, Budget& budget) {
  FillStyle f;
  std::uint8_t type = r.u8();
  switch (type) {
    case 0x00:
      f.color = version >= 3 ? readRgba(r) : readRgb(r);
      break;
    case 0x10:
    case 0x12:
    case 0x13: {
      f.kind = type == 0x10   ? FillStyle::Kind::Linear
               : type == 0x12 ? FillStyle::Kind::Radial
                              : FillStyle::Kind::Focal;
      f.matrix = readMatrix(r);
      // The upper four bits hold the spread and interpolation modes of SWF 8.
      int count = r.u8() & 0x0f;
      budget.charge(sizeof(GradientStop) * std::size_t(count), r);
      for (int i = 0; i < count; ++i) {
        GradientStop s;
        s.ratio = r.u8();
        s.color = version >= 3 ? readRgba(r) : readRgb(r);
        f.stops.push_back(s);
      }
      if (type == 0x13) f.focal = r.fixed8();
      break;
    }
    case 0x40:
    case 0x41:
    case 0x42:
    case 0x43:
      setBitmapKind(f, type);
      f.bitmapId = r.u16();
      f.matrix = readMatrix(r);
      break;
    default:
      r.fail(Error::BadRecord);
  }
  return f;
}

LineStyle readLineStyle(Reader& r, int version, Budget& budget) {
  LineStyle l;
  l.width = r.u16();
  if (version < 4) {
    l.color = version >= 3 ? readRgba(r) : readRgb(r);
    return l;
  }
  // LINESTYLE2: caps, joins and scaling are not distinguished; a fill gives its colour.
  std::uint16_t flags = r.u16();
  bool hasFill = flags & 0x0800;
  if (((flags >> 12) & 3) == 2) r.u16();  // miter limit
  if (hasFill) {
    FillStyle f = readFillStyle(r, version, budget);
    l.color = f.kind == FillStyle::Kind::Solid ? f.color
              : f.stops.empty()                ? Rgba{}
                                               : f.stops.front().color;
  } else {
    l.color = readRgba(r);
  }
  return l;
}

struct Styles {
  std::vector<FillStyle> fills;
  std::vector<LineStyle> lines;
};

Styles readStyles(Reader& r, int version, Budget& budget) {
  Styles s;
  std::size_t fills = readCount(r, version >= 2);
  budget.charge(fills * sizeof(FillStyle), r);
  for (std::size_t i = 0; i < fills; ++i) s.fills.push_back(readFillStyle(r, version, budget));
  std::size_t lines = readCount(r, version >= 2);
  budget.charge(lines * sizeof(LineStyle), r);
  for (std::size_t i = 0; i < lines; ++i) s.lines.push_back(readLineStyle(r, version, budget));
  return s;
}

// One STYLECHANGERECORD.
struct StyleChange {
  std::optional<Point> moveTo;
  std::optional<std::uint32_t> fill0, fill1, line;
  std::optional<Styles> styles;  // new style arrays
};

// Reads NumFillBits, NumLineBits and the shape records up to the end record, handing each to
// sink.style(StyleChange&) or sink.edge(Segment&, Point from). `version` 0 is a shape without
// styles (glyphs), which may not bring new ones.
template <class Sink>
void readRecords(Reader& r, int version, Budget& budget, Sink& sink) {
  r.align();
  int fillBits = int(r.ubits(4));
  int lineBits = int(r.ubits(4));
  Point pen;
  for (;;) {
    if (!r.flag()) {
      std::uint32_t flags = r.ubits(5);
      if (flags == 0) break;
      StyleChange c;
      if (flags & 0x01) {
        int bits = int(r.ubits(5));
        double x = r.sbits(bits);
        double y = r.sbits(bits);
        c.moveTo = Point{x, y};
        pen = *c.moveTo;
      }
      if (flags & 0x02) c.fill0 = r.ubits(fillBits);
      if (flags & 0x04) c.fill1 = r.ubits(fillBits);
      if (flags & 0x08) c.line = r.ubits(lineBits);
      if (flags & 0x10) {
        if (version == 0) r.fail(Error::BadRecord);
        c.styles = readStyles(r, version, budget);
        r.align();
        fillBits = int(r.ubits(4));
        lineBits = int(r.ubits(4));
      }
      sink.style(c);
      continue;
    }
    budget.charge(sizeof(Segment), r);
    Segment s;
    Point from = pen;
    bool straight = r.flag();
    int bits = int(r.ubits(4)) + 2;
    if (straight) {
      double dx = 0, dy = 0;
      if (r.flag()) {
        dx = r.sbits(bits);
        dy = r.sbits(bits);
      } else if (r.flag()) {
        dy = r.sbits(bits);
      } else {
        dx = r.sbits(bits);
      }
      s.to = {pen.x + dx, pen.y + dy};
    } else {
      double cdx = r.sbits(bits), cdy = r.sbits(bits);
      double adx = r.sbits(bits), ady = r.sbits(bits);
      s.curve = true;
      s.control = {pen.x + cdx, pen.y + cdy};
      s.to = {s.control.x + adx, s.control.y + ady};
    }
    pen = s.to;
    sink.edge(s, from);
  }
  r.align();
}

// Builds layers of paths from the record stream.
class ShapeBuilder {
 public:
  explicit ShapeBuilder(Styles first) {
    shape.layers.push_back(Layer{std::move(first.fills), std::move(first.lines), {}});
  }

  void style(StyleChange& c) {
    if (c.styles) {
      shape.layers.push_back(Layer{std::move(c.styles->fills), std::move(c.styles->lines), {}});
      fill0_ = fill1_ = line_ = 0;
    }
    const Layer& layer = shape.layers.back();
    if (c.moveTo) pen_ = *c.moveTo;
    // An index past the style array selects no style.
    if (c.fill0) fill0_ = *c.fill0 <= layer.fills.size() ? *c.fill0 : 0;
    if (c.fill1) fill1_ = *c.fill1 <= layer.fills.size() ? *c.fill1 : 0;
    if (c.line) line_ = *c.line <= layer.lines.size() ? *c.line : 0;
    open_ = false;
  }

  void edge(const Segment& s, Point) {
    auto& paths = shape.layers.back().paths;
    if (!open_) {
      paths.push_back(Path{fill0_, fill1_, line_, pen_, {}});
      open_ = true;
    }
    paths.back().segments.push_back(s);
    pen_ = s.to;
  }

  Shape shape;

 private:
  Point pen_;
  std::uint32_t fill0_ = 0, fill1_ = 0, line_ = 0;
  bool open_ = false;
};

}  // namespace

Shape readShapeWithStyle(Reader& r, int version, Budget& budget) {
  ShapeBuilder b(readStyles(r, version, budget));
  readRecords(r, version, budget, b);
  return std::move(b.shape);
}

Shape readGlyphShape(Reader& r, Budget& budget) {
  Styles one;
  one.fills.push_back(FillStyle{});
  ShapeBuilder b(std::move(one));
  readRecords(r, 0, budget, b);
  return std::move(b.shape);
}

// ---- Morph shapes

namespace {

MorphFill readMorphFill(Reader& r, Budget& budget) {
  MorphFill m;
  std::uint8_t type = r.u8();
  switch (type) {
    case 0x00:
      m.start.color = readRgba(r);
      m.end.color = readRgba(r);
      break;
    case 0x10:
    case 0x12:
    case 0x13: {
      auto kind = type == 0x10   ? FillStyle::Kind::Linear
                  : type == 0x12 ? FillStyle::Kind::Radial
                                 : FillStyle::Kind::Focal;
      m.start.kind = m.end.kind = kind;
      m.start.matrix = readMatrix(r);
      m.end.matrix = readMatrix(r);
      int count = r.u8() & 0x0f;
      budget.charge(2 * sizeof(GradientStop) * std::size_t(count), r);
      for (int i = 0; i < count; ++i) {
        GradientStop a, b;
        a.ratio = r.u8();
        a.color = readRgba(r);
        b.ratio = r.u8();
        b.color = readRgba(r);
        m.start.stops.push_back(a);
        m.end.stops.push_back(b);
      }
      if (type == 0x13) {
        m.start.focal = r.fixed8();
        m.end.focal = r.fixed8();
      }
      break;
    }
    case 0x40:
    case 0x41:
    case 0x42:
    case 0x43:
      setBitmapKind(m.start, type);
      setBitmapKind(m.end, type);
      m.start.bitmapId = m.end.bitmapId = r.u16();
      m.start.matrix = readMatrix(r);
      m.end.matrix = readMatrix(r);
      break;
    default:
      r.fail(Error::BadRecord);
  }
  return m;
}

MorphLine readMorphLine(Reader& r, int version, Budget& budget) {
  MorphLine l;
  l.start.width = r.u16();
  l.end.width = r.u16();
  if (version >= 2) {
    std::uint16_t flags = r.u16();
    if (((flags >> 12) & 3) == 2) r.u16();
    if (flags & 0x0800) {
      MorphFill f = readMorphFill(r, budget);
      auto first = [](const FillStyle& s) {
        return s.kind == FillStyle::Kind::Solid ? s.color
               : s.stops.empty()                ? Rgba{}
                                                : s.stops.front().color;
      };
      l.start.color = first(f.start);
      l.end.color = first(f.end);
      return l;
    }
  }
  l.start.color = readRgba(r);
  l.end.color = readRgba(r);
  return l;
}

// The records of one edge stream, kept in order for pairing.
struct RecordList {
  struct Item {
    bool isEdge = false;
    StyleChange change;
    Segment segment;
  };
  std::vector<Item> items;
  void style(StyleChange& c) {
    Item i;
    i.change = std::move(c);
    items.push_back(std::move(i));
  }
  void edge(const Segment& s, Point) {
    Item i;
    i.isEdge = true;
    i.segment = s;
    items.push_back(std::move(i));
  }
};

// A straight edge as the curve with its control point halfway, so that it can blend with a
// curve of the other shape.
Segment asCurve(const Segment& s, Point from) {
  if (s.curve) return s;
  Segment c = s;
  c.curve = true;
  c.control = {(from.x + s.to.x) / 2, (from.y + s.to.y) / 2};
  return c;
}

// Pairs the edges of the start and end streams one for one. The end stream's style changes
// only move its pen.
void pairEdges(const RecordList& start, const RecordList& end, MorphShape& m, Reader& r) {
  Point startPen, endPen;
  std::uint32_t fill0 = 0, fill1 = 0, line = 0;
  bool open = false;
  std::size_t j = 0;
  auto endMoves = [&] {
    while (j < end.items.size() && !end.items[j].isEdge) {
      if (end.items[j].change.moveTo) endPen = *end.items[j].change.moveTo;
      ++j;
    }
  };
  for (const auto& item : start.items) {
    if (!item.isEdge) {
      const StyleChange& c = item.change;
      if (c.moveTo) startPen = *c.moveTo;
      if (c.fill0) fill0 = *c.fill0 <= m.fills.size() ? *c.fill0 : 0;
      if (c.fill1) fill1 = *c.fill1 <= m.fills.size() ? *c.fill1 : 0;
      if (c.line) line = *c.line <= m.lines.size() ? *c.line : 0;
      if (j < end.items.size() && !end.items[j].isEdge) {
        if (end.items[j].change.moveTo) endPen = *end.items[j].change.moveTo;
        ++j;
      }
      open = false;
      continue;
    }
    endMoves();
    if (j >= end.items.size()) r.fail(Error::BadRecord);
    Segment a = item.segment, b = end.items[j++].segment;
    if (!open) {
      m.start.push_back(Path{fill0, fill1, line, startPen, {}});
      m.end.push_back(Path{fill0, fill1, line, endPen, {}});
      open = true;
    }
    if (a.curve != b.curve) {
      a = asCurve(a, startPen);
      b = asCurve(b, endPen);
    }
    m.start.back().segments.push_back(a);
    m.end.back().segments.push_back(b);
    startPen = a.to;
    endPen = b.to;
  }
}

}  // namespace

MorphShape readMorphShape(Reader& r, int version, Budget& budget) {
  MorphShape m;
  m.startBounds = readRect(r);
  m.endBounds = readRect(r);
  if (version >= 2) {
    readRect(r);
    readRect(r);
    r.u8();
  }
  std::uint32_t offset = r.u32();
  std::uint64_t endEdges = r.offset() + offset;
  std::size_t fills = readCount(r, true);
  budget.charge(fills * sizeof(MorphFill), r);
  for (std::size_t i = 0; i < fills; ++i) m.fills.push_back(readMorphFill(r, budget));
  std::size_t lines = readCount(r, true);
  budget.charge(lines * sizeof(MorphLine), r);
  for (std::size_t i = 0; i < lines; ++i) m.lines.push_back(readMorphLine(r, version, budget));
  RecordList start, end;
  readRecords(r, 0, budget, start);
  // An offset that points elsewhere than after the start edges is not trusted: the end edges
  // are read where they must be, and a morph without them stays at its start shape.
  if (endEdges >= r.offset() && endEdges - r.offset() <= r.remaining())
    r.skip(std::size_t(endEdges - r.offset()));
  if (r.atEnd())
    end = start;
  else
    readRecords(r, 0, budget, end);
  pairEdges(start, end, m, r);
  return m;
}

}  // namespace flash::swf
