// Edit texts: their text laid out in lines inside the field (word wrap, alignment, margins,
// leading, the 2-pixel gutter), drawn with the embedded font's glyphs or a device font.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "flash/render/fonts.h"
#include "flash/render/renderer.h"
#include "platform/gbk.h"

namespace flash::render {
namespace {

constexpr double kGutter = 40;  // twips

struct Char {
  std::uint32_t code;
  swf::Rgba color;
};

std::uint32_t decodeUtf8(const std::string& s, std::size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i++]);
  if (c < 0x80) return c;
  int n = c < 0xe0 ? 1 : c < 0xf0 ? 2 : 3;
  std::uint32_t cp = c & (0x3f >> n);
  for (int k = 0; k < n && i < s.size(); ++k)
    cp = cp << 6 | (static_cast<unsigned char>(s[i++]) & 0x3f);
  return cp;
}

std::string lower(std::string s) {
  for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The characters of an HTML text field: tags give line breaks and colours; entities decode.
std::vector<Char> fromHtml(const std::string& html, swf::Rgba color) {
  std::vector<Char> out;
  std::vector<swf::Rgba> colors{color};
  for (std::size_t i = 0; i < html.size();) {
    if (html[i] == '<') {
      std::size_t end = html.find('>', i);
      if (end == std::string::npos) break;
      std::string tag = lower(html.substr(i + 1, end - i - 1));
      i = end + 1;
      if (tag == "br" || tag == "br/" || tag == "/p" || tag == "/li") {
        out.push_back({'\n', colors.back()});
      } else if (tag.compare(0, 4, "font") == 0) {
        swf::Rgba c = colors.back();
        std::size_t at = tag.find("color=");
        if (at != std::string::npos) {
          std::size_t hash = tag.find('#', at);
          if (hash != std::string::npos && hash + 7 <= tag.size()) {
            unsigned long v = std::strtoul(tag.substr(hash + 1, 6).c_str(), nullptr, 16);
            c = {std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v), color.a};
          }
        }
        colors.push_back(c);
      } else if (tag == "/font" && colors.size() > 1) {
        colors.pop_back();
      }
      continue;
    }
    if (html[i] == '&') {
      std::size_t end = html.find(';', i);
      if (end != std::string::npos && end - i < 8) {
        std::string e = html.substr(i + 1, end - i - 1);
        std::uint32_t cp = e == "lt"     ? '<'
                           : e == "gt"   ? '>'
                           : e == "amp"  ? '&'
                           : e == "quot" ? '"'
                           : e == "apos" ? '\''
                           : e == "nbsp" ? 0xa0
                                         : 0;
        if (cp) {
          out.push_back({cp, colors.back()});
          i = end + 1;
          continue;
        }
      }
    }
    out.push_back({decodeUtf8(html, i), colors.back()});
  }
  return out;
}

// The code an embedded font of an SWF 5 file stores for a character: its byte in the author's
// code page (GBK for double-byte fonts), or the code point from SWF 6 on.
std::uint32_t fontCode(std::uint32_t cp, const swf::Font& font, int version) {
  if (version >= 6 || cp < 0x80) return cp;
  if (font.wideCodes || font.shiftJis) {
    std::string u;
    if (cp < 0x800) {
      u += char(0xc0 | cp >> 6);
      u += char(0x80 | (cp & 0x3f));
    } else {
      u += char(0xe0 | cp >> 12);
      u += char(0x80 | (cp >> 6 & 0x3f));
      u += char(0x80 | (cp & 0x3f));
    }
    if (auto g = hv::utf8ToGbk(u); g && g->size() == 2)
      return std::uint32_t(static_cast<unsigned char>((*g)[0])) << 8 |
             static_cast<unsigned char>((*g)[1]);
  }
  return cp;
}

struct Placed {
  const swf::Shape* shape;
  double x, advance;
  swf::Rgba color;
  bool space;
};

}  // namespace

// A white field with a black one-pixel frame. Where the field stands upright, the frame's lines
// take the pixels just right of and below its edges, as Flash draws one-pixel lines.
void Renderer::drawBorder(const swf::Rect& b, const swf::Matrix& m, const swf::ColorTransform& cx,
                          Surface& out) {
  auto box = [](double x0, double y0, double x1, double y1, std::uint32_t fill,
                std::uint32_t line) {
    swf::Path p;
    p.fill1 = fill;
    p.line = line;
    p.start = {x0, y0};
    for (auto pt : {swf::Point{x1, y0}, swf::Point{x1, y1}, swf::Point{x0, y1}, swf::Point{x0, y0}})
      p.segments.push_back({{}, pt, false});
    return p;
  };
  swf::Layer field;
  field.fills.push_back(swf::FillStyle{});
  field.fills.back().color = {255, 255, 255, 255};
  field.paths.push_back(box(b.xMin, b.yMin, b.xMax, b.yMax, 1, 0));
  drawFills(field, m, cx, out);
  swf::Layer frame;
  frame.lines.push_back(swf::LineStyle{20, {0, 0, 0, 255}});
  if (std::fabs(m.b) < 1e-9 && std::fabs(m.c) < 1e-9) {
    double x0 = m.x(b.xMin, b.yMin), y0 = m.y(b.xMin, b.yMin), x1 = m.x(b.xMax, b.yMax),
           y1 = m.y(b.xMax, b.yMax);
    auto px = [](double v) { return std::floor(v + 0.5) + 0.5; };
    frame.lines.back().width = 1;  // one pixel, since it is drawn in pixels
    frame.paths.push_back(box(px(std::min(x0, x1)), px(std::min(y0, y1)), px(std::max(x0, x1)),
                              px(std::max(y0, y1)), 0, 1));
    drawLines(frame, swf::Matrix{}, cx, out);
  } else {
    frame.paths.push_back(box(b.xMin, b.yMin, b.xMax, b.yMax, 0, 1));
    drawLines(frame, m, cx, out);
  }
}

