#include "tables/dbf/format.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "include/handvane/byteorder.h"
#include "include/handvane/gbkcut.h"

namespace hv::dbf {
namespace {

[[noreturn]] void damaged(std::string_view table, const std::string& what) {
  throw Error(Errc::Damaged, "table " + std::string(table) + ": " + what);
}

bool knownVersion(uint8_t v) {
  // dBase III (0x03, 0x83 with memo), dBase IV with memo (0x8B), FoxPro (0xF5), Visual FoxPro
  // (0x30, 0x31); all keep the same header and record layout for the field types below.
  switch (v) {
    case 0x03:
    case 0x83:
    case 0x8B:
    case 0xF5:
    case 0x30:
    case 0x31:
      return true;
    default:
      return false;
  }
}

bool validName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    bool ok =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

char upper(char c) {
  return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

std::string_view trimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

// A plain decimal number: optional sign, digits, optional fraction; at least one digit.
bool isDecimal(std::string_view s, bool& hasPoint) {
  size_t i = 0, digits = 0;
  hasPoint = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  for (; i < s.size(); ++i) {
    if (s[i] >= '0' && s[i] <= '9') {
      ++digits;
    } else if (s[i] == '.' && !hasPoint) {
      hasPoint = true;
    } else {
      return false;
    }
  }
  return digits > 0;
}

std::string rightAlign(std::string text, const Field& f) {
  if (text.size() > size_t(f.width)) {
    throw Error(Errc::BadValue, "value " + text + " does not fit field " + f.name + " (width " +
                                    std::to_string(f.width) + ")");
  }
  return std::string(f.width - text.size(), ' ') + text;
}

std::string formatReal(double v, int decimals) {
  if (!std::isfinite(v)) throw Error(Errc::BadValue, "a number must be finite");
  char buf[400];
  int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  if (n < 0 || size_t(n) >= sizeof buf) throw Error(Errc::BadValue, "number too large");
  return std::string(buf, size_t(n));
}

std::string encodeNumber(const Field& f, const Value& v) {
  switch (v.kind) {
    case Value::Kind::Null:
      return std::string(f.width, ' ');
    case Value::Kind::Integer:
      if (f.decimals == 0) return rightAlign(std::to_string(v.integer), f);
      return rightAlign(formatReal(double(v.integer), f.decimals), f);
    case Value::Kind::Real:
      return rightAlign(formatReal(v.real, f.decimals), f);
    case Value::Kind::Text:
      break;
  }
  std::string_view t = trimRight(trimLeft(v.text));
  if (t.empty()) return std::string(f.width, ' ');
  bool hasPoint = false;
  if (!isDecimal(t, hasPoint)) {
    throw Error(Errc::BadValue,
                "field " + f.name + " takes a number, not '" + std::string(t) + "'");
  }
  // Whole numbers keep every digit (a phone number must not pass through a double).
  if (!hasPoint && f.decimals == 0) {
    std::string s(t);
    if (s[0] == '+') s.erase(0, 1);
    return rightAlign(s, f);
  }
  return rightAlign(formatReal(std::strtod(std::string(t).c_str(), nullptr), f.decimals), f);
}

std::string encodeLogical(const Field& f, const Value& v) {
  std::string t;
  switch (v.kind) {
    case Value::Kind::Null:
      return "?";
    case Value::Kind::Integer:
      return v.integer ? "T" : "F";
    case Value::Kind::Real:
      return v.real != 0 ? "T" : "F";
    case Value::Kind::Text:
      t = std::string(trimRight(trimLeft(v.text)));
      break;
  }
  if (t.empty()) return "?";
  if (t.size() == 1) {
    switch (upper(t[0])) {
      case 'T':
      case 'Y':
      case '1':
        return "T";
      case 'F':
      case 'N':
      case '0':
        return "F";
      case '?':
        return "?";
    }
  }
  throw Error(Errc::BadValue, "field " + f.name + " takes T or F, not '" + t + "'");
}

std::string encodeDate(const Field& f, const Value& v) {
  if (v.kind == Value::Kind::Null) return std::string(f.width, ' ');
  std::string t = v.kind == Value::Kind::Integer ? std::to_string(v.integer)
                                                 : std::string(trimRight(trimLeft(v.text)));
  if (t.empty()) return std::string(f.width, ' ');
  std::string digits;
  for (char c : t) {
    if (c >= '0' && c <= '9')
      digits += c;
    else if (c != '-')
      digits += 'x';
  }
  if (digits.size() != 8 || digits.find('x') != std::string::npos) {
    throw Error(Errc::BadValue, "field " + f.name + " takes a date YYYYMMDD, not '" + t + "'");
  }
  return digits;
}

}  // namespace

std::string_view trimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0')) --n;
  return s.substr(0, n);
}

int Header::fieldIndex(std::string_view name) const {
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string& f = fields[i].name;
    if (f.size() != name.size()) continue;
    bool same = true;
    for (size_t k = 0; k < f.size() && same; ++k) same = upper(f[k]) == upper(name[k]);
    if (same) return int(i);
  }
  return -1;
}

