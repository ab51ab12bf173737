#pragma once
// Skin files: the launcher window's background, icon and launcher entries, read from a profile
// file in the SKIN folder; and the skin list with the remembered choice in "skincfg.dat".
//
// A skin is a profile file: section "ALL" (background, name, appicons, focuscount) and one
// section per entry named "0" up to focuscount - 1. Paths are relative to the skin file's folder
// and must stay inside the installation: a path that leads elsewhere (an absolute path, ".." past
// the top, a link pointing outside) counts as a missing file.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hv::launcher {

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool allZero() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
  bool operator==(const Rect&) const = default;
};

struct Rgb {
  uint8_t red = 0, green = 0, blue = 0;
  bool operator==(const Rgb&) const = default;
};

// What an entry does when pressed, chosen from its "dll" and its name.
enum class EntryCommand { Plugin, Friends, Minimize, Exit, Link };

struct SkinEntry {
  // As read from the section (GBK).
  std::string type, name, icon, dll, pic0, pic1;
  Rect rect0, rect1;
  Rgb rgb0;  // transparent colour of pic1 (under the mouse)
  Rgb rgb1;  // transparent colour of pic0 (at rest)
  // The files, resolved inside the installation; "" when missing or refused.
  std::string iconPath, pic0Path, pic1Path, dllPath;

  bool hotArea() const;  // "提示型": an invisible hot area at rect1
  const Rect& buttonRect() const { return hotArea() ? rect1 : rect0; }
  EntryCommand command() const;
};

struct SkinFile {
  std::string path;    // the skin file
  std::string folder;  // its folder, ending in "/"
  std::string name;
  std::string background;  // full path ("" when missing or refused)
  std::string appIcon;     // full path ("" when missing or refused)
  int focusCount = 0;
  std::vector<SkinEntry> entries;  // the valid entries, in section order
};

// Values are cut to 255 bytes, as the profile reader's buffer does.
inline constexpr size_t kSkinValueBytes = 255;

// "left,top,right,bottom": up to four integers, each followed by a comma or the end; what is
// missing or unreadable is 0. Numbers are kept within +-32767, the range of window coordinates.
Rect parseRect(std::string_view value);
// "red,green,blue", read like "%d,%d,%d"; each component keeps its low byte as a colour does.
Rgb parseRgb(std::string_view value);
// Windows GetPrivateProfileInt rules (leading blanks, sign, digits).
int parseProfileInt(std::string_view value);

// Reads a skin file. A missing or unreadable file gives a skin without entries.
SkinFile readSkin(const std::string& path);
// The same from the file's text (for the fuzzer), with path naming where it lies.
SkinFile parseSkin(std::string_view text, const std::string& path);

// path relative to folder, resolved without regard to case, when it names an existing file
// inside the installation (the suite's home or the program's folder). A relative name that
// points into the home but is missing there is also looked up at the same place below the
// program's folder, where the libraries of an installation live.
std::optional<std::string> resolveInInstallation(std::string_view folder,
                                                 std::string_view relative);

// The skin list and the remembered choice.
class SkinCatalog {
 public:
  // skinFolder ends in "/".
  explicit SkinCatalog(std::string skinFolder);

  const std::string& folder() const { return folder_; }
  std::string configFile() const { return folder_ + "skincfg.dat"; }
  // Every "*.skin" file of the folder (full paths), sorted by name so that the order of
  // switching is the same on every machine.
  std::vector<std::string> list() const;
  // The remembered skin as a full path; when none is remembered and skins exist, the first one,
  // which is then remembered. "" when there is none. A value starting with "/" is absolute; any
  // other is relative to the skin folder.
  std::string current();
  // The skin after the current one (round the list), remembered by its bare file name; nullopt
  // when the folder has no skins.
  std::optional<std::string> next();

 private:
  std::string folder_;
  std::optional<int> position_;  // found on the first next() of a run
};

}  // namespace hv::launcher
