#pragma once
// The display tree: one Node per object on stage. Sprites and the main movie are clips (they own
// a timeline position and children); buttons own the children of their up state.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "flash/reader/movie.h"

namespace flash::avm1 {
struct Object;
}

namespace flash::player {

// Depths of timeline objects are stored shifted down by this, so that objects made by scripts
// (at depth 0 and above) sort above them, as in Flash.
constexpr int kTimelineDepthOffset = -16384;

// An onClipEvent handler of a placed sprite: the event bits and its actions within the movie.
struct ClipEvent {
  std::uint32_t events = 0;
  std::size_t offset = 0, length = 0;
};

// Clip event bits of SWF 5 (the low byte of the 16-bit event flags).
enum ClipEventBit : std::uint32_t {
  kEventLoad = 0x01,
  kEventEnterFrame = 0x02,
  kEventUnload = 0x04,
};

struct Node : std::enable_shared_from_this<Node> {
  enum class Kind { Shape, Morph, Bitmap, Text, EditText, Button, Clip };
  Kind kind = Kind::Shape;
  int depth = 0;  // stored depth (timeline depths shifted by kTimelineDepthOffset)
  std::uint16_t characterId = 0;
  const swf::Character* character = nullptr;  // null for the main movie
  swf::Matrix matrix;
  swf::ColorTransform cxform;
  std::uint16_t ratio = 0;
  std::string name;
  int clipDepth = 0;      // stored depth up to which this object masks; 0: not a mask
  int placedFrame = 0;    // the parent's frame whose placement created this object
  bool scripted = false;  // a script moved it: the timeline no longer does
  bool visible = true;
  bool fromTimeline = true;
  Node* parent = nullptr;
  std::uint64_t bornTick = 0;  // the stage tick in which it was created
  // Scale and rotation as scripts last set them, kept apart so that they survive the matrix
  // (which cannot tell a rotation of 180 degrees from negative scales).
  struct {
    double xscale = 100, yscale = 100, rotation = 0;
    bool valid = false;
  } transform;

  // Clips.
  const swf::Timeline* timeline = nullptr;
  int frame = 0;  // from 1; 0 before the first frame ran
  bool playing = true;
  std::map<int, std::shared_ptr<Node>> children;  // by stored depth
  std::shared_ptr<avm1::Object> vars;             // the clip's variables
  std::vector<ClipEvent> events;

  // Edit texts: the text shown, as UTF-8.
  std::string text;

  bool isClip() const { return kind == Kind::Clip; }
  int frameCount() const { return timeline ? std::max<int>(1, int(timeline->frames.size())) : 1; }
  int nesting() const {
    int n = 0;
    for (const Node* p = parent; p; p = p->parent) ++n;
    return n;
  }
};

}  // namespace flash::player
