#include "flash/player/stage.h"

#include <algorithm>

#include "flash/avm1/machine.h"
#include "flash/reader/stream.h"

namespace flash::player {

Stage::Stage(const swf::Movie& movie, const Limits& limits, TraceHandler trace)
    : movie_(movie), limits_(limits), trace_(std::move(trace)) {
  root_ = std::make_shared<Node>();
  root_->kind = Node::Kind::Clip;
  root_->timeline = &movie_.timeline;
  root_->fromTimeline = false;
  machine_ = std::make_unique<avm1::Machine>(*this);
  machine_->attach(*root_);
}

Stage::~Stage() {
  // Children hold raw parent pointers; tear the tree down from the leaves.
  std::function<void(Node&)> clear = [&](Node& n) {
    for (auto& [d, c] : n.children) clear(*c);
    n.children.clear();
  };
  clear(*root_);
}

void Stage::start() {
  stepsLeft_ = limits_.actionSteps;
  applyFrame(*root_, 1, true);
  root_->frame = 1;
  runQueue();
}

void Stage::tick() {
  ++ticks_;
  stepsLeft_ = limits_.actionSteps;
  advance(*root_);
  runQueue();
  machine_->collectIfDue();
}

void Stage::replayTo(int n) {
  replaying_ = true;
  n = std::min(n, root_->frameCount());
  while (root_->frame < n) {
    ++ticks_;
    stepsLeft_ = limits_.actionSteps;
    bool playing = root_->playing;
    root_->playing = true;
    advance(*root_);
    // The main timeline keeps the play state its actions gave it, but moves only here.
    root_->playing = playing;
    runQueue();
  }
  replaying_ = false;
}

// ---- Timelines

void Stage::advance(Node& clip) {
  fireEvent(clip, kEventEnterFrame);
  step(clip);
  std::vector<std::shared_ptr<Node>> existing;
  for (auto& [depth, child] : clip.children)
    if (child->isClip() || child->kind == Node::Kind::Button) existing.push_back(child);
  for (auto& child : existing) {
    if (child->parent != &clip) continue;     // removed meanwhile
    if (child->bornTick == ticks_) continue;  // placed in this tick: it showed its first frame
    advance(*child);
  }
}

void Stage::step(Node& clip) {
  if (!clip.isClip() || !clip.playing) return;
  int count = clip.frameCount();
  if (clip.frame < count) {
    int next = clip.frame + 1;
    applyFrame(clip, next, true);
    clip.frame = next;
  } else if (count > 1) {
    rewind(clip, 1);
  }
}

void Stage::applyFrame(Node& clip, int frame, bool actions) {
  if (!clip.timeline || frame < 1 || frame > int(clip.timeline->frames.size())) return;
  // A clip's own actions run before those of the clips it places in this frame.
  std::deque<Pending> before;
  before.swap(queue_);
  std::deque<Pending> own;
  for (const auto& p : clip.timeline->frames[std::size_t(frame - 1)]) {
    switch (p.kind) {
      case swf::Placement::Kind::Place:
        place(clip, p, frame);
        break;
      case swf::Placement::Kind::Remove:
        remove(clip, p.depth + kTimelineDepthOffset);
        break;
      case swf::Placement::Kind::Action:
        if (actions) own.push_back(Pending{clip.weak_from_this(), p.actionOffset, p.actionLength});
        break;
      case swf::Placement::Kind::Background:
        if (isRoot(clip)) background_ = p.color;
        break;
    }
  }
  std::deque<Pending> placed;
  placed.swap(queue_);
  queue_ = std::move(before);
  for (auto& a : own) queue_.push_back(std::move(a));
  for (auto& a : placed) queue_.push_back(std::move(a));
}

void Stage::gotoFrame(Node& clip, int frame) {
  if (!clip.isClip()) return;
  frame = std::clamp(frame, 1, clip.frameCount());
  if (isRoot(clip)) {
    if (replaying_) return;
    rootNavigated_ = true;
  }
  if (frame == clip.frame) return;
  if (frame > clip.frame) {
    for (int f = clip.frame + 1; f <= frame; ++f) applyFrame(clip, f, f == frame);
    clip.frame = frame;
  } else {
    rewind(clip, frame);
  }
}

// Going back: the display list of frame n is rebuilt from the timeline's placements. Objects
// that were created by the same placement as the ones already on stage stay (with their own
// state); the others are removed or created.
void Stage::rewind(Node& clip, int frame) {
  struct Entry {
    std::uint16_t id = 0;
    int placedFrame = 0;
    swf::Placement state;
  };
  std::map<int, Entry> want;
  const auto& frames = clip.timeline->frames;
  for (int f = 1; f <= frame && f <= int(frames.size()); ++f) {
    for (const auto& p : frames[std::size_t(f - 1)]) {
      int depth = p.depth + kTimelineDepthOffset;
      if (p.kind == swf::Placement::Kind::Remove) {
        want.erase(depth);
        continue;
      }
      if (p.kind != swf::Placement::Kind::Place) continue;
      auto it = want.find(depth);
      if (!p.move && it != want.end()) continue;  // the depth is taken: ignored
      bool fresh = p.characterId && (it == want.end() || it->second.id != p.characterId);
      if (fresh) {
        Entry e;
        e.id = p.characterId;
        e.placedFrame = f;
        // A move that brings a new character keeps what it does not state.
        if (p.move && it != want.end()) e.state = it->second.state;
        want[depth] = e;
        it = want.find(depth);
      } else if (it == want.end()) {
        continue;
      }
      swf::Placement& s = it->second.state;
      if (p.matrix) s.matrix = p.matrix;
      if (p.cxform) s.cxform = p.cxform;
      if (p.ratio) s.ratio = p.ratio;
      if (p.name) s.name = p.name;
      if (p.clipDepth) s.clipDepth = p.clipDepth;
      if (fresh) {
        s.clipActionOffset = p.clipActionOffset;
        s.clipActionLength = p.clipActionLength;
      }
    }
  }
  std::vector<int> gone;
  for (auto& [depth, child] : clip.children) {
    if (!child->fromTimeline) continue;
    auto it = want.find(depth);
    if (it == want.end() || it->second.id != child->characterId ||
        it->second.placedFrame != child->placedFrame)
      gone.push_back(depth);
  }
  for (int d : gone) remove(clip, d);
  clip.frame = frame;
  for (auto& [depth, e] : want) {
    auto it = clip.children.find(depth);
    if (it != clip.children.end()) {
      fill(*it->second, e.state);
      continue;
    }
    auto node = instantiate(clip, e.id, depth, e.placedFrame);
    if (!node) continue;
    fill(*node, e.state);
    readClipEvents(*node, e.state);
    fireEvent(*node, kEventLoad);
  }
  for (const auto& p : frames[std::size_t(frame - 1)])
    if (p.kind == swf::Placement::Kind::Action) queueActions(clip, p.actionOffset, p.actionLength);
}

void Stage::place(Node& clip, const swf::Placement& p, int frame) {
  int depth = p.depth + kTimelineDepthOffset;
  auto it = clip.children.find(depth);
  Node* existing = it == clip.children.end() ? nullptr : it->second.get();
  if (p.move && existing && (!p.characterId || p.characterId == existing->characterId)) {
    fill(*existing, p);
    return;
  }
  // Placing without the move flag onto an occupied depth leaves the object there, as Flash does.
  if (!p.characterId || (existing && !p.move)) return;
  swf::Placement state = p;
  if (p.move && existing) {
    // Replacing the character keeps the old object's placement where the tag states none.
    if (!state.matrix) state.matrix = existing->matrix;
    if (!state.cxform) state.cxform = existing->cxform;
    if (!state.name && !existing->name.empty()) state.name = existing->name;
  }
  if (existing) remove(clip, depth);
  auto node = instantiate(clip, p.characterId, depth, frame);
  if (!node) return;
  fill(*node, state);
  readClipEvents(*node, p);
  fireEvent(*node, kEventLoad);
}

void Stage::fill(Node& node, const swf::Placement& p) {
  if (!node.scripted) {
    if (p.matrix) node.matrix = *p.matrix;
    if (p.cxform) node.cxform = *p.cxform;
  }
  if (p.ratio) node.ratio = *p.ratio;
  if (p.name) node.name = *p.name;
  if (p.clipDepth) node.clipDepth = *p.clipDepth + kTimelineDepthOffset;
}

std::shared_ptr<Node> Stage::instantiate(Node& parent, std::uint16_t id, int depth,
                                         int placedFrame) {
  const swf::Character* c = movie_.find(id);
  if (!c || std::holds_alternative<swf::Font>(*c)) return nullptr;
  if (objects_ >= limits_.displayObjects) return nullptr;
  bool container =
      std::holds_alternative<swf::Sprite>(*c) || std::holds_alternative<swf::Button>(*c);
  if (container && parent.nesting() + 1 >= limits_.nesting) {
    // A sprite that (through others) places itself ends here.
    nestingReported_ = true;
    return nullptr;
  }
  auto node = std::make_shared<Node>();
  node->characterId = id;
  node->character = c;
  node->depth = depth;
  node->placedFrame = placedFrame;
  node->parent = &parent;
  node->bornTick = ticks_;
  ++objects_;
  parent.children[depth] = node;
  std::visit(
      [&](const auto& def) {
        using T = std::decay_t<decltype(def)>;
        if constexpr (std::is_same_v<T, swf::Shape>) {
          node->kind = Node::Kind::Shape;
        } else if constexpr (std::is_same_v<T, swf::MorphShape>) {
          node->kind = Node::Kind::Morph;
        } else if constexpr (std::is_same_v<T, swf::Bitmap>) {
          node->kind = Node::Kind::Bitmap;
        } else if constexpr (std::is_same_v<T, swf::Text>) {
          node->kind = Node::Kind::Text;
        } else if constexpr (std::is_same_v<T, swf::EditText>) {
          node->kind = Node::Kind::EditText;
          node->text = machine_->decodeText(def.text);
        } else if constexpr (std::is_same_v<T, swf::Button>) {
          node->kind = Node::Kind::Button;
          for (const auto& r : def.records) {
            if (!(r.states & 1)) continue;
            int d = r.depth + kTimelineDepthOffset;
            auto child = instantiate(*node, r.characterId, d, 0);
            if (!child) continue;
            child->matrix = r.matrix;
            child->cxform = def.cxform * r.cxform;
          }
        } else if constexpr (std::is_same_v<T, swf::Sprite>) {
          node->kind = Node::Kind::Clip;
          node->timeline = &def.timeline;
        }
      },
      *c);
  if (node->isClip()) {
    machine_->attach(*node);
    applyFrame(*node, 1, true);
    node->frame = 1;
  }
  if (node->kind == Node::Kind::EditText) machine_->bindText(*node);
  return node;
}

void Stage::readClipEvents(Node& node, const swf::Placement& p) {
  if (!node.isClip() || p.clipActionLength == 0) return;
  bool wide = movie_.header.version >= 6;
  swf::Reader r(movie_.data.data() + p.clipActionOffset, p.clipActionLength, p.clipActionOffset);
  try {
    r.u16();
    wide ? r.u32() : r.u16();
    for (;;) {
      std::uint32_t events = wide ? r.u32() : r.u16();
      if (events == 0) break;
      std::uint32_t size = r.u32();
      if (size > r.remaining()) break;
      std::size_t offset = std::size_t(r.offset());
      if (wide && (events & 0x00020000)) {  // key press: a key code comes first
        r.u8();
        ++offset;
        --size;
      }
      node.events.push_back(ClipEvent{events, offset, size});
      r.skip(size);
    }
  } catch (const swf::ReadError&) {
    // Handlers read before the damage stay.
  }
}

void Stage::fireEvent(Node& node, std::uint32_t event) {
  for (const auto& e : node.events)
    if (e.events & event) queueActions(node, e.offset, e.length);
}

void Stage::remove(Node& parent, int depth) {
  auto it = parent.children.find(depth);
  if (it == parent.children.end()) return;
  std::shared_ptr<Node> node = it->second;
  parent.children.erase(it);
  released(*node);
}

void Stage::released(Node& node) {
  for (auto& [d, c] : node.children) released(*c);
  node.children.clear();
  node.parent = nullptr;
  if (objects_ > 0) --objects_;
}

void Stage::setPlaying(Node& clip, bool playing) {
  if (clip.isClip()) clip.playing = playing;
}

int Stage::labelFrame(const Node& clip, const std::string& label) const {
  if (!clip.timeline) return 0;
  std::string key = label;
  for (auto& ch : key) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  auto it = clip.timeline->labels.find(key);
  return it == clip.timeline->labels.end() ? 0 : it->second;
}

Node* Stage::duplicate(Node& clip, const std::string& name, int depth) {
  Node* parent = clip.parent;
  if (!parent || !clip.isClip() || !clip.character) return nullptr;
  remove(*parent, depth);
  auto node = instantiate(*parent, clip.characterId, depth, -1);
  if (!node) return nullptr;
  node->fromTimeline = false;
  node->matrix = clip.matrix;
  node->cxform = clip.cxform;
  node->name = name;
  node->events = clip.events;
  fireEvent(*node, kEventLoad);
  return node.get();
}

void Stage::removeByScript(Node& clip) {
  if (!clip.parent || clip.depth < 0) return;
  fireEvent(clip, kEventUnload);
  remove(*clip.parent, clip.depth);
}

void Stage::trace(const std::string& line) {
  if (trace_) trace_(line);
}

void Stage::queueActions(Node& clip, std::size_t offset, std::size_t length) {
  queue_.push_back(Pending{clip.weak_from_this(), offset, length});
}

void Stage::runQueue() {
  while (!queue_.empty()) {
    Pending p = std::move(queue_.front());
    queue_.pop_front();
    if (stepsLeft_ == 0) continue;  // the frame's budget is spent: the rest is skipped
    std::shared_ptr<Node> clip = p.clip.lock();
    if (!clip || (!clip->parent && clip != root_)) continue;  // removed before its turn
    machine_->run(*clip, movie_.data.data() + p.offset, p.length);
  }
  machine_->syncTexts();
}

}  // namespace flash::player