void Renderer::drawEditText(const player::Node& node, const swf::EditText& def,
                            const swf::Matrix& m, const swf::ColorTransform& cx, Surface& out) {
  const swf::Rect& b = def.bounds;
  if (def.border) drawBorder(b, m, cx, out);
  const swf::Character* c = def.fontId ? movie_.find(def.fontId) : nullptr;
  const swf::Font* font = c ? std::get_if<swf::Font>(c) : nullptr;
  bool embedded = def.useOutlines && font && !font->glyphs.empty();
  std::string family = font ? font->name : std::string();
  bool bold = font && font->bold, italic = font && font->italic;
  int version = movie_.header.version;

  std::vector<Char> chars;
  if (def.html) {
    chars = fromHtml(node.text, def.color);
  } else {
    for (std::size_t i = 0; i < node.text.size();)
      chars.push_back({decodeUtf8(node.text, i), def.color});
  }
  if (def.password)
    for (auto& ch : chars)
      if (ch.code != '\n' && ch.code != '\r') ch.code = '*';

  double size = def.height;
  double ascent, descent;
  if (embedded && font->hasLayout) {
    ascent = font->ascent * size / font->em;
    descent = font->descent * size / font->em;
  } else if (embedded) {
    ascent = size * 0.9;
    descent = size * 0.2;
  } else {
    DeviceFonts::Metrics dm = fonts_->metrics(family, bold, italic);
    ascent = dm.ascent * size / 1024;
    descent = dm.descent * size / 1024;
  }
  double lineHeight = ascent + descent + def.leading;
  double left = b.xMin + kGutter + def.leftMargin, right = b.xMax - kGutter - def.rightMargin;

  // Lines of placed characters.
  std::vector<std::vector<Placed>> lines(1);
  double x = def.indent;
  for (const auto& ch : chars) {
    if (ch.code == '\r' || ch.code == '\n') {
      if (!def.multiline) continue;
      lines.emplace_back();
      x = 0;
      continue;
    }
    const swf::Shape* shape = nullptr;
    double advance = size * 0.5;
    if (embedded) {
      // A character the embedded font lacks takes no room.
      advance = 0;
      std::uint32_t code = fontCode(ch.code, *font, version);
      auto it = std::find(font->codes.begin(), font->codes.end(), code);
      if (it != font->codes.end()) {
        std::size_t gi = std::size_t(it - font->codes.begin());
        if (gi < font->glyphs.size()) shape = &font->glyphs[gi];
        advance = gi < font->advances.size() ? font->advances[gi] * size / font->em : size * 0.6;
      }
    } else if (const DeviceFonts::Glyph* g = fonts_->glyph(family, bold, italic, ch.code)) {
      shape = &g->shape;
      advance = g->advance * size / 1024;
    }
    bool space = ch.code == ' ' || ch.code == 0xa0;
    if (def.wordWrap && !space && x + advance > right - left && !lines.back().empty()) {
      // Wrap at the last space of the line, or here when the word is longer than the line.
      auto& line = lines.back();
      std::size_t cut = line.size();
      while (cut > 0 && !line[cut - 1].space) --cut;
      std::vector<Placed> carry;
      if (cut > 0 && cut < line.size()) {
        carry.assign(line.begin() + long(cut), line.end());
        line.resize(cut);
      }
      lines.emplace_back();
      x = 0;
      for (auto& p : carry) {
        p.x = x;
        x += p.advance;
        lines.back().push_back(p);
      }
    }
    lines.back().push_back({shape, x, advance, ch.color, space});
    x += advance;
  }

  // Text outside the field is cut off where the field stays upright on screen.
  swf::Rect clip;
  const swf::Rect* clipPtr = nullptr;
  if (std::fabs(m.b) < 1e-9 && std::fabs(m.c) < 1e-9) {
    double x0 = m.x(b.xMin, b.yMin), y0 = m.y(b.xMin, b.yMin), x1 = m.x(b.xMax, b.yMax),
           y1 = m.y(b.xMax, b.yMax);
    clip = {int(std::floor(std::min(x0, x1))), int(std::ceil(std::max(x0, x1))),
            int(std::floor(std::min(y0, y1))), int(std::ceil(std::max(y0, y1)))};
    clipPtr = &clip;
  }
  double em = embedded ? font->em : 1024;
  double scale = size / em;
  double baseline = b.yMin + kGutter + ascent;
  std::vector<PlacedGlyph> glyphs;
  swf::Rgba runColor = def.color;
  for (const auto& line : lines) {
    double width = 0;
    for (const auto& p : line) width = p.x + p.advance;
    double offset = def.align == 1   ? (right - left) - width
                    : def.align == 2 ? ((right - left) - width) / 2
                                     : 0;
    offset = std::max(offset, 0.0);
    for (const auto& p : line) {
      if (!p.shape) continue;
      if (!(p.color == runColor) && !glyphs.empty()) {
        drawGlyphs(glyphs, runColor, cx, out, clipPtr);
        glyphs.clear();
      }
      runColor = p.color;
      glyphs.push_back({p.shape, m * swf::Matrix::translate(left + offset + p.x, baseline) *
                                     swf::Matrix::scale(scale, scale)});
    }
    baseline += lineHeight;
  }
  drawGlyphs(glyphs, runColor, cx, out, clipPtr);
}

}  // namespace flash::render
