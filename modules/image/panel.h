#pragma once
// The phone panel beside the preview: pictures and controls laid out by "PTX_PhonePanel.ini", in
// states ("normal", "AddText") that each show their own background and controls. No Qt here.
//
// The file (GBK profile):
//   [ALL]
//   x=, y=          the panel's origin in the dialog; every position below is relative to it
//   picnum=n, pic1..picn="id,left,top,file"      the panel pictures (files beside the INI)
//   controlnum=n, control1..="kind;parameters"   how each panel control looks
//   [<state>]
//   backgroudpic=id                              the picture drawn behind the state
//   controlnum=n, control1..="kind;parameters"   where each shown control goes
// A control description is its kind, ";", and parameters separated by ";":
//   button;<geometry>;<normal bitmap or null>;<second bitmap or null>;<tool tip or null>
//   edit;<geometry>
//   transstatic;<geometry>;<text colour "r,g,b">
// Geometry is "n,id,(left,top,width,height)"; n is not used; a top of -1 keeps the control where
// it is and only shows it.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "modules/image/picture.h"
#include "platform/profile.h"

namespace hv::pictport {

struct PanelControl {
  std::string kind;  // "button", "edit", "transstatic"
  int id = 0;
  Rect rect;  // panel coordinates
  bool keepsPlace = false;
  std::string normalBitmap;  // full paths; empty for "null"
  std::string secondBitmap;
  std::string tooltip;  // GBK; empty for "null"
  std::optional<Rgb> textColour;
};

struct PanelPicture {
  int id = 0;
  Point origin;  // panel coordinates
  Picture picture;
};

struct PanelState {
  int background = -1;  // picture id
  std::vector<PanelControl> controls;
};

// Parses one control description; nullopt when it does not follow the forms above.
std::optional<PanelControl> parseControl(std::string_view description, std::string_view pictureDir);

class PanelLayout {
 public:
  // Reports a missing text key with one plain message (the file, section and key written one
  // after the other); the caller shows it.
  using Report = std::function<void(const std::string& gbkText)>;

  // Reads the ALL section: origin, pictures and control looks. Loading stops at a missing text
  // key (reported) or at a description or picture that cannot be read (silently); what was read
  // so far stays. False when it stopped early.
  bool load(std::string_view iniPath, Report report);
  // The same for the file's text, with pictures looked up in pictureDir (ending in "/").
  bool loadText(std::string_view text, std::string_view iniPath, Report report);

  Point origin() const { return origin_; }
  void moveOrigin(int dx, int dy) {
    origin_.x += dx;
    origin_.y += dy;
  }
  const std::vector<PanelPicture>& pictures() const { return pictures_; }
  const PanelPicture* picture(int id) const;
  const std::vector<PanelControl>& controls() const { return controls_; }
  const PanelControl* control(int id) const;

  // A state, read from the file on first use and kept.
  const PanelState& state(const std::string& name);
  bool stateLoaded(const std::string& name) const { return states_.count(name) != 0; }

 private:
  std::optional<std::string> text(std::string_view section, std::string_view key);
  int number(std::string_view section, std::string_view key) const;
  bool readControls(std::string_view section, std::vector<PanelControl>& out);

  std::string path_;
  std::string dir_;
  Profile profile_ = Profile::parse("");
  Report report_;
  Point origin_;
  std::vector<PanelPicture> pictures_;
  std::vector<PanelControl> controls_;
  std::map<std::string, PanelState> states_;
};

// The state machine of the panel: which state is shown and which was shown before it.
class PanelStates {
 public:
  struct Change {
    std::vector<int> hide;           // ids of the old state's controls
    std::vector<PanelControl> show;  // the new state's controls, placed in panel coordinates
    int background = -1;
  };
  // Shows the state; nullopt when it is the current one already (nothing happens).
  std::optional<Change> show(PanelLayout& layout, std::string name);
  const std::string& current() const { return current_; }
  const std::string& previous() const { return previous_; }

 private:
  std::string current_;
  std::string previous_;
};

}  // namespace hv::pictport
