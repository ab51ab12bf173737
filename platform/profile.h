#pragma once
// Settings files of sections and keys, read and written as the Windows profile functions do:
// sections and keys match without regard to ASCII case, a value is the text after "=" with blanks
// trimmed (and one pair of enclosing quotes removed), a missing file, section or key gives the
// default. Writes create what is missing, replace a value in place, keep every other line as it
// was, and replace the file atomically. Files are GBK with CR LF line ends.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/export.h"

namespace hv {

class HV_EXPORT Profile {
 public:
  // An empty profile when the file is missing or unreadable.
  static Profile load(std::string_view path);
  static Profile parse(std::string_view text);

  std::optional<std::string> get(std::string_view section, std::string_view key) const;
  std::vector<std::string> sections() const;
  std::vector<std::string> keys(std::string_view section) const;

  void set(std::string_view section, std::string_view key, std::string_view value);
  void removeKey(std::string_view section, std::string_view key);
  void removeSection(std::string_view section);

  std::string text() const;
  bool save(std::string_view path) const;

 private:
  struct Line {
    std::string raw;      // the line as read, without its line end
    std::string section;  // for a section header: its name
    std::string key;      // for a key line: its name
    bool isSection = false;
    bool isKey = false;
  };
  // Index of the header of the first section with that name, or npos.
  size_t findSection(std::string_view section) const;
  size_t findKey(size_t sectionLine, std::string_view key) const;
  size_t sectionEnd(size_t sectionLine) const;
  std::vector<Line> lines_;
};

namespace profile {
HV_EXPORT std::string getString(std::string_view file, std::string_view section,
                                std::string_view key, std::string_view defaultValue);
// Windows rules: leading blanks skipped, an optional sign, then decimal digits; a value without
// digits gives 0; a missing key gives the default.
HV_EXPORT int getInt(std::string_view file, std::string_view section, std::string_view key,
                     int defaultValue);
HV_EXPORT bool writeString(std::string_view file, std::string_view section, std::string_view key,
                           std::string_view value);
HV_EXPORT bool removeKey(std::string_view file, std::string_view section, std::string_view key);
HV_EXPORT bool removeSection(std::string_view file, std::string_view section);
}  // namespace profile

// The Windows entry points, for code that keeps the original calling pattern. Results are cut to
// the buffer on a character boundary; the return value is the number of bytes copied.
// A null section lists the section names, a null key the keys of the section, each NUL-terminated
// with one more NUL at the end.
HV_EXPORT uint32_t GetPrivateProfileString(const char* section, const char* key,
                                           const char* defaultValue, char* buffer, uint32_t size,
                                           const char* file);
HV_EXPORT int GetPrivateProfileInt(const char* section, const char* key, int defaultValue,
                                   const char* file);
// A null key removes the section, a null value removes the key. Returns false when the file could
// not be written.
HV_EXPORT bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                                         const char* file);

}  // namespace hv