Header parseHeader(std::span<const uint8_t> bytes, uint64_t fileSize, std::string_view table) {
  if (bytes.size() < kFileHeaderSize || fileSize < kFileHeaderSize)
    damaged(table, "the file header is cut short");
  Header h;
  h.version = bytes[0];
  if (!knownVersion(h.version)) {
    throw Error(Errc::Unsupported, "table " + std::string(table) +
                                       ": not a dBase table (version byte " +
                                       std::to_string(h.version) + ")");
  }
  h.year = 1900 + bytes[1];
  h.month = bytes[2];
  h.day = bytes[3];
  h.recordCount = loadLe32(&bytes[4]);
  h.headerLength = uint16_t(bytes[8] | (bytes[9] << 8));
  h.recordLength = uint16_t(bytes[10] | (bytes[11] << 8));
  h.languageDriver = bytes[29];
  if (h.headerLength < kFileHeaderSize + kDescriptorSize + 1)
    damaged(table, "the header length is too small");
  if (h.headerLength > fileSize || h.headerLength > bytes.size())
    damaged(table, "the header runs past the end of the file");
  if (h.recordLength < 2) damaged(table, "the record length is too small");

  std::set<std::string> names;
  size_t pos = kFileHeaderSize;
  int offset = 1;
  bool ended = false;
  while (pos < h.headerLength) {
    if (bytes[pos] == kHeaderEnd) {
      ended = true;
      break;
    }
    if (pos + kDescriptorSize > h.headerLength) damaged(table, "a field descriptor is cut short");
    const uint8_t* d = &bytes[pos];
    Field f;
    size_t len = 0;
    while (len < 11 && d[len] != 0) ++len;
    f.name.assign(reinterpret_cast<const char*>(d), len);
    f.type = upper(char(d[11]));
    f.width = d[16];
    f.decimals = d[17];
    f.offset = offset;
    if (!validName(f.name)) damaged(table, "a field name is not valid");
    std::string key;
    for (char c : f.name) key += upper(c);
    if (!names.insert(key).second) damaged(table, "field " + f.name + " appears twice");
    switch (f.type) {
      case 'C':
        if (f.width < 1) damaged(table, "field " + f.name + " has no width");
        f.decimals = 0;  // some writers keep a high width byte here; this layer does not
        break;
      case 'N':
      case 'F':
        if (f.width < 1 || f.width > 32 || f.decimals >= f.width)
          damaged(table, "numeric field " + f.name + " has a bad width");
        break;
      case 'L':
        if (f.width != 1) damaged(table, "logical field " + f.name + " is not 1 wide");
        break;
      case 'D':
        if (f.width != 8) damaged(table, "date field " + f.name + " is not 8 wide");
        break;
      case 'M':
        if (f.width < 1) damaged(table, "memo field " + f.name + " has no width");
        break;
      default:
        throw Error(Errc::Unsupported, "table " + std::string(table) + ": field " + f.name +
                                           " has type " + std::string(1, f.type));
    }
    offset += f.width;
    h.fields.push_back(std::move(f));
    pos += kDescriptorSize;
  }
  if (!ended) damaged(table, "the field list has no end mark");
  if (h.fields.empty()) damaged(table, "there are no fields");
  if (offset != h.recordLength) damaged(table, "the record length does not match the fields");
  if (h.recordsEnd() > fileSize) damaged(table, "the file is shorter than its records");
  return h;
}

