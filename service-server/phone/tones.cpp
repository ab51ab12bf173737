// The two ringing-tone formats a phone receives: Smart Messaging bit strings and iMelody text.
#include <cctype>
#include <string_view>

#include "service-server/phone/decode.h"

namespace hv::phone {
namespace {

constexpr int kTempos[32] = {25,  28,  31,  35,  40,  45,  50,  56,  63,  70,  80,
                             90,  100, 112, 125, 140, 160, 180, 200, 225, 250, 285,
                             320, 355, 400, 450, 500, 565, 635, 715, 800, 900};
const char* const kNokiaNotes[16] = {"P", "C",  "C#", "D",  "D#", "E", "F", "F#",
                                     "G", "G#", "A",  "A#", "B",  "",  "",  ""};
const char* const kSpecials[4] = {"", ".", ";", "&"};
// Melodies longer than this are not a phone's ringing tone; the decoders stop there.
constexpr size_t kMaxNotes = 4096;

class BitReader {
 public:
  explicit BitReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool read(unsigned width, unsigned& value) {
    if (bit_ + width > bytes_.size() * 8) return false;
    value = 0;
    for (unsigned i = 0; i < width; ++i, ++bit_)
      value = value << 1 | ((bytes_[bit_ / 8] >> (7 - bit_ % 8)) & 1);
    return true;
  }
  void align() { bit_ = (bit_ + 7) / 8 * 8; }

