// Fonts (DefineFont, DefineFont2/3, DefineFontInfo/2), static texts (DefineText/2) and edit
// texts (DefineEditText).
#include "flash/reader/parse.h"

namespace flash::swf {
namespace {

// The glyph shapes of a table that starts with `count` offsets, each relative to the table's
// start; glyph i runs to the next glyph's offset, the last to `end`.
std::vector<Shape> readGlyphTable(Reader& table, const std::vector<std::size_t>& offsets,
                                  std::size_t end, Budget& budget) {
  std::vector<Shape> glyphs;
  glyphs.reserve(offsets.size());
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    std::size_t from = offsets[i];
    std::size_t to = i + 1 < offsets.size() ? offsets[i + 1] : end;
    if (from > to || to > end || to > table.remaining()) table.fail(Error::BadRecord);
    Reader g(table.here() + from, to - from, table.offset() + from, table.tag());
    glyphs.push_back(from == to ? Shape{} : readGlyphShape(g, budget));
  }
  return glyphs;
}

}  // namespace

Font readFont1(Reader& r, Budget& budget) {
  Font f;
  Reader table = r.sub(r.remaining());
  if (table.atEnd()) return f;
  Reader head = table;
  std::size_t first = head.u16();
  std::size_t count = first / 2;
  budget.charge(count * sizeof(Shape), r);
  std::vector<std::size_t> offsets{first};
  for (std::size_t i = 1; i < count; ++i) offsets.push_back(head.u16());
  f.glyphs = readGlyphTable(table, offsets, table.remaining(), budget);
  return f;
}

Font readFont2(Reader& r, bool font3, Budget& budget) {
  Font f;
  if (font3) f.em = 20480;
  std::uint8_t flags = r.u8();
  f.hasLayout = flags & 0x80;
  f.shiftJis = flags & 0x40;
  f.ansi = flags & 0x10;
  bool wideOffsets = flags & 0x08;
  f.wideCodes = flags & 0x04;
  f.italic = flags & 0x02;
  f.bold = flags & 0x01;
  r.u8();  // language
  std::size_t nameLength = r.u8();
  const std::uint8_t* name = r.bytes(nameLength);
  f.name.assign(reinterpret_cast<const char*>(name), nameLength);
  while (!f.name.empty() && f.name.back() == '\0') f.name.pop_back();
  std::size_t count = r.u16();
  budget.charge(count * (sizeof(Shape) + 16), r);
  if (count == 0 && r.atEnd()) return f;
  Reader table = r.sub(r.remaining());
  Reader head = table;
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < count; ++i) offsets.push_back(wideOffsets ? head.u32() : head.u16());
  std::size_t codeTable = wideOffsets ? head.u32() : head.u16();
  f.glyphs = readGlyphTable(table, offsets, codeTable, budget);
  if (codeTable > table.remaining()) table.fail(Error::BadRecord);
  table.skip(codeTable);
  for (std::size_t i = 0; i < count; ++i) f.codes.push_back(f.wideCodes ? table.u16() : table.u8());
  if (!f.hasLayout) return f;
  f.ascent = table.u16();
  f.descent = table.u16();
  f.leading = table.s16();
  for (std::size_t i = 0; i < count; ++i) f.advances.push_back(table.s16());
  // Glyph bounds and kerning are not used for drawing.
  return f;
}

void readFontInfo(Reader& r, bool info2, Font& font) {
  std::size_t nameLength = r.u8();
  const std::uint8_t* name = r.bytes(nameLength);
  font.name.assign(reinterpret_cast<const char*>(name), nameLength);
  while (!font.name.empty() && font.name.back() == '\0') font.name.pop_back();
  std::uint8_t flags = r.u8();
  font.shiftJis = flags & 0x10;
  font.ansi = flags & 0x08;
  font.italic = flags & 0x04;
  font.bold = flags & 0x02;
  font.wideCodes = info2 || (flags & 0x01);
  if (info2) r.u8();  // language
  font.codes.clear();
  for (std::size_t i = 0; i < font.glyphs.size() && !r.atEnd(); ++i)
    font.codes.push_back(font.wideCodes ? r.u16() : r.u8());
}

Text readText(Reader& r, bool text2, Budget& budget) {
  Text t;
  t.bounds = readRect(r);
  t.matrix = readMatrix(r);
  int glyphBits = r.u8(), advanceBits = r.u8();
  if (glyphBits > 32 || advanceBits > 32) r.fail(Error::BadRecord);
  TextRun style;  // what carries over from run to run
  while (!r.atEnd()) {
    std::uint8_t flags = r.u8();
    if (flags == 0) break;
    TextRun run = style;
    run.glyphs.clear();
    if (flags & 0x08) run.fontId = r.u16();
    if (flags & 0x04) run.color = text2 ? readRgba(r) : readRgb(r);
    if (flags & 0x01) run.x = r.s16();
    if (flags & 0x02) run.y = r.s16();
    if (flags & 0x08) run.height = r.u16();
    std::size_t count = r.u8();
    budget.charge(sizeof(TextRun) + count * sizeof(Glyph), r);
    double x = run.x;
    for (std::size_t i = 0; i < count; ++i) {
      Glyph g;
      g.index = r.ubits(glyphBits);
      g.advance = r.sbits(advanceBits);
      x += g.advance;
      run.glyphs.push_back(g);
    }
    r.align();
    style = run;
    style.x = x;
    t.runs.push_back(std::move(run));
  }
  return t;
}

EditText readEditText(Reader& r) {
  EditText e;
  e.bounds = readRect(r);
  std::uint8_t a = r.u8(), b = r.u8();
  bool hasText = a & 0x80;
  e.wordWrap = a & 0x40;
  e.multiline = a & 0x20;
  e.password = a & 0x10;
  e.readOnly = a & 0x08;
  bool hasColor = a & 0x04, hasMaxLength = a & 0x02, hasFont = a & 0x01;
  bool hasFontClass = b & 0x80;
  e.autoSize = b & 0x40;
  bool hasLayout = b & 0x20;
  e.noSelect = b & 0x10;
  e.border = b & 0x08;
  e.html = b & 0x02;
  e.useOutlines = b & 0x01;
  if (hasFont) e.fontId = r.u16();
  if (hasFontClass) r.string();
  if (hasFont || hasFontClass) e.height = r.u16();
  if (hasColor) e.color = readRgba(r);
  if (hasMaxLength) e.maxLength = r.u16();
  if (hasLayout) {
    e.align = r.u8();
    e.leftMargin = r.u16();
    e.rightMargin = r.u16();
    e.indent = r.u16();
    e.leading = r.s16();
  }
  e.variable = r.string();
  if (hasText) e.text = r.string();
  return e;
}

}  // namespace flash::swf
