#pragma once
// The dBase III table file: a 32-byte file header, 32-byte field descriptors ended by 0x0D,
// then fixed-size records (a deletion flag, ' ' or '*', and the fields side by side, padded
// with blanks), and usually a 0x1A end mark. Integers are little-endian.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tables/dbf/dbf.h"

namespace hv::dbf {

inline constexpr size_t kFileHeaderSize = 32;
inline constexpr size_t kDescriptorSize = 32;
inline constexpr uint8_t kHeaderEnd = 0x0D;
inline constexpr uint8_t kEndOfFile = 0x1A;
inline constexpr char kActive = ' ';
inline constexpr char kDeleted = '*';
// The language driver id of code page 936 (GBK), which dBase readers map to "cp936".
inline constexpr uint8_t kLanguageDriverGbk = 0x7A;

struct Field {
  std::string name;
  char type = 'C';  // C character, N and F numeric, L logical, D date (YYYYMMDD), M memo
  int width = 0;
  int decimals = 0;
  int offset = 0;  // within the record, after the deletion flag
};

struct Header {
  uint8_t version = 0x03;
  int year = 0;  // full year
  int month = 0;
  int day = 0;
  uint32_t recordCount = 0;
  uint16_t headerLength = 0;
  uint16_t recordLength = 0;
  uint8_t languageDriver = 0;
  std::vector<Field> fields;

  // Index of the field of that name (ASCII case ignored), or -1.
  int fieldIndex(std::string_view name) const;
  size_t recordsEnd() const { return size_t(headerLength) + size_t(recordCount) * recordLength; }
};

// Reads and checks a header. bytes holds at least the start of the file (all of it for the
// fuzz target); fileSize is the whole file's size, which must hold every record the header
// counts. Throws Error(Damaged or Unsupported) naming what is wrong.
Header parseHeader(std::span<const uint8_t> bytes, uint64_t fileSize, std::string_view table);
// The header and descriptors for a new table of these fields (offsets and lengths computed).
std::vector<uint8_t> buildHeader(Header& header);

// A field value as the SQL layer sees it.
struct Value {
  enum class Kind { Null, Integer, Real, Text } kind = Kind::Null;
  int64_t integer = 0;
  double real = 0;
  std::string text;
};

inline Value textValue(std::string text) {
  Value v;
  v.kind = Value::Kind::Text;
  v.text = std::move(text);
  return v;
}
inline Value integerValue(int64_t i) {
  Value v;
  v.kind = Value::Kind::Integer;
  v.integer = i;
  return v;
}
inline Field makeField(std::string name, char type, int width, int decimals = 0) {
  Field f;
  f.name = std::move(name);
  f.type = type;
  f.width = width;
  f.decimals = decimals;
  return f;
}

// A field's value in a record (record includes the deletion flag).
Value decodeField(const Field& field, std::span<const uint8_t> record);
// The field's bytes for a value: exactly field.width bytes. Character values are cut on a GBK
// character boundary; numbers that do not fit, or texts that are not numbers, throw
// Error(BadValue).
std::string encodeField(const Field& field, const Value& value);

// The text without its trailing blanks and NULs (the padding of a character field).
HV_EXPORT std::string_view trimRight(std::string_view s);

}  // namespace hv::dbf