std::vector<uint8_t> buildHeader(Header& h) {
  int offset = 1;
  for (auto& f : h.fields) {
    f.offset = offset;
    offset += f.width;
  }
  h.recordLength = uint16_t(offset);
  h.headerLength = uint16_t(kFileHeaderSize + kDescriptorSize * h.fields.size() + 1);
  std::vector<uint8_t> out(h.headerLength, 0);
  out[0] = h.version;
  out[1] = uint8_t(h.year - 1900);
  out[2] = uint8_t(h.month);
  out[3] = uint8_t(h.day);
  storeLe32(&out[4], h.recordCount);
  out[8] = uint8_t(h.headerLength & 0xFF);
  out[9] = uint8_t(h.headerLength >> 8);
  out[10] = uint8_t(h.recordLength & 0xFF);
  out[11] = uint8_t(h.recordLength >> 8);
  out[29] = h.languageDriver;
  for (size_t i = 0; i < h.fields.size(); ++i) {
    uint8_t* d = &out[kFileHeaderSize + kDescriptorSize * i];
    const Field& f = h.fields[i];
    std::copy(f.name.begin(), f.name.begin() + std::min<size_t>(f.name.size(), 10), d);
    d[11] = uint8_t(f.type);
    d[16] = uint8_t(f.width);
    d[17] = uint8_t(f.decimals);
  }
  out.back() = kHeaderEnd;
  return out;
}

Value decodeField(const Field& field, std::span<const uint8_t> record) {
  Value v;
  if (size_t(field.offset + field.width) > record.size()) return v;
  std::string_view raw(reinterpret_cast<const char*>(record.data()) + field.offset,
                       size_t(field.width));
  raw = raw.substr(0, raw.find('\0'));
  switch (field.type) {
    case 'N':
    case 'F': {
      std::string_view t = trimRight(trimLeft(raw));
      if (t.empty()) return v;
      bool hasPoint = false;
      if (!isDecimal(t, hasPoint)) {
        // Readers of the era show what is there (e.g. "*****" for an overflow); so do we.
        v.kind = Value::Kind::Text;
        v.text = std::string(t);
        return v;
      }
      if (!hasPoint) {
        int64_t i = 0;
        const char* b = t.data() + (t[0] == '+' ? 1 : 0);
        auto [p, ec] = std::from_chars(b, t.data() + t.size(), i);
        if (ec == std::errc() && p == t.data() + t.size()) {
          v.kind = Value::Kind::Integer;
          v.integer = i;
          return v;
        }
      }
      v.kind = Value::Kind::Real;
      v.real = std::strtod(std::string(t).c_str(), nullptr);
      return v;
    }
    case 'L': {
      std::string_view t = trimRight(trimLeft(raw));
      if (t.empty() || t == "?") return v;
      v.kind = Value::Kind::Text;
      char c = upper(t[0]);
      v.text = (c == 'T' || c == 'Y') ? "T" : "F";
      return v;
    }
    default: {
      std::string_view t = trimRight(raw);
      if (field.type != 'C') t = trimLeft(t);
      v.kind = Value::Kind::Text;
      v.text = std::string(t);
      return v;
    }
  }
}

std::string encodeField(const Field& field, const Value& value) {
  switch (field.type) {
    case 'N':
    case 'F':
      return encodeNumber(field, value);
    case 'L':
      return encodeLogical(field, value);
    case 'D':
      return encodeDate(field, value);
    case 'M':
      throw Error(Errc::Unsupported, "memo field " + field.name + " cannot be written");
    default:
      break;
  }
  std::string text;
  switch (value.kind) {
    case Value::Kind::Null:
      break;
    case Value::Kind::Integer:
      text = std::to_string(value.integer);
      break;
    case Value::Kind::Real:
      text = formatReal(value.real, 6);
      break;
    case Value::Kind::Text:
      text = value.text.substr(0, value.text.find('\0'));
      break;
  }
  text.resize(gbkCutLength(text, size_t(field.width)));
  text.append(size_t(field.width) - text.size(), ' ');
  return text;
}

}  // namespace hv::dbf
