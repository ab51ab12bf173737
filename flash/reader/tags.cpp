// The tag stream: definitions into the dictionary, control tags into timelines (the main one
// and each sprite's). A definition that cannot be read is left out; a tag stream that cannot be
// followed ends there. Either is kept as the movie's damage.
#include "flash/reader/tags.h"

#include <cctype>

#include "flash/reader/parse.h"

namespace flash::swf {
namespace {

class MovieReader {
 public:
  MovieReader(Movie& movie, const Limits& limits)
      : movie_(movie),
        limits_(limits),
        budget_(limits.recordBytes),
        bitmapBytes_(limits.bitmapBytes) {}

  void readTimeline(Reader& r, Timeline& timeline, bool sprite);

 private:
  void noteDamage(const Failure& f) {
    if (movie_.damage.ok()) movie_.damage = f;
  }
  void readTag(int code, Reader& body, Timeline& timeline, std::vector<Placement>& frame,
               bool sprite);
  void define(std::uint16_t id, Character c, Reader& at) {
    // A later definition of the same id is ignored, as Flash does.
    budget_.charge(64, at);
    movie_.characters.emplace(id, std::make_shared<Character>(std::move(c)));
  }
  Placement readPlaceObject(Reader& r);
  Placement readPlaceObject2(Reader& r, bool three);
  Button readButton(Reader& r, bool button2);
  Sprite readSprite(Reader& r);
  BitmapLimits bitmapLimits() { return BitmapLimits{limits_.bitmapSide, &bitmapBytes_}; }

