#pragma once
// The conversion pipeline: from the working picture and the crop frame to the preview and the
// send picture of a picture type, with its colour step and the overlay text. No Qt here; the
// dialog controller, the command line tools and the tests share it.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/records.h"
#include "modules/image/framing.h"
#include "modules/image/picture.h"

namespace hv::pictport {

// The phone picture's screen, in the phone picture's own pixels; previews are centred in it.
inline constexpr Rect kPhoneScreen{9, 20, 175, 235};
// The slider's level at start, and the level range.
inline constexpr int kDefaultThreshold = 100;

// The picture type chosen in the type list, as the pipeline needs it.
struct PictureType {
  hv::IMAGETYPE_INFO info{};
  std::string modulePath;  // module folder + modulepath

  std::string key() const { return fieldText(info.imagetype); }
  std::string name() const { return fieldText(info.imagename); }
  std::string filetype() const { return fieldText(info.filetype); }
  std::string wtype() const { return fieldText(info.wtype); }
  Size size() const { return {info.picwidth, info.picheight}; }
  bool bilevel() const { return info.color == 1; }
  // Saved as a picture file instead of being packed by a library.
  bool internal() const;
  // xscale % x picwidth by yscale % x picheight, integer division by 100.
  Size previewSize() const;
  // The top-left corner at which the preview is centred in the phone's screen.
  Point previewOrigin() const;
};

// What a send picture of this type is saved as when the type is not packed by a library:
// "OEM", "GIF" (for "GIF", and for "JPG/GIF" with a 1-bit source) or "JPG".
std::string internalFormat(const PictureType& type, SourceKind source);
// The colour depth a send picture is brought to.
int colourTarget(const PictureType& type, SourceKind source);

enum class Mode { Preview, Send };

// The colour step. For a 1-bit type: the threshold at level. Otherwise nothing for the preview;
// for sending: grey for a grey source, else the picture reduced or raised to the target depth.
// Returns the colour count when the target needs a count the module cannot make (the picture
// then stays as it was).
std::optional<int> colourStep(Picture& picture, const PictureType& type, SourceKind source,
                              Mode mode, int level);

// The pictures of the framing control: the working picture and its copy at the display size.
struct Framing {
  Picture working;
  Picture display;
  ClipGeometry geometry;
};
// Lays the working picture into a control of `client` pixels for the type.
void setupFraming(Framing& framing, Picture working, Size client, Size target);

// The framed part at w x h (the preview size or the type's size) after the colour step. An empty
// picture when there is no picture or the frame is empty. The unsupported colour count of the
// colour step, if any, goes to *unsupported.
Picture makePicture(Framing& framing, const PictureType& type, SourceKind source, Size size,
                    Mode mode, int level, std::optional<int>* unsupported = nullptr);

// The overlay text's font: height in pixels as the platform's font records give it (negative:
// the character height), weight 400 normal, 700 bold.
struct OverlayFont {
  std::string face = "WenQuanYi Micro Hei";  // UTF-8 family name
  int height = -12;
  int weight = 400;
  bool italic = false;
};

struct Overlay {
  std::string text;  // GBK, as typed
  Point position;    // preview pixels
  Rgb colour = kBlack;
  OverlayFont font;
};

// The hint the edit box shows until the user types.
std::string overlayHint();
// The words never drawn: a text holding one of them anywhere is not drawn at all.
const std::vector<std::string>& bannedWords();
// The text that is drawn (UTF-8, "&" made a line break), or "" when nothing is drawn: an empty
// text, the hint, or a text with a banned word.
std::string overlayShownText(std::string_view gbkText);

// Where and how large the text is drawn on the send picture: the preview's position and font
// height scaled by 100 / xscale and 100 / yscale.
struct TextPlacement {
  Point origin;
  int height = -12;
};
TextPlacement sendPlacement(const Overlay& overlay, const PictureType& type);

// Draws text (UTF-8, lines split at "\n") with its top-left corner at origin. Without
// anti-aliasing the strokes are pure ink, as 1-bit pictures need.
void drawText(Picture& picture, const std::string& text, Point origin, const OverlayFont& font,
              int height, Rgb colour, bool antiAlias);
// The size of the drawn text's box.
Size measureText(const std::string& text, const OverlayFont& font, int height);

// The preview with the overlay drawn on it (a copy; the preview stays clean).
Picture withOverlay(const Picture& preview, const Overlay& overlay, bool bilevel);

// A move of the overlay by (dx, dy) on a preview of that size: the new position, or nullopt when
// the text's origin would leave the preview or its far edge pass 0.
std::optional<Point> movedOverlay(const Overlay& overlay, Size textSize, Size preview, int dx,
                                  int dy);

}  // namespace hv::pictport