 private:
  std::span<const uint8_t> bytes_;
  size_t bit_ = 0;
};

}  // namespace

std::optional<Melody> decodeNokiaRingtone(std::span<const uint8_t> body, std::string* problem) {
  auto fail = [&](const char* why) -> std::optional<Melody> {
    if (problem) *problem = why;
    return std::nullopt;
  };
  BitReader r(body);
  unsigned parts = 0;
  if (!r.read(8, parts)) return fail("没有命令部分");
  Melody m;
  bool sound = false;
  for (unsigned p = 0; p < parts; ++p) {
    unsigned command = 0;
    if (!r.read(7, command)) return fail("命令部分被截断");
    if (command == 0x25) {  // ringing-tone programming
      r.align();
      continue;
    }
    if (command == 0x3A) {  // unicode
      r.align();
      continue;
    }
    if (command != 0x1D) return fail("未知的命令部分");
    unsigned songType = 0, titleLength = 0, patterns = 0;
    if (!r.read(3, songType) || songType != 1) return fail("不是基本乐曲");
    if (!r.read(4, titleLength)) return fail("标题被截断");
    for (unsigned i = 0; i < titleLength; ++i) {
      unsigned c = 0;
      if (!r.read(8, c)) return fail("标题被截断");
    }
    if (!r.read(8, patterns)) return fail("缺少乐段数");
    for (unsigned pt = 0; pt < patterns; ++pt) {
      unsigned id = 0, patternId = 0, loop = 0, count = 0;
      if (!r.read(3, id) || id != 0 || !r.read(2, patternId) || !r.read(4, loop) ||
          !r.read(8, count))
        return fail("乐段头不符");
      int scale = 1;  // Smart Messaging's default scale is the second (A = 880 Hz)
      bool afterNote = false;
      for (unsigned k = 0; k < count; ++k) {
        unsigned type = 0, v = 0;
        if (!r.read(3, type)) return fail("指令被截断");
        const bool noteBefore = afterNote;
        afterNote = type == 1;
        switch (type) {
          case 1: {  // note
            unsigned note = 0, duration = 0, specifier = 0;
            if (!r.read(4, note) || !r.read(3, duration) || !r.read(2, specifier))
              return fail("音符被截断");
            if (note > 12 || duration > 5) return fail("音符值无效");
            if (m.notes.size() >= kMaxNotes) return fail("音符过多");
            Note n;
            n.name = kNokiaNotes[note];
            n.duration = 1 << duration;
            n.special = kSpecials[specifier];
            n.octave = 4 + scale;
            m.notes.push_back(n);
            break;
          }
          case 2:  // scale: the suite writes it after the note it belongs to; it also holds for
                   // the notes that follow
            if (!r.read(2, v)) return fail("音阶被截断");
            scale = int(v);
            if (noteBefore) m.notes.back().octave = 4 + scale;
            break;
          case 3:  // style
            if (!r.read(2, v)) return fail("风格被截断");
            break;
          case 4:  // tempo
            if (!r.read(5, v)) return fail("速度被截断");
            m.bpm = kTempos[v];
            break;
          case 5:  // volume
            if (!r.read(4, v)) return fail("音量被截断");
            break;
          default:
            return fail("未知的指令");
        }
      }
    }
    sound = true;
    r.align();
  }
  if (!sound) return fail("没有乐曲部分");
  return m;
}

std::optional<Melody> decodeIMelody(std::string_view text, std::string* problem) {
  auto fail = [&](const char* why) -> std::optional<Melody> {
    if (problem) *problem = why;
    return std::nullopt;
  };
  Melody m;
  m.bpm = 120;  // the format's default
  const size_t beat = text.find("BEAT:");
  if (beat != std::string_view::npos) {
    int bpm = 0;
    size_t at = beat + 5;
    while (at < text.size() && std::isdigit(uint8_t(text[at])) && bpm < 10000)
      bpm = bpm * 10 + (text[at++] - '0');
    if (bpm < 25 || bpm > 900) return fail("BEAT 值无效");
    m.bpm = bpm;
  }
  const size_t start = text.find("MELODY:");
  if (start == std::string_view::npos) return fail("没有 MELODY 行");
  std::string_view s = text.substr(start + 7);
  if (size_t end = s.find("END:IMELODY"); end != std::string_view::npos) s = s.substr(0, end);
  size_t i = 0;
  auto at = [&](size_t k) { return k < s.size() ? char(std::tolower(uint8_t(s[k]))) : '\0'; };
  static const std::string_view words[] = {"vibeon", "vibeoff", "ledon",
                                           "ledoff", "backon",  "backoff"};
  while (i < s.size()) {
    const char c = at(i);
    if (c == '\r' || c == '\n' || c == ' ' || c == '(' || c == ')') {
      ++i;
      continue;
    }
    bool word = false;
    for (auto w : words) {
      if (s.size() - i >= w.size()) {
        std::string low(s.substr(i, w.size()));
        for (auto& ch : low) ch = char(std::tolower(uint8_t(ch)));
        if (low == w) {
          i += w.size();
          word = true;
          break;
        }
      }
    }
    if (word) continue;
    if (c == '@') {  // repeat count
      ++i;
      while (std::isdigit(uint8_t(at(i)))) ++i;
      continue;
    }
    if (c == 'v') {  // volume: V+, V- or Vn
      ++i;
      if (at(i) == '+' || at(i) == '-') ++i;
      while (std::isdigit(uint8_t(at(i)))) ++i;
      continue;
    }
    Note n;
    int octave = 4;  // the format's default octave
    if (c == '*') {
      if (!std::isdigit(uint8_t(at(i + 1)))) return fail("八度前缀无效");
      octave = at(i + 1) - '0';
      i += 2;
    }
    int shift = 0;
    if (at(i) == '#')
      shift = 1, ++i;
    else if (at(i) == '&')
      shift = -1, ++i;
    static const std::string_view letters = "cdefgab";
    static const int semis[] = {0, 2, 4, 5, 7, 9, 11};
    static const char* const names[] = {"C",  "C#", "D",  "D#", "E",  "F",
                                        "F#", "G",  "G#", "A",  "A#", "B"};
    const char letter = at(i);
    if (letter == 'r') {
      n.name = "P";
    } else if (size_t li = letters.find(letter); letter && li != std::string_view::npos) {
      int semi = semis[li] + shift;
      if (semi < 0) semi += 12, --octave;
      if (semi > 11) semi -= 12, ++octave;
      n.name = names[semi];
    } else {
      return fail("无法识别的音符");
    }
    ++i;
    const char d = at(i);
    if (d < '0' || d > '5') return fail("时值无效");
    n.duration = 1 << (d - '0');
    ++i;
    if (at(i) == '.')
      n.special = ".", ++i;
    else if (at(i) == ':')
      n.special = ";", ++i;
    else if (at(i) == ';')
      n.special = "&", ++i;
    // iMelody counts octaves one below RTTTL: its *4 is RTTTL's fifth octave.
    n.octave = octave + 1;
    if (m.notes.size() >= kMaxNotes) return fail("音符过多");
    m.notes.push_back(n);
  }
  if (m.notes.empty()) return fail("没有音符");
  return m;
}

}  // namespace hv::phone
