#include "service-server/phone/decode.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "platform/gbk.h"

namespace hv::phone {
namespace {

constexpr uint16_t kPortRingtone = 0x1581, kPortLogo = 0x1582, kPortIcon = 0x1583,
                   kPortPicture = 0x158A;

// The parsed user-data header of one short message.
struct Header {
  bool concatenated = false;
  unsigned reference = 0, total = 0, sequence = 0;
  std::optional<uint16_t> port;
  std::vector<Bitmap> pictures;        // variable, large and small picture elements, in order
  std::vector<std::string> sounds;     // user-defined sound elements (iMelody text)
  std::optional<unsigned> objectSize;  // Alcatel
  std::span<const uint8_t> payload;    // the user data after the header
};

Item undecodable(std::string problem, std::span<const uint8_t> bytes) {
  Item i;
  i.kind = Kind::Undecodable;
  i.problem = std::move(problem);
  i.raw.assign(bytes.begin(), bytes.end());
  return i;
}

// Pictures of EMS elements: data holds position, then (variable picture) width in bytes and
// height, then rows of bits.
std::optional<Bitmap> rowBitmap(std::span<const uint8_t> bits, int width, int height) {
  const size_t needed = (size_t(width) * size_t(height) + 7) / 8;
  if (width <= 0 || height <= 0 || bits.size() < needed) return std::nullopt;
  Bitmap b;
  b.width = width;
  b.height = height;
  b.ink.resize(size_t(width) * size_t(height));
  for (size_t i = 0; i < b.ink.size(); ++i) b.ink[i] = (bits[i / 8] >> (7 - i % 8)) & 1;
  return b;
}

std::optional<Header> parseHeader(std::span<const uint8_t> ud, std::string& problem) {
  if (ud.empty()) {
    problem = "空的用户数据";
    return std::nullopt;
  }
  const size_t udhl = ud[0];
  if (udhl == 0 || 1 + udhl > ud.size()) {
    problem = "用户数据头长度不符";
    return std::nullopt;
  }
  Header h;
  size_t at = 1;
  const size_t end = 1 + udhl;
  while (at < end) {
    if (at + 2 > end) {
      problem = "信息单元被截断";
      return std::nullopt;
    }
    const uint8_t id = ud[at], len = ud[at + 1];
    if (at + 2 + len > end) {
      problem = "信息单元被截断";
      return std::nullopt;
    }
    auto d = ud.subspan(at + 2, len);
    switch (id) {
      case 0x00:
        if (len != 3) break;
        h.concatenated = true;
        h.reference = d[0], h.total = d[1], h.sequence = d[2];
        break;
      case 0x08:
        if (len != 4) break;
        h.concatenated = true;
        h.reference = unsigned(d[0]) << 8 | d[1], h.total = d[2], h.sequence = d[3];
        break;
      case 0x04:
        if (len == 2) h.port = d[0];
        break;
      case 0x05:
        if (len == 4) h.port = uint16_t(d[0] << 8 | d[1]);
        break;
      case 0x10:  // large picture, 32 x 32
      case 0x11:  // small picture, 16 x 16
      case 0x12: {
        int w = id == 0x10 ? 32 : 16, hgt = w;
        size_t skip = 1;
        if (id == 0x12) {
          if (len < 3) break;
          w = d[1] * 8, hgt = d[2], skip = 3;
        }
        auto pic = rowBitmap(d.subspan(std::min<size_t>(skip, d.size())), w, hgt);
        if (!pic) {
          problem = "图片单元长度不符";
          return std::nullopt;
        }
        h.pictures.push_back(std::move(*pic));
        break;
      }
      case 0x0C:
        if (len >= 1) h.sounds.emplace_back(d.begin() + 1, d.end());
        break;
      case 0x80:
        if (len == 4) h.objectSize = unsigned(d[2]) << 8 | d[3];
        break;
      default:  // elements that change nothing on the screen
        break;
    }
    at += 2 + len;
  }
  h.payload = ud.subspan(end);
  return h;
}

std::string operatorOf(std::span<const uint8_t> p) {
  // Mobile country code in the first two bytes, network code in the third, BCD with the low
  // nibble first.
  auto digit = [](uint8_t n) { return n <= 9 ? std::string(1, char('0' + n)) : std::string(); };
  std::string mcc = digit(p[0] & 15) + digit(p[0] >> 4) + digit(p[1] & 15);
  std::string mnc = digit(p[2] & 15) + digit(p[2] >> 4) + digit(p[1] >> 4);
  return "MCC " + mcc + " MNC " + mnc;
}

Item smartMessage(uint16_t port, std::span<const uint8_t> p) {
  Item item;
  std::string problem;
  if (port == kPortRingtone) {
    if (auto m = decodeNokiaRingtone(p, &problem)) {
      item.kind = Kind::NokiaRingtone;
      item.melody = std::move(*m);
      return item;
    }
    return undecodable("铃声无法解析：" + problem, p);
  }
  if (port == kPortLogo) {
    if (p.size() < 3) return undecodable("运营商图标过短", p);
    if (auto b = decodeOtaBitmap(p.subspan(3))) {
      item.kind = Kind::OperatorLogo;
      item.text = operatorOf(p);
      item.bitmap = std::move(*b);
      return item;
    }
    return undecodable("运营商图标的位图无法解析", p);
  }
  if (port == kPortIcon) {
    // An OTA bitmap begins with its info field 00; a leading version byte is passed over.
    auto b = decodeOtaBitmap(p);
    if (!b && !p.empty()) b = decodeOtaBitmap(p.subspan(1));
    if (!b) return undecodable("来电图标的位图无法解析", p);
    item.kind = Kind::CallerIcon;
    item.bitmap = std::move(*b);
    return item;
  }
  if (port == kPortPicture) {
    // Version, then items: type, 16-bit length, data. 00 Latin-1 text, 01 UCS-2 text,
    // 02 picture, 06 screensaver.
    if (p.empty() || p[0] != 0x30) return undecodable("图片短信的版本不符", p);
    size_t at = 1;
    bool picture = false;
    while (at + 3 <= p.size()) {
      const uint8_t type = p[at];
      const size_t len = size_t(p[at + 1]) << 8 | p[at + 2];
      at += 3;
      if (at + len > p.size()) return undecodable("图片短信的项目被截断", p);
      auto d = p.subspan(at, len);
      if (type == 0x00) {
        for (uint8_t c : d) {  // Latin-1 to UTF-8
          if (c < 0x80) {
            item.text += char(c);
          } else {
            item.text += char(0xC0 | c >> 6);
            item.text += char(0x80 | (c & 0x3F));
          }
        }
      } else if (type == 0x02 || type == 0x06) {
        auto b = decodeOtaBitmap(d);
        if (!b) return undecodable("图片短信的位图无法解析", p);
        item.kind = type == 0x02 ? Kind::PictureMessage : Kind::Screensaver;
        item.bitmap = std::move(*b);
        picture = true;
      }
      at += len;
    }
    if (!picture) return undecodable("图片短信中没有图片", p);
    return item;
  }
  char port_text[16];
  std::snprintf(port_text, sizeof port_text, "0x%04X", port);
  return undecodable(std::string("未知的应用端口 ") + port_text, p);
}

// What a series of header-carrying messages (one or several parts in order) shows.
Item assembled(const std::vector<Header>& parts, std::span<const uint8_t> whole) {
  Bytes payload;
  std::vector<Bitmap> pictures;
  std::vector<std::string> sounds;
  for (const auto& h : parts) {
    payload.insert(payload.end(), h.payload.begin(), h.payload.end());
    pictures.insert(pictures.end(), h.pictures.begin(), h.pictures.end());
    sounds.insert(sounds.end(), h.sounds.begin(), h.sounds.end());
  }
  const Header& first = parts.front();
  if (first.port) {
    Item i = smartMessage(*first.port, payload);
    if (i.kind == Kind::Undecodable) i.raw.assign(whole.begin(), whole.end());  // all of it
    return i;
  }
  if (first.objectSize) {
    if (*first.objectSize > payload.size()) return undecodable("阿尔卡特图片的对象长度不符", whole);
    auto b = decodeColumnBitmap(std::span(payload).first(*first.objectSize));
    if (!b) return undecodable("阿尔卡特图片无法解析", whole);
    Item i;
    i.kind = Kind::AlcatelPicture;
    i.bitmap = std::move(*b);
    return i;
  }
  if (!pictures.empty()) {
    // Strips of one height side by side (the Motorola picture), else the first picture.
    Item i;
    const bool strips =
        pictures.size() > 1 && std::all_of(pictures.begin(), pictures.end(), [&](const Bitmap& b) {
          return b.height == pictures[0].height;
        });
    if (!strips) {
      i.kind = Kind::EmsPicture;
      i.bitmap = pictures[0];
      return i;
    }
    i.kind = Kind::MotorolaPicture;
    Bitmap& b = i.bitmap;
    b.height = pictures[0].height;
    for (const auto& s : pictures) b.width += s.width;
    b.ink.assign(size_t(b.width) * size_t(b.height), 0);
    int x0 = 0;
    for (const auto& s : pictures) {
      for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
          b.ink[size_t(y) * size_t(b.width) + size_t(x0 + x)] = s.inkAt(x, y);
      x0 += s.width;
    }
    return i;
  }
  if (!sounds.empty()) {
    // Each part carries a small iMelody text of its own; the melody runs on from part to part.
    std::string beat, melody, source;
    for (const auto& s : sounds) {
      source += s;
      const size_t b = s.find("BEAT:");
      if (b != std::string::npos && beat.empty()) beat = s.substr(b, s.find('\n', b) - b);
      const size_t m = s.find("MELODY:");
      if (m == std::string::npos) continue;
      size_t end = s.find("END:IMELODY", m);
      melody += s.substr(m + 7, end == std::string::npos ? std::string::npos : end - m - 7);
    }
    std::string problem;
    auto decoded = decodeIMelody(beat + "\r\nMELODY:" + melody, &problem);
    if (!decoded) return undecodable("iMelody 无法解析：" + problem, whole);
    Item i;
    i.kind = Kind::IMelody;
    i.melody = std::move(*decoded);
    i.melody.source = source;
    return i;
  }
  return undecodable("用户数据头中没有可显示的内容", whole);
}

uint32_t le32(std::span<const uint8_t> p, size_t at) {
  return uint32_t(p[at]) | uint32_t(p[at + 1]) << 8 | uint32_t(p[at + 2]) << 16 |
         uint32_t(p[at + 3]) << 24;
}
uint16_t le16(std::span<const uint8_t> p, size_t at) {
  return uint16_t(p[at] | p[at + 1] << 8);
}

// One "//SEO" packet.
struct SeoPacket {
  uint32_t reference = 0, objectSize = 0;
  unsigned number = 0, count = 0;
  std::string type;
  std::span<const uint8_t> data;
};

std::optional<SeoPacket> parseSeo(std::span<const uint8_t> ud) {
  if (ud.size() < 22 || std::memcmp(ud.data(), "//SEO", 5) != 0) return std::nullopt;
  SeoPacket s;
  const unsigned dataLength = le16(ud, 6);
  s.reference = le32(ud, 8);
  s.number = le16(ud, 12);
  s.count = le16(ud, 14);
  s.objectSize = le32(ud, 16);
  size_t at = 20;
  const size_t typeLength = ud[at++];
  if (at + typeLength + 1 > ud.size()) return std::nullopt;
  s.type.assign(ud.begin() + long(at), ud.begin() + long(at + typeLength));
  at += typeLength;
  const size_t nameLength = ud[at++];
  at += nameLength;
  if (at + dataLength > ud.size() || s.number == 0 || s.number > s.count) return std::nullopt;
  s.data = ud.subspan(at, dataLength);
  return s;
}

}  // namespace

double Note::frequency() const {
  static const char* names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
  for (int i = 0; i < 12; ++i)
    if (name == names[i]) return 880.0 * std::pow(2.0, (octave - 5) + (i - 9) / 12.0);
  return 0;
}

int Note::milliseconds(int bpm) const {
  if (bpm <= 0 || duration <= 0) return 0;
  double ms = 60000.0 / bpm * 4.0 / duration;
  if (special == ".") ms *= 1.5;
  if (special == ";") ms *= 1.75;
  if (special == "&") ms *= 2.0 / 3.0;
  return int(std::lround(ms));
}

const char* kindName(Kind k) {
  switch (k) {
    case Kind::Text:
      return "短信";
    case Kind::FlashText:
      return "闪信";
    case Kind::OperatorLogo:
      return "运营商图标";
    case Kind::CallerIcon:
      return "来电群组图标";
    case Kind::PictureMessage:
      return "图片短信";
    case Kind::Screensaver:
      return "屏幕保护";
    case Kind::EmsPicture:
      return "EMS图片";
    case Kind::SiemensPicture:
      return "西门子图片";
    case Kind::AlcatelPicture:
      return "阿尔卡特图片";
    case Kind::MotorolaPicture:
      return "摩托罗拉图片";
    case Kind::NokiaRingtone:
      return "诺基亚铃声";
    case Kind::IMelody:
      return "iMelody铃声";
    case Kind::ColourPicture:
      return "彩色图片";
    case Kind::Animation:
      return "动画";
    case Kind::Undecodable:
      return "无法解析的内容";
  }
  return "";
}

std::optional<Bitmap> decodeOtaBitmap(std::span<const uint8_t> d, size_t* used) {
  if (d.size() < 4 || d[0] != 0x00 || d[3] != 0x01) return std::nullopt;
  auto b = rowBitmap(d.subspan(4), d[1], d[2]);
  if (b && used) *used = 4 + (size_t(d[1]) * d[2] + 7) / 8;
  return b;
}

std::optional<Bitmap> decodeBmp1(std::span<const uint8_t> f) {
  if (f.size() < 62 || f[0] != 'B' || f[1] != 'M') return std::nullopt;
  const uint32_t offset = le32(f, 10), info = le32(f, 14);
  const int32_t width = int32_t(le32(f, 18)), rawHeight = int32_t(le32(f, 22));
  if (info < 40 || le16(f, 26) != 1 || le16(f, 28) != 1 || le32(f, 30) != 0) return std::nullopt;
  if (width <= 0 || width > 4096 || rawHeight == 0 || rawHeight < -4096 || rawHeight > 4096)
    return std::nullopt;
  const int height = rawHeight < 0 ? -rawHeight : rawHeight;
  const size_t palette = 14 + size_t(info);
  if (palette + 8 > f.size()) return std::nullopt;
  auto dark = [&](size_t entry) {
    const size_t at = palette + entry * 4;
    return f[at] + f[at + 1] + f[at + 2] < 384;
  };
  const bool dark0 = dark(0), dark1 = dark(1);
  const size_t stride = ((size_t(width) + 31) / 32) * 4;
  if (offset > f.size() || stride * size_t(height) > f.size() - offset) return std::nullopt;
  Bitmap b;
  b.width = width;
  b.height = height;
  b.ink.resize(size_t(width) * size_t(height));
  for (int y = 0; y < height; ++y) {
    const size_t row = offset + stride * size_t(rawHeight > 0 ? height - 1 - y : y);
    for (int x = 0; x < width; ++x) {
      const bool bit = (f[row + size_t(x) / 8] >> (7 - x % 8)) & 1;
      b.ink[size_t(y) * size_t(width) + size_t(x)] = bit ? dark1 : dark0;
    }
  }
  return b;
}

std::optional<Bitmap> decodeColumnBitmap(std::span<const uint8_t> o) {
  if (o.size() < 2 || o[0] == 0 || o[1] == 0) return std::nullopt;
  const int w = o[0], h = o[1];
  const size_t column = (size_t(h) + 7) / 8;
  if (o.size() < 2 + column * size_t(w)) return std::nullopt;
  Bitmap b;
  b.width = w;
  b.height = h;
  b.ink.resize(size_t(w) * size_t(h));
  for (int x = 0; x < w; ++x)
    for (int y = 0; y < h; ++y)
      b.ink[size_t(y) * size_t(w) + size_t(x)] =
          (o[2 + size_t(x) * column + size_t(y) / 8] >> (7 - y % 8)) & 1;
  return b;
}

std::vector<Item> decodeBinary(const std::vector<Bytes>& userData) {
  std::vector<Item> out;
  // Series in the order their first part arrived; each entry keeps its parts by number.
  struct Series {
    bool seo = false;
    unsigned total = 0;
    std::map<unsigned, size_t> parts;  // number -> index in userData
    bool duplicate = false;
    std::vector<size_t> order;  // every index, for the hex of an incomplete series
  };
  std::vector<Series> series;
  std::map<std::pair<int, uint64_t>, size_t> byKey;  // (family, reference and total) -> series
  std::vector<std::optional<Header>> headers(userData.size());
  std::vector<std::optional<SeoPacket>> seo(userData.size());
  std::vector<std::optional<size_t>> single(userData.size());  // a lone message: slot in `out`
  std::vector<std::pair<bool, size_t>> sequence;               // (is series, index)

  for (size_t i = 0; i < userData.size(); ++i) {
    std::span<const uint8_t> ud = userData[i];
    if ((seo[i] = parseSeo(ud))) {
      const uint64_t key = uint64_t(seo[i]->reference) << 16 | seo[i]->count;
      auto [it, fresh] = byKey.try_emplace({1, key}, series.size());
      if (fresh) {
        series.push_back({true, seo[i]->count, {}, false, {}});
        sequence.push_back({true, it->second});
      }
      Series& s = series[it->second];
      s.duplicate |= !s.parts.emplace(seo[i]->number, i).second;
      s.order.push_back(i);
      continue;
    }
    std::string problem;
    headers[i] = parseHeader(ud, problem);
    if (!headers[i]) {
      sequence.push_back({false, i});
      single[i] = out.size();
      out.push_back(undecodable(problem, ud));
      continue;
    }
    const Header& h = *headers[i];
    if (!h.concatenated || h.total <= 1) {
      sequence.push_back({false, i});
      single[i] = out.size();
      out.push_back(assembled({h}, ud));
      continue;
    }
    const uint64_t key = uint64_t(h.reference) << 16 | h.total;
    auto [it, fresh] = byKey.try_emplace({0, key}, series.size());
    if (fresh) {
      series.push_back({false, h.total, {}, false, {}});
      sequence.push_back({true, it->second});
    }
    Series& s = series[it->second];
    s.duplicate |=
        h.sequence == 0 || h.sequence > h.total || !s.parts.emplace(h.sequence, i).second;
    s.order.push_back(i);
  }

  // Lone messages were decoded as they came; series are decoded now, in the order they began.
  std::vector<Item> result;
  for (auto [isSeries, index] : sequence) {
    if (!isSeries) {
      result.push_back(std::move(out[*single[index]]));
      continue;
    }
    const Series& s = series[index];
    Bytes all;
    for (size_t i : s.order) all.insert(all.end(), userData[i].begin(), userData[i].end());
    if (s.duplicate || s.parts.size() != s.total) {
      char why[96];
      std::snprintf(why, sizeof why, "分段不完整：共 %u 段，收到 %zu 段%s", s.total, s.order.size(),
                    s.duplicate ? "（有重复或编号错误）" : "");
      result.push_back(undecodable(why, all));
      continue;
    }
    if (s.seo) {
      Bytes object;
      std::string type;
      uint32_t size = 0;
      for (auto [n, i] : s.parts) {
        object.insert(object.end(), seo[i]->data.begin(), seo[i]->data.end());
        type = seo[i]->type, size = seo[i]->objectSize;
      }
      if (size > object.size()) {
        result.push_back(undecodable("西门子对象长度不符", all));
        continue;
      }
      object.resize(size);
      auto b = type == "bmp" ? decodeBmp1(object) : std::nullopt;
      if (!b) {
        result.push_back(undecodable("西门子对象（" + type + "）无法解析", all));
        continue;
      }
      Item item;
      item.kind = Kind::SiemensPicture;
      item.bitmap = std::move(*b);
      result.push_back(std::move(item));
      continue;
    }
    std::vector<Header> parts;
    for (auto [n, i] : s.parts) parts.push_back(*headers[i]);
    result.push_back(assembled(parts, all));
  }
  return result;
}

std::string joinNumbered(const std::vector<std::string>& parts) {
  if (parts.size() < 2) return parts.empty() ? std::string() : parts[0];
  std::vector<std::string> bodies;
  for (size_t u = 0; u < parts.size(); ++u) {
    const std::string prefix =
        "(" + std::to_string(u + 1) + "/" + std::to_string(parts.size()) + ")";
    if (parts[u].compare(0, prefix.size(), prefix) != 0) {
      std::string all;
      for (const auto& p : parts) all += p;
      return all;
    }
    bodies.push_back(parts[u].substr(prefix.size()));
  }
  // After the prefix each part repeats the same signature (maybe none) and a LF.
  const size_t lf = bodies[0].find('\n');
  std::string lead = lf == std::string::npos ? std::string() : bodies[0].substr(0, lf + 1);
  const bool shared = !lead.empty() && std::all_of(bodies.begin(), bodies.end(), [&](auto& b) {
    return b.compare(0, lead.size(), lead) == 0;
  });
  std::string out = shared && lead != "\n" ? lead : std::string();
  for (auto& b : bodies) out += shared ? b.substr(lead.size()) : b;
  return out;
}

std::vector<Item> decode(const Received& m) {
  const bool text =
      m.serviceCode == "SMS" && (m.contentKind == "sms_text" || m.contentKind == "sms_fireflag" ||
                                 m.contentClass.rfind("TEXT", 0) == 0);
  if (text) {
    Item i;
    i.kind = m.contentKind == "sms_fireflag" ? Kind::FlashText : Kind::Text;
    i.text = gbkToUtf8Escaped(joinNumbered(m.texts));
    return {i};
  }
  if (m.serviceCode == "SMS") {
    std::vector<Bytes> uds;
    for (const auto& t : m.texts) uds.emplace_back(t.begin(), t.end());
    return decodeBinary(uds);
  }
  const Bytes& c = m.content;
  auto starts = [&](std::string_view magic) {
    return c.size() >= magic.size() && std::memcmp(c.data(), magic.data(), magic.size()) == 0;
  };
  Item i;
  i.raw = c;
  if (starts("GIF87a") || starts("GIF89a")) {
    // More than one image descriptor after the first block makes an animation; a rough count of
    // frames by their graphic control extensions is enough to tell.
    size_t frames = 0;
    for (size_t k = 0; k + 1 < c.size(); ++k)
      if (c[k] == 0x21 && c[k + 1] == 0xF9) ++frames;
    i.kind = frames > 1 ? Kind::Animation : Kind::ColourPicture;
    i.mime = "image/gif";
    return {i};
  }
  if (starts("\xFF\xD8\xFF")) {
    i.kind = Kind::ColourPicture, i.mime = "image/jpeg";
    return {i};
  }
  if (starts("\x89PNG\r\n\x1A\n")) {
    i.kind = Kind::ColourPicture, i.mime = "image/png";
    return {i};
  }
  if (starts("BM")) {
    if (auto b = decodeBmp1(c)) {
      Item p;
      p.kind = Kind::ColourPicture;
      p.bitmap = std::move(*b);
      return {p};
    }
    i.kind = Kind::ColourPicture, i.mime = "image/bmp";
    return {i};
  }
  if (!m.shortMessages.empty()) return decodeBinary(m.shortMessages);
  return {undecodable("内容格式未知", c)};
}

}  // namespace hv::phone
