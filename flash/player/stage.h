#pragma once
// The stage: the display tree of one movie and the playing of its timelines. One tick advances
// every playing clip by a frame (parents before children, each clip's own frame actions queued
// before those of the children it places), then runs the queued actions.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "flash/flash.h"
#include "flash/player/node.h"
#include "flash/reader/movie.h"

namespace flash::avm1 {
class Machine;
}

namespace flash::player {

class Stage {
 public:
  using TraceHandler = std::function<void(const std::string&)>;

  Stage(const swf::Movie& movie, const Limits& limits, TraceHandler trace);
  ~Stage();
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

  // Enters frame 1 of the main timeline and runs its actions.
  void start();
  // One tick of playback.
  void tick();
  // Moves the main timeline forward one frame at a time up to frame n (n >= the current frame),
  // ticking everything else as playback does; actions may stop or start the main timeline but
  // not move it.
  void replayTo(int n);
  // True once an action moved the main timeline's playhead (outside replayTo).
  bool rootNavigated() const { return rootNavigated_; }

  Node& root() { return *root_; }
  const Node& root() const { return *root_; }
  const swf::Movie& movie() const { return movie_; }
  swf::Rgba background() const { return background_; }
  // Ticks since start: the movie's clock (getTimer) runs on these, never on the wall clock.
  std::uint64_t ticks() const { return ticks_; }

  // Timeline operations for scripts. Frames are clamped to the clip's timeline.
  void gotoFrame(Node& clip, int frame);
  void setPlaying(Node& clip, bool playing);
  // Looks up a frame label of the clip's timeline (case-insensitively); 0 when there is none.
  int labelFrame(const Node& clip, const std::string& label) const;
  // duplicateMovieClip: a copy of a timeline clip under the same parent at a script depth.
  Node* duplicate(Node& clip, const std::string& name, int depth);
  // removeMovieClip: only clips made by scripts can be removed.
  void removeByScript(Node& clip);
  void trace(const std::string& line);
  // Actions queued to run on `clip` after the current ones.
  void queueActions(Node& clip, std::size_t offset, std::size_t length);
  // How many more actions may run in this tick; scripts count down from Limits::actionSteps.
  std::uint32_t& stepsLeft() { return stepsLeft_; }
  const Limits& limits() const { return limits_; }
  avm1::Machine& machine() { return *machine_; }
  // The number of objects on stage now.
  std::size_t objectCount() const { return objects_; }

 private:
  struct Pending {
    std::weak_ptr<Node> clip;
    std::size_t offset, length;
  };

  void applyFrame(Node& clip, int frame, bool actions);
  void rewind(Node& clip, int frame);
  void advance(Node& clip);
  void step(Node& clip);
  void place(Node& clip, const swf::Placement& p, int frame);
  std::shared_ptr<Node> instantiate(Node& parent, std::uint16_t id, int depth, int placedFrame);
  void fill(Node& node, const swf::Placement& p);
  void readClipEvents(Node& node, const swf::Placement& p);
  void fireEvent(Node& node, std::uint32_t event);
  void remove(Node& parent, int depth);
  void released(Node& node);
  void runQueue();
  bool isRoot(const Node& clip) const { return &clip == root_.get(); }

  const swf::Movie& movie_;
  Limits limits_;
  TraceHandler trace_;
  std::shared_ptr<Node> root_;
  std::deque<Pending> queue_;
  std::unique_ptr<avm1::Machine> machine_;
  swf::Rgba background_{255, 255, 255, 255};
  std::size_t objects_ = 0;
  std::uint32_t stepsLeft_ = 0;
  std::uint64_t ticks_ = 0;
  bool replaying_ = false;
  bool rootNavigated_ = false;
  bool nestingReported_ = false;
};

}  // namespace flash::player