  Movie& movie_;
  const Limits& limits_;
  Budget budget_;
  std::size_t bitmapBytes_;
  std::vector<std::uint8_t> jpegTables_;
};

void MovieReader::readTimeline(Reader& r, Timeline& timeline, bool sprite) {
  std::vector<Placement> frame;
  while (!r.atEnd()) {
    std::uint64_t tagStart = r.offset();
    int code = -1;
    try {
      std::uint16_t head = r.u16();
      code = head >> 6;
      std::uint32_t length = head & 0x3f;
      if (length == 0x3f) length = r.u32();
      if (code == kEnd) break;
      if (length > r.remaining()) {
        noteDamage(Failure{Error::BadTagLength, code, tagStart});
        break;
      }
      Reader body = r.sub(length);
      Reader tagBody(body.here(), body.remaining(), body.offset(), code);
      if (code == kShowFrame) {
        budget_.charge(sizeof(frame), r);
        timeline.frames.push_back(std::move(frame));
        frame.clear();
        continue;
      }
      try {
        readTag(code, tagBody, timeline, frame, sprite);
      } catch (const ReadError& e) {
        if (e.failure().error == Error::TooLarge && budget_.exhausted()) throw;
        noteDamage(e.failure());
      }
    } catch (const ReadError& e) {
      noteDamage(e.failure().tag >= 0 ? e.failure() : Failure{e.failure().error, code, tagStart});
      break;
    }
  }
  // A stream cut within its first frame still shows what it placed.
  if (timeline.frames.empty() && !frame.empty()) timeline.frames.push_back(std::move(frame));
}

void MovieReader::readTag(int code, Reader& r, Timeline& timeline, std::vector<Placement>& frame,
                          bool sprite) {
  auto control = [&](Placement p) {
    budget_.charge(sizeof(Placement), r);
    frame.push_back(std::move(p));
  };
  switch (code) {
    case kPlaceObject:
      return control(readPlaceObject(r));
    case kPlaceObject2:
      return control(readPlaceObject2(r, false));
    case kPlaceObject3:
      return control(readPlaceObject2(r, true));
    case kRemoveObject:
    case kRemoveObject2: {
      Placement p;
      p.kind = Placement::Kind::Remove;
      if (code == kRemoveObject) r.u16();
      p.depth = r.u16();
      return control(std::move(p));
    }
    case kDoAction: {
      Placement p;
      p.kind = Placement::Kind::Action;
      p.actionOffset = std::size_t(r.offset());
      p.actionLength = r.remaining();
      return control(std::move(p));
    }
    case kSetBackgroundColor: {
      Placement p;
      p.kind = Placement::Kind::Background;
      p.color = readRgb(r);
      return control(std::move(p));
    }
    case kFrameLabel: {
      std::string label = r.string();
      for (auto& ch : label) ch = char(std::tolower(static_cast<unsigned char>(ch)));
      timeline.labels.emplace(label, int(timeline.frames.size()) + 1);
      return;
    }
    default:
      break;
  }
  // Definitions belong to the main timeline; inside a sprite they are not valid and skipped.
  if (sprite) return;
  switch (code) {
    case kDefineShape:
    case kDefineShape2:
    case kDefineShape3:
    case kDefineShape4: {
      std::uint16_t id = r.u16();
      int version = code == kDefineShape    ? 1
                    : code == kDefineShape2 ? 2
                    : code == kDefineShape3 ? 3
                                            : 4;
      Rect bounds = readRect(r);
      if (version == 4) {
        readRect(r);
        r.u8();
      }
      Shape s = readShapeWithStyle(r, version, budget_);
      s.bounds = bounds;
      return define(id, std::move(s), r);
    }
    case kDefineMorphShape: {
      std::uint16_t id = r.u16();
      return define(id, readMorphShape(r, 1, budget_), r);
    }
    case kJpegTables:
      jpegTables_.assign(r.here(), r.here() + r.remaining());
      return;
    case kDefineBits: {
      std::uint16_t id = r.u16();
      return define(
          id, decodeImage(r, r.here(), r.remaining(), &jpegTables_, nullptr, 0, bitmapLimits()), r);
    }
    case kDefineBitsJpeg2: {
      std::uint16_t id = r.u16();
      return define(
          id, decodeImage(r, r.here(), r.remaining(), nullptr, nullptr, 0, bitmapLimits()), r);
    }
    case kDefineBitsJpeg3: {
      std::uint16_t id = r.u16();
      std::uint32_t alphaOffset = r.u32();
      if (alphaOffset > r.remaining()) r.fail(Error::BadRecord);
      const std::uint8_t* image = r.here();
      return define(id,
                    decodeImage(r, image, alphaOffset, nullptr, image + alphaOffset,
                                r.remaining() - alphaOffset, bitmapLimits()),
                    r);
    }
    case kDefineBitsLossless:
    case kDefineBitsLossless2: {
      std::uint16_t id = r.u16();
      return define(id, readLossless(r, code == kDefineBitsLossless2, bitmapLimits()), r);
    }
    case kDefineFont: {
      std::uint16_t id = r.u16();
      return define(id, readFont1(r, budget_), r);
    }
    case kDefineFont2:
    case kDefineFont3: {
      std::uint16_t id = r.u16();
      return define(id, readFont2(r, code == kDefineFont3, budget_), r);
    }
    case kDefineFontInfo:
    case kDefineFontInfo2: {
      std::uint16_t id = r.u16();
      auto it = movie_.characters.find(id);
      if (it == movie_.characters.end() || !std::holds_alternative<Font>(*it->second)) return;
      Font copy = std::get<Font>(*it->second);
      readFontInfo(r, code == kDefineFontInfo2, copy);
      *it->second = std::move(copy);
      return;
    }
    case kDefineText:
    case kDefineText2: {
      std::uint16_t id = r.u16();
      return define(id, readText(r, code == kDefineText2, budget_), r);
    }
    case kDefineEditText: {
      std::uint16_t id = r.u16();
      return define(id, readEditText(r), r);
    }
    case kDefineButton:
    case kDefineButton2: {
      std::uint16_t id = r.u16();
      return define(id, readButton(r, code == kDefineButton2), r);
    }
    case kDefineButtonCxform: {
      std::uint16_t id = r.u16();
      auto it = movie_.characters.find(id);
      if (it == movie_.characters.end() || !std::holds_alternative<Button>(*it->second)) return;
      std::get<Button>(*it->second).cxform = readCxform(r, false);
      return;
    }
    case kDefineSprite: {
      std::uint16_t id = r.u16();
      return define(id, readSprite(r), r);
    }
    default:
      // Sounds, streams, video, protection and metadata are not needed for pictures.
      return;
  }
}

Placement MovieReader::readPlaceObject(Reader& r) {
  Placement p;
  p.characterId = r.u16();
  p.depth = r.u16();
  p.matrix = readMatrix(r);
  if (!r.atEnd()) p.cxform = readCxform(r, false);
  return p;
}

Placement MovieReader::readPlaceObject2(Reader& r, bool three) {
  Placement p;
  std::uint8_t flags = r.u8();
  std::uint8_t flags3 = three ? r.u8() : 0;
  p.depth = r.u16();
  if (three && (flags3 & 0x08)) r.string();  // class name
  p.move = flags & 0x01;
  if (flags & 0x02) p.characterId = r.u16();
  if (flags & 0x04) p.matrix = readMatrix(r);
  if (flags & 0x08) p.cxform = readCxform(r, true);
  if (flags & 0x10) p.ratio = r.u16();
  if (flags & 0x20) p.name = r.string();
  if (flags & 0x40) p.clipDepth = r.u16();
  // Filters, blend modes and clip actions follow; clip actions are read by the player from the
  // rest of the tag.
  if (!three && (flags & 0x80)) {
    p.clipActionOffset = std::size_t(r.offset());
    p.clipActionLength = r.remaining();
  }
  return p;
}

Button MovieReader::readButton(Reader& r, bool button2) {
  Button b;
  if (button2) {
    r.u8();   // track as menu
    r.u16();  // offset of the actions
  }
  while (!r.atEnd()) {
    std::uint8_t flags = r.u8();
    if (flags == 0) break;
    budget_.charge(sizeof(ButtonRecord), r);
    ButtonRecord rec;
    rec.states = flags & 0x0f;
    rec.characterId = r.u16();
    rec.depth = r.u16();
    rec.matrix = readMatrix(r);
    if (button2) {
      rec.cxform = readCxform(r, true);
      // SWF 8 filter lists and blend modes cannot be skipped reliably; buttons that use them
      // keep the records read so far.
      if (flags & 0x30) {
        b.records.push_back(rec);
        break;
      }
    }
    b.records.push_back(rec);
  }
  return b;
}

Sprite MovieReader::readSprite(Reader& r) {
  Sprite s;
  s.frameCount = r.u16();
  Reader body(r.here(), r.remaining(), r.offset(), -1);
  readTimeline(body, s.timeline, true);
  return s;
}

}  // namespace

std::unique_ptr<Movie> readMovie(const std::uint8_t* data, std::size_t size, const Limits& limits) {
  auto movie = std::make_unique<Movie>();
  movie->data = uncompress(data, size, limits.fileBytes, &movie->damage);
  std::size_t headerLength = 0;
  movie->header = parseHeader(movie->data.data(), movie->data.size(), &headerLength);
  // The signature as stored: the data now holds the uncompressed image either way.
  std::copy(data, data + 3, movie->header.signature);
  // A file shorter than its header says was cut: what is there still plays.
  if (movie->data.size() < movie->header.fileLength && movie->damage.ok())
    movie->damage = Failure{Error::Truncated, -1, movie->data.size()};
  Reader r(movie->data.data() + headerLength, movie->data.size() - headerLength, headerLength);
  MovieReader reader(*movie, limits);
  try {
    reader.readTimeline(r, movie->timeline, false);
  } catch (const ReadError& e) {
    if (movie->damage.ok()) movie->damage = e.failure();
  }
  return movie;
}

}  // namespace flash::swf
