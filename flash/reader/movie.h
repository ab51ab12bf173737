#pragma once
// A SWF file as read: its header, its dictionary of characters and its timelines. Nothing here
// knows about playing; the player builds its display lists from these records.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "flash/flash.h"
#include "flash/reader/records.h"

namespace flash::swf {

// Decoded pixels, premultiplied RGBA, rows from the top.
struct Bitmap {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgba;
};

struct MorphFill {
  FillStyle start, end;
};

struct MorphLine {
  LineStyle start, end;
};

// DefineMorphShape: two shapes with the same edge sequence, blended by the placement's ratio.
// start and end hold paths edge for edge; their styles are the per-ratio blends of `fills` and
// `lines`.
struct MorphShape {
  Rect startBounds, endBounds;
  std::vector<MorphFill> fills;
  std::vector<MorphLine> lines;
  std::vector<Path> start, end;
};

struct Font {
  std::string name;
  bool bold = false, italic = false, wideCodes = false, shiftJis = false, ansi = false;
  double em = 1024;                  // the em square: 1024, or 20480 for DefineFont3
  std::vector<Shape> glyphs;         // in em units, baseline at y = 0
  std::vector<std::uint16_t> codes;  // character code of each glyph
  bool hasLayout = false;
  double ascent = 0, descent = 0, leading = 0;  // em units
  std::vector<double> advances;                 // em units
};

struct Glyph {
  std::uint32_t index = 0;
  std::int32_t advance = 0;  // twips
};

// One run of a static text: every field resolved (styles carry over from the run before).
struct TextRun {
  std::uint16_t fontId = 0;
  Rgba color;
  double x = 0, y = 0;  // twips, in the text's own space
  double height = 0;    // twips
  std::vector<Glyph> glyphs;
};

struct Text {
  Rect bounds;
  Matrix matrix;
  std::vector<TextRun> runs;
};

struct EditText {
  Rect bounds;
  bool wordWrap = false, multiline = false, password = false, readOnly = false;
  bool border = false, html = false, useOutlines = false, autoSize = false, noSelect = false;
  std::uint16_t fontId = 0;  // 0: none named
  double height = 240;       // twips
  Rgba color{0, 0, 0, 255};
  int maxLength = 0;
  int align = 0;  // 0 left, 1 right, 2 centre, 3 justify
  double leftMargin = 0, rightMargin = 0, indent = 0, leading = 0;  // twips
  std::string variable;
  std::string text;  // the initial text, as stored
};

struct Placement;

struct ButtonRecord {
  std::uint8_t states = 0;  // bit 0 up, 1 over, 2 down, 3 hit test
  std::uint16_t characterId = 0;
  std::uint16_t depth = 0;
  Matrix matrix;
  ColorTransform cxform;
};

struct Button {
  std::vector<ButtonRecord> records;
  ColorTransform cxform;  // DefineButtonCxform, for DefineButton
};

// A tag that changes a timeline when its frame is reached.
struct Placement {
  enum class Kind { Place, Remove, Action, Background };
  Kind kind = Kind::Place;
  std::uint16_t depth = 0;
  // PlaceObject and PlaceObject2 fields; `move` modifies the object at depth, otherwise a new
  // object replaces whatever is there.
  bool move = false;
  std::uint16_t characterId = 0;  // 0: none given (a move)
  std::optional<Matrix> matrix;
  std::optional<ColorTransform> cxform;
  std::optional<std::uint16_t> ratio;
  std::optional<std::string> name;
  std::optional<std::uint16_t> clipDepth;
  // DoAction: the action bytes within Movie::data. SetBackgroundColor: `color`.
  std::size_t actionOffset = 0, actionLength = 0;
  Rgba color;
  // PlaceObject2's clip actions (onClipEvent handlers), unparsed, within Movie::data.
  std::size_t clipActionOffset = 0, clipActionLength = 0;
};

struct Timeline {
  std::vector<std::vector<Placement>> frames;  // one entry per ShowFrame
  std::map<std::string, int> labels;           // lower-cased label -> frame from 1
};

struct Sprite {
  std::uint16_t frameCount = 0;  // as stated
  Timeline timeline;
};

using Character = std::variant<Shape, MorphShape, Bitmap, Font, Text, EditText, Button, Sprite>;

struct Movie {
  Header header;
  std::vector<std::uint8_t> data;  // the whole uncompressed file
  std::unordered_map<std::uint16_t, std::shared_ptr<Character>> characters;
  Timeline timeline;
  Failure damage;  // the first fault met after the header

  const Character* find(std::uint16_t id) const {
    auto it = characters.find(id);
    return it == characters.end() ? nullptr : it->second.get();
  }
};

// Reads a whole file held in memory. Throws ReadError only for an unusable header or a
// compressed stream that yields nothing; damage further on ends the reading and is kept in
// Movie::damage.
std::unique_ptr<Movie> readMovie(const std::uint8_t* data, std::size_t size, const Limits& limits);

// The header fields from an uncompressed file image (the first 8 bytes and the RECT after).
Header parseHeader(const std::uint8_t* data, std::size_t size, std::size_t* headerLength);

// The uncompressed file image of FWS or CWS bytes, at most limits.fileBytes long. `damage` is
// set when a CWS stream ends early or is corrupt after yielding some bytes.
std::vector<std::uint8_t> uncompress(const std::uint8_t* data, std::size_t size, std::size_t limit,
                                     Failure* damage);

}  // namespace flash::swf
