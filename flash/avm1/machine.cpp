// The action loop and the actions themselves, grouped by what they work on.
#include "flash/avm1/machine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "flash/avm1/context.h"
#include "flash/player/stage.h"
#include "platform/gbk.h"

namespace flash::avm1 {

using player::Node;

namespace {

// Thrown when the frame's step budget runs out: every script running now ends.
struct Exhausted {};
// ActionThrow's value, caught by ActionTry or at the top of a block.
struct Thrown {
  Value value;
};

enum : std::uint8_t {
  kNextFrame = 0x04,
  kPrevFrame = 0x05,
  kPlay = 0x06,
  kStop = 0x07,
  kToggleQuality = 0x08,
  kStopSounds = 0x09,
  kAdd = 0x0a,
  kSubtract = 0x0b,
  kMultiply = 0x0c,
  kDivide = 0x0d,
  kEquals = 0x0e,
  kLess = 0x0f,
  kAnd = 0x10,
  kOr = 0x11,
  kNot = 0x12,
  kStringEquals = 0x13,
  kStringLength = 0x14,
  kStringExtract = 0x15,
  kPop = 0x17,
  kToInteger = 0x18,
  kGetVariable = 0x1c,
  kSetVariable = 0x1d,
  kSetTarget2 = 0x20,
  kStringAdd = 0x21,
  kGetProperty = 0x22,
  kSetProperty = 0x23,
  kCloneSprite = 0x24,
  kRemoveSprite = 0x25,
  kTrace = 0x26,
  kStartDrag = 0x27,
  kEndDrag = 0x28,
  kStringLess = 0x29,
  kThrow = 0x2a,
  kRandomNumber = 0x30,
  kMBStringLength = 0x31,
  kCharToAscii = 0x32,
  kAsciiToChar = 0x33,
  kGetTime = 0x34,
  kMBStringExtract = 0x35,
  kMBCharToAscii = 0x36,
  kMBAsciiToChar = 0x37,
  kDelete = 0x3a,
  kDelete2 = 0x3b,
  kDefineLocal = 0x3c,
  kCallFunction = 0x3d,
  kReturn = 0x3e,
  kModulo = 0x3f,
  kNewObject = 0x40,
  kDefineLocal2 = 0x41,
  kInitArray = 0x42,
  kInitObject = 0x43,
  kTypeOf = 0x44,
  kTargetPath = 0x45,
  kEnumerate = 0x46,
  kAdd2 = 0x47,
  kLess2 = 0x48,
  kEquals2 = 0x49,
  kToNumber = 0x4a,
  kToString = 0x4b,
  kPushDuplicate = 0x4c,
  kStackSwap = 0x4d,
  kGetMember = 0x4e,
  kSetMember = 0x4f,
  kIncrement = 0x50,
  kDecrement = 0x51,
  kCallMethod = 0x52,
  kNewMethod = 0x53,
  kInstanceOf = 0x54,
  kEnumerate2 = 0x55,
  kBitAnd = 0x60,
  kBitOr = 0x61,
  kBitXor = 0x62,
  kBitLShift = 0x63,
  kBitRShift = 0x64,
  kBitURShift = 0x65,
  kStrictEquals = 0x66,
  kGreater = 0x67,
  kStringGreater = 0x68,
  kGotoFrame = 0x81,
  kGetUrl = 0x83,
  kStoreRegister = 0x87,
  kConstantPool = 0x88,
  kWaitForFrame = 0x8a,
  kSetTarget = 0x8b,
  kGoToLabel = 0x8c,
  kWaitForFrame2 = 0x8d,
  kDefineFunction2 = 0x8e,
  kTry = 0x8f,
  kWith = 0x94,
  kPush = 0x96,
  kJump = 0x99,
  kGetUrl2 = 0x9a,
  kDefineFunction = 0x9b,
  kIf = 0x9d,
  kCall = 0x9e,
  kGotoFrame2 = 0x9f,
};

// A property number from the stack; NaN names no property (as do numbers out of range).
int propertyNumber(double n) {
  return std::isnan(n) ? -1 : clampToInt(n);
}

// Reads the fields of an action's payload; reads past its end give zeros and empty strings.
class Payload {
 public:
  Payload(const std::uint8_t* p, std::size_t n) : p_(p), n_(n) {}
  std::uint8_t u8() { return i_ < n_ ? p_[i_++] : (i_++, 0); }
  std::uint16_t u16() {
    std::uint16_t lo = u8();
    return std::uint16_t(lo | u8() << 8);
  }
  std::uint32_t u32() {
    std::uint32_t lo = u16();
    return lo | std::uint32_t(u16()) << 16;
  }
  std::string str() {
    std::size_t start = std::min(i_, n_), end = start;
    while (end < n_ && p_[end]) ++end;
    i_ = end + 1;
    return std::string(reinterpret_cast<const char*>(p_ + start), end - start);
  }
  bool done() const { return i_ >= n_; }

 private:
  const std::uint8_t* p_;
  std::size_t n_, i_ = 0;
};

}  // namespace

// ---- The loop

void Machine::run(Node& clip, const std::uint8_t* code, std::size_t length) {
  Context cx;
  cx.original = clip.shared_from_this();
  cx.self = clipValue(clip);
  contexts_.push_back(&cx);
  try {
    execute(cx, code, length);
  } catch (const Exhausted&) {
    stage_.stepsLeft() = 0;
  } catch (const Thrown&) {
    // An uncaught throw ends the block.
  }
  contexts_.pop_back();
  if (contexts_.empty()) callDepth_ = 0;
}

void Machine::charge(std::size_t steps) {
  std::uint32_t& left = stage_.stepsLeft();
  left -= std::uint32_t(std::min<std::size_t>(left, steps));
}

void Machine::outsideScripts(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exhausted&) {
    stage_.stepsLeft() = 0;
  } catch (const Thrown&) {
    // Nothing catches a throw here: what was being done ends.
  }
  if (contexts_.empty()) callDepth_ = 0;
}

void Machine::execute(Context& cx, const std::uint8_t* code, std::size_t length) {
  std::size_t pc = 0;
  while (pc < length && !cx.returned) {
    std::uint32_t& steps = stage_.stepsLeft();
    if (steps == 0) throw Exhausted{};
    --steps;
    Op op;
    op.code = code[pc];
    if (op.code == 0) break;  // end of actions
    std::size_t at = pc + 1;
    if (op.code >= 0x80) {
      if (length - at < 2) break;
      std::size_t size = code[at] | code[at + 1] << 8;
      at += 2;
      if (size > length - at) break;  // an action that runs past its block ends it
      op.length = size;
    }
    op.data = code + at;
    op.next = at + op.length;
    op.block = code;
    op.blockLength = length;
    if (!step(cx, op)) break;
    if (op.jump >= 0) {
      // A branch out of the block (or into its end) ends the block.
      if (std::size_t(op.jump) > length) break;
      pc = std::size_t(op.jump);
    } else {
      pc = op.next;
    }
  }
}

bool Machine::step(Context& cx, Op& op) {
  switch (op.code) {
    case kNextFrame:
    case kPrevFrame:
    case kPlay:
    case kStop:
    case kToggleQuality:
    case kStopSounds:
    case kGotoFrame:
    case kGetUrl:
    case kWaitForFrame:
    case kSetTarget:
    case kGoToLabel:
    case kWaitForFrame2:
    case kGotoFrame2:
    case kGetUrl2:
    case kSetTarget2:
    case kCloneSprite:
    case kRemoveSprite:
    case kStartDrag:
    case kEndDrag:
    case kCall:
      opNavigation(cx, op);
      return true;
    case kAdd:
    case kSubtract:
    case kMultiply:
    case kDivide:
    case kEquals:
    case kLess:
    case kAnd:
    case kOr:
    case kNot:
    case kToInteger:
    case kRandomNumber:
    case kGetTime:
    case kAdd2:
    case kLess2:
    case kEquals2:
    case kModulo:
    case kBitAnd:
    case kBitOr:
    case kBitXor:
    case kBitLShift:
    case kBitRShift:
    case kBitURShift:
    case kIncrement:
    case kDecrement:
    case kToNumber:
    case kToString:
    case kTypeOf:
    case kPushDuplicate:
    case kStackSwap:
    case kPop:
    case kStrictEquals:
    case kGreater:
      opArithmetic(cx, op);
      return true;
    case kStringEquals:
    case kStringLength:
    case kStringExtract:
    case kStringAdd:
    case kStringLess:
    case kMBStringLength:
    case kCharToAscii:
    case kAsciiToChar:
    case kMBStringExtract:
    case kMBCharToAscii:
    case kMBAsciiToChar:
    case kStringGreater:
      opStrings(cx, op);
      return true;
    case kGetVariable:
    case kSetVariable:
    case kGetProperty:
    case kSetProperty:
    case kDefineLocal:
    case kDefineLocal2:
    case kDelete:
    case kDelete2:
    case kTargetPath:
    case kStoreRegister:
    case kConstantPool:
    case kPush:
    case kTrace:
      opVariables(cx, op);
      return true;
    case kGetMember:
    case kSetMember:
    case kNewObject:
    case kNewMethod:
    case kInitArray:
    case kInitObject:
    case kEnumerate:
    case kEnumerate2:
    case kInstanceOf:
    case kWith:
      opObjects(cx, op);
      return true;
    case kCallFunction:
    case kCallMethod:
    case kReturn:
    case kDefineFunction:
    case kDefineFunction2:
    case kJump:
    case kIf:
    case kTry:
    case kThrow:
      opFunctions(cx, op);
      return true;
    default:
      return true;  // not known: skipped
  }
}

// ---- Navigation: timelines, targets, clips

void Machine::opNavigation(Context& cx, Op& op) {
  Payload in(op.data, op.length);
  Node* t = cx.current();
  switch (op.code) {
    case kNextFrame:
    case kPrevFrame:
      if (t && t->isClip()) {
        stage_.gotoFrame(*t, t->frame + (op.code == kNextFrame ? 1 : -1));
        stage_.setPlaying(*t, false);
      }
      break;
    case kPlay:
    case kStop:
      if (t) stage_.setPlaying(*t, op.code == kPlay);
      break;
    case kGotoFrame:
      if (t) stage_.gotoFrame(*t, in.u16() + 1);
      break;
    case kGoToLabel: {
      std::string label = decodeText(in.str());
      if (t)
        if (int f = stage_.labelFrame(*t, label)) stage_.gotoFrame(*t, f);
      break;
    }
    case kGotoFrame2: {
      std::uint8_t flags = in.u8();
      int bias = (flags & 0x02) ? in.u16() : 0;
      gotoValue(cx, cx.pop(), flags & 0x01, bias);
      break;
    }
    case kWaitForFrame:
    case kWaitForFrame2: {
      // Every frame is loaded once the movie is read: only frames past the end are waited for,
      // and then the given number of actions is skipped.
      int frame = op.code == kWaitForFrame ? in.u16() + 1 : clampToInt(toNumber(cx.pop()));
      int skip = in.u8();
      if (t && t->isClip() && frame > t->frameCount())
        op.jump = std::int64_t(skipActions(op.block, op.blockLength, op.next, skip));
      break;
    }
    case kSetTarget: {
      // An empty path goes back to the timeline the actions belong to; one that names no clip
      // makes the main movie the target, as Flash Player does.
      std::string path = decodeText(in.str());
      cx.retargeted = !path.empty();
      Node* n = cx.original.get();
      if (cx.retargeted) {
        n = resolveTarget(cx.original.get(), path);
        if (!n) n = &stage_.root();
      }
      cx.target = n->shared_from_this();
      break;
    }
    case kSetTarget2: {
      Value v = cx.pop();
      Node* n = clipOf(v);
      if (!n && !v.isUndefined()) {
        std::string path = v.isNull() ? std::string("null") : toString(v);
        if (!path.empty()) n = resolveTarget(cx.original.get(), path);
        if (!n && !path.empty()) n = &stage_.root();
      }
      cx.retargeted = n != nullptr;
      cx.target = (n ? n : cx.original.get())->shared_from_this();
      break;
    }
    case kCloneSprite: {
      int depth = clampToInt(toNumber(cx.pop()));
      std::string name = toString(cx.pop());
      Value source = cx.pop();
      Node* n = clipOf(source);
      if (!n) n = resolveTarget(cx.current(), toString(source));
      if (n) stage_.duplicate(*n, name, depth + player::kTimelineDepthOffset);
      break;
    }
    case kRemoveSprite: {
      Value v = cx.pop();
      Node* n = clipOf(v);
      if (!n) n = resolveTarget(cx.current(), toString(v));
      if (n) stage_.removeByScript(*n);
      break;
    }
    case kStartDrag: {
      Value target = cx.pop();
      bool lockCenter = toBoolean(cx.pop());
      bool constrained = toBoolean(cx.pop());
      double box[4] = {0, 0, 0, 0};  // x1, y1, x2, y2
      if (constrained)
        for (int i = 3; i >= 0; --i) box[i] = toNumber(cx.pop());
      Node* n = clipOf(target);
      if (!n) n = resolveTarget(cx.current(), toString(target));
      if (n) drag(*n, lockCenter, constrained ? box : nullptr);
      break;
    }
    case kGetUrl2:
      cx.pop();
      cx.pop();
      break;
    case kCall: {
      Value v = cx.pop();
      if (!t || !t->isClip() || !t->timeline) break;
      int frame = 0;
      std::string s = toString(v);
      frame = v.isNumber() ? clampToInt(v.number) : stage_.labelFrame(*t, s);
      if (!frame && !s.empty()) frame = clampToInt(parseNumberStrict(s));
      if (frame < 1 || frame > int(t->timeline->frames.size()) ||
          callDepth_ >= stage_.limits().callDepth)
        break;
      ++callDepth_;
      for (const auto& p : t->timeline->frames[std::size_t(frame - 1)])
        if (p.kind == swf::Placement::Kind::Action) {
          Context sub;
          sub.original = t->shared_from_this();
          sub.self = clipValue(*t);
          execute(sub, stage_.movie().data.data() + p.actionOffset, p.actionLength);
        }
      --callDepth_;
      break;
    }
    default:
      break;  // quality, sounds, URLs, drags: nothing to draw
  }
}

// The engine has no pointer: it rests at the stage's top-left corner. A drag that locks the
// clip's centre to it moves the clip there (within its bounds box); other drags move nothing.
void Machine::drag(Node& clip, bool lockCenter, const double* box) {
  if (!clip.parent) return;
  swf::Matrix parent;
  for (const Node* p = clip.parent; p; p = p->parent) parent = p->matrix * parent;
  swf::Matrix local = parent.inverse();
  double x = lockCenter ? local.x(0, 0) / 20 : clip.matrix.tx / 20;
  double y = lockCenter ? local.y(0, 0) / 20 : clip.matrix.ty / 20;
  if (box) {
    x = std::clamp(x, std::min(box[0], box[2]), std::max(box[0], box[2]));
    y = std::clamp(y, std::min(box[1], box[3]), std::max(box[1], box[3]));
  }
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  clip.matrix.tx = x * 20;
  clip.matrix.ty = y * 20;
  clip.scripted = true;
}

void Machine::gotoValue(Context& cx, const Value& frame, bool play, int bias) {
  Node* t = cx.current();
  std::string label;
  int number = 0;
  if (frame.isString()) {
    std::string s = frame.string;
    std::string path, rest;
    std::size_t colon = s.rfind(':');
    if (colon != std::string::npos) {
      t = resolveTarget(cx.current(), s.substr(0, colon));
      s = s.substr(colon + 1);
    }
    double n = parseNumberStrict(s);
    if (std::isnan(n)) {
      if (t) number = stage_.labelFrame(*t, s);
      if (!number) return;
    } else {
      number = clampToInt(n);
    }
  } else {
    double n = toNumber(frame);
    if (std::isnan(n)) return;
    number = clampToInt(n);
  }
  if (!t || !t->isClip()) return;
  stage_.gotoFrame(*t, number + bias);
  stage_.setPlaying(*t, play);
}

// ---- Arithmetic, comparison, conversion and the stack

// The two operands of a binary operator as numbers. Flash converts the first operand first for
// arithmetic and comparisons, but the second first for ActionEquals (objects' valueOf show it).
std::pair<double, double> Machine::numbers(Context& cx, bool firstFirst) {
  Value b = cx.pop(), a = cx.pop();
  if (firstFirst) {
    double x = toNumber(a);
    return {x, toNumber(b)};
  }
  double y = toNumber(b);
  return {toNumber(a), y};
}

void Machine::opArithmetic(Context& cx, Op& op) {
  bool swf4 = version_ < 5;
  auto truth = [](bool b) { return Value::of(b); };
  switch (op.code) {
    case kAdd:
    case kSubtract:
    case kMultiply:
    case kDivide: {
      auto [a, b] = numbers(cx, true);
      double r = op.code == kAdd        ? a + b
                 : op.code == kSubtract ? a - b
                 : op.code == kMultiply ? a * b
                                        : a / b;
      if (op.code == kDivide && b == 0 && swf4) {
        cx.push(Value::of("#ERROR#"));
        break;
      }
      cx.push(Value::of(r));
      break;
    }
    case kEquals: {
      auto [a, b] = numbers(cx, false);
      cx.push(truth(a == b));
      break;
    }
    case kLess: {
      auto [a, b] = numbers(cx, true);
      cx.push(truth(a < b));
      break;
    }
    case kAnd:
    case kOr: {
      bool b = toBoolean(cx.pop()), a = toBoolean(cx.pop());
      cx.push(truth(op.code == kAnd ? a && b : a || b));
      break;
    }
    case kNot:
      cx.push(truth(!toBoolean(cx.pop())));
      break;
    case kToInteger:
      cx.push(Value::of(std::trunc(toNumber(cx.pop()))));
      break;
    case kRandomNumber: {
      double max = std::trunc(toNumber(cx.pop()));
      random_ ^= random_ << 13;
      random_ ^= random_ >> 7;
      random_ ^= random_ << 17;
      cx.push(
          Value::of(max >= 1 ? double(random_ % std::uint64_t(std::min(max, 4294967296.0))) : 0.0));
      break;
    }
    case kGetTime: {
      double fps = std::max(1.0, stage_.movie().header.frameRate / 256.0);
      cx.push(Value::of(std::floor(double(stage_.ticks()) * 1000.0 / fps)));
      break;
    }
    case kAdd2: {
      Value b = toPrimitive(cx.pop()), a = toPrimitive(cx.pop());
      if (a.isString() || b.isString()) {
        std::string joined = concat(toString(a), toString(b));
        charge(joined.size() / kBytesPerStep);
        cx.push(Value::of(std::move(joined)));
      } else
        cx.push(Value::of(toNumber(a) + toNumber(b)));
      break;
    }
    case kLess2:
    case kGreater: {
      Value b = cx.pop(), a = cx.pop();
      Value r = op.code == kLess2 ? less(a, b) : less(b, a);
      cx.push(r);
      break;
    }
    case kEquals2: {
      Value b = cx.pop(), a = cx.pop();
      cx.push(Value::of(equals(a, b)));
      break;
    }
    case kStrictEquals: {
      Value b = cx.pop(), a = cx.pop();
      bool same = a.type == b.type && (a.type == Value::Type::Number    ? a.number == b.number
                                       : a.type == Value::Type::String  ? a.string == b.string
                                       : a.type == Value::Type::Boolean ? a.boolean == b.boolean
                                       : a.type == Value::Type::Object  ? a.object == b.object
                                                                        : true);
      cx.push(Value::of(same));
      break;
    }
    case kModulo: {
      auto [a, b] = numbers(cx, true);
      cx.push(Value::of(std::fmod(a, b)));
      break;
    }
    case kBitAnd:
    case kBitOr:
    case kBitXor:
    case kBitLShift:
    case kBitRShift:
    case kBitURShift: {
      std::int32_t b = toInt32(toNumber(cx.pop())), a = toInt32(toNumber(cx.pop()));
      double r = 0;
      switch (op.code) {
        case kBitAnd:
          r = double(a & b);
          break;
        case kBitOr:
          r = double(a | b);
          break;
        case kBitXor:
          r = double(a ^ b);
          break;
        case kBitLShift:
          r = double(std::int32_t(std::uint32_t(a) << (b & 31)));
          break;
        case kBitRShift:
          r = double(a >> (b & 31));
          break;
        default:
          r = double(std::uint32_t(a) >> (b & 31));
          break;
      }
      cx.push(Value::of(r));
      break;
    }
    case kIncrement:
    case kDecrement:
      cx.push(Value::of(toNumber(cx.pop()) + (op.code == kIncrement ? 1 : -1)));
      break;
    case kToNumber:
      cx.push(Value::of(toNumber(cx.pop())));
      break;
    case kToString:
      cx.push(Value::of(toString(cx.pop())));
      break;
    case kTypeOf:
      cx.push(Value::of(typeOf(cx.pop())));
      break;
    case kPushDuplicate: {
      Value v = cx.stack.empty() ? Value() : cx.stack.back();
      cx.push(v);
      break;
    }
    case kStackSwap: {
      Value b = cx.pop(), a = cx.pop();
      cx.push(b);
      cx.push(a);
      break;
    }
    case kPop:
      cx.pop();
      break;
    default:
      break;
  }
}

bool Machine::equals(const Value& a, const Value& b) {
  using T = Value::Type;
  if (a.type == b.type) {
    switch (a.type) {
      case T::Undefined:
      case T::Null:
        return true;
      case T::Number:
        return a.number == b.number;
      case T::String:
        return a.string == b.string;
      case T::Boolean:
        return a.boolean == b.boolean;
      case T::Object:
        return a.object == b.object;
    }
  }
  bool aNone = a.isUndefined() || a.isNull(), bNone = b.isUndefined() || b.isNull();
  if (aNone || bNone) return aNone && bNone;
  if (a.isNumber() && b.isString()) return a.number == toNumber(b);
  if (a.isString() && b.isNumber()) return toNumber(a) == b.number;
  if (a.type == T::Boolean) return equals(Value::of(a.boolean ? 1.0 : 0.0), b);
  if (b.type == T::Boolean) return equals(a, Value::of(b.boolean ? 1.0 : 0.0));
  if (a.isObject() && !b.isObject()) {
    Value p = toPrimitive(a);
    return p.isObject() ? false : equals(p, b);
  }
  if (b.isObject() && !a.isObject()) {
    Value p = toPrimitive(b);
    return p.isObject() ? false : equals(a, p);
  }
  return false;
}

Value Machine::less(const Value& a, const Value& b) {
  Value pa = toPrimitive(a), pb = toPrimitive(b);
  if (pa.isString() && pb.isString()) return Value::of(pa.string < pb.string);
  double x = toNumber(pa), y = toNumber(pb);
  if (std::isnan(x) || std::isnan(y)) return Value();
  return Value::of(x < y);
}

// ---- Strings

std::string concat(const std::string& a, const std::string& b) {
  std::string s = a.substr(0, kMaxString);
  s.append(b, 0, kMaxString - s.size());
  return s;
}

std::vector<std::uint32_t> codePoints(const std::string& s) {
  std::vector<std::uint32_t> out;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int n = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
    std::uint32_t cp = n == 1 ? c : n == 2 ? c & 0x1f : n == 3 ? c & 0x0f : c & 0x07;
    for (int k = 1; k < n && i + std::size_t(k) < s.size(); ++k)
      cp = cp << 6 | (static_cast<unsigned char>(s[i + std::size_t(k)]) & 0x3f);
    out.push_back(cp);
    i += std::size_t(n);
  }
  return out;
}

std::string utf8(std::uint32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += char(cp);
  } else if (cp < 0x800) {
    s += char(0xc0 | cp >> 6);
    s += char(0x80 | (cp & 0x3f));
  } else if (cp < 0x10000) {
    s += char(0xe0 | cp >> 12);
    s += char(0x80 | (cp >> 6 & 0x3f));
    s += char(0x80 | (cp & 0x3f));
  } else {
    s += char(0xf0 | cp >> 18);
    s += char(0x80 | (cp >> 12 & 0x3f));
    s += char(0x80 | (cp >> 6 & 0x3f));
    s += char(0x80 | (cp & 0x3f));
  }
  return s;
}

std::string substrByCodePoints(const std::string& s, double start, double count) {
  auto cps = codePoints(s);
  double n = double(cps.size());
  if (std::isnan(start)) start = 0;
  if (std::isnan(count)) count = 0;
  start = std::clamp(start, 0.0, n);
  count = std::clamp(count, 0.0, n - start);
  std::string out;
  for (std::size_t i = std::size_t(start); i < std::size_t(start + count); ++i) out += utf8(cps[i]);
  return out;
}

std::size_t codePointCount(const std::string& s) {
  return codePoints(s).size();
}

void Machine::opStrings(Context& cx, Op& op) {
  auto truth = [](bool b) { return Value::of(b); };
  switch (op.code) {
    case kStringEquals: {
      std::string b = toString(cx.pop()), a = toString(cx.pop());
      cx.push(truth(a == b));
      break;
    }
    case kStringLess:
    case kStringGreater: {
      std::string b = toString(cx.pop()), a = toString(cx.pop());
      cx.push(truth(op.code == kStringLess ? a < b : b < a));
      break;
    }
    case kStringLength:
    case kMBStringLength:
      cx.push(Value::of(double(codePointCount(toString(cx.pop())))));
      break;
    case kStringAdd: {
      std::string b = toString(cx.pop()), a = toString(cx.pop());
      std::string joined = concat(a, b);
      charge(joined.size() / kBytesPerStep);
      cx.push(Value::of(std::move(joined)));
      break;
    }
    case kStringExtract:
    case kMBStringExtract: {
      double count = toNumber(cx.pop()), index = toNumber(cx.pop());
      std::string s = toString(cx.pop());
      // Characters count from 1; a count below 0 takes the rest.
      double start = std::max(0.0, std::trunc(index) - 1);
      if (count < 0) count = double(codePointCount(s));
      cx.push(Value::of(substrByCodePoints(s, start, std::trunc(count))));
      break;
    }
    case kCharToAscii:
    case kMBCharToAscii: {
      auto cps = codePoints(toString(cx.pop()));
      cx.push(cps.empty() ? Value::of(0.0) : Value::of(double(cps[0])));
      break;
    }
    case kAsciiToChar:
    case kMBAsciiToChar: {
      double n = toNumber(cx.pop());
      std::uint32_t cp = std::isfinite(n) ? std::uint32_t(toInt32(n)) & 0xffff : 0;
      cx.push(Value::of(cp ? utf8(cp) : std::string()));
      break;
    }
    default:
      break;
  }
}

// ---- Variables, properties, registers and literals

void Machine::opVariables(Context& cx, Op& op) {
  Payload in(op.data, op.length);
  switch (op.code) {
    case kPush:
      push(cx, op);
      break;
    case kGetVariable:
      cx.push(getVariable(cx, toString(cx.pop())));
      break;
    case kSetVariable: {
      Value v = cx.pop();
      setVariable(cx, toString(cx.pop()), v);
      break;
    }
    case kGetProperty: {
      int index = propertyNumber(toNumber(cx.pop()));
      Value target = cx.pop();
      Node* n = clipOf(target);
      std::string path = n ? std::string() : toString(target);
      if (!n) n = path.empty() ? cx.current() : resolveTarget(cx.current(), path);
      cx.push(n ? getProperty(*n, index) : Value());
      break;
    }
    case kSetProperty: {
      Value v = cx.pop();
      int index = propertyNumber(toNumber(cx.pop()));
      Value target = cx.pop();
      Node* n = clipOf(target);
      std::string path = n ? std::string() : toString(target);
      if (!n) n = path.empty() ? cx.current() : resolveTarget(cx.current(), path);
      if (n) setProperty(*n, index, v);
      break;
    }
    case kDefineLocal:
    case kDefineLocal2: {
      Value v = op.code == kDefineLocal ? cx.pop() : Value();
      std::string name = toString(cx.pop());
      if (cx.locals) {
        if (op.code == kDefineLocal || !cx.locals->own(key(name)))
          cx.locals->set(key(name), name, v);
      } else if (op.code == kDefineLocal) {
        setVariable(cx, name, v);
      }
      break;
    }
    case kDelete: {
      std::string name = toString(cx.pop());
      Value object = cx.pop();
      cx.push(Value::of(object.isObject() && object.object->erase(key(name))));
      break;
    }
    case kDelete2: {
      std::string name = toString(cx.pop());
      bool done = false;
      if (cx.locals && cx.locals->own(key(name)))
        done = cx.locals->erase(key(name));
      else if (Node* t = cx.current(); t && t->vars)
        done = t->vars->erase(key(name));
      cx.push(Value::of(done));
      break;
    }
    case kTargetPath: {
      Node* n = clipOf(cx.pop());
      cx.push(n ? Value::of(dotPath(*n)) : Value());
      break;
    }
    case kStoreRegister: {
      std::size_t r = in.u8();
      if (r < cx.registers.size()) cx.registers[r] = cx.stack.empty() ? Value() : cx.stack.back();
      break;
    }
    case kConstantPool: {
      auto pool = std::make_shared<std::vector<std::string>>();
      std::size_t count = in.u16();
      for (std::size_t i = 0; i < count && !in.done(); ++i) pool->push_back(decodeText(in.str()));
      cx.pool = std::move(pool);
      break;
    }
    case kTrace: {
      Value v = cx.pop();
      stage_.trace(v.isUndefined() ? "undefined" : toString(v));
      break;
    }
    default:
      break;
  }
}

void Machine::push(Context& cx, const Op& op) {
  Payload in(op.data, op.length);
  while (!in.done()) {
    std::uint8_t type = in.u8();
    switch (type) {
      case 0:
        cx.push(Value::of(decodeText(in.str())));
        break;
      case 1: {
        std::uint32_t bits = in.u32();
        float f;
        std::memcpy(&f, &bits, 4);
        cx.push(Value::of(double(f)));
        break;
      }
      case 2:
        cx.push(Value::null());
        break;
      case 3:
        cx.push(Value());
        break;
      case 4: {
        std::size_t r = in.u8();
        cx.push(r < cx.registers.size() ? cx.registers[r] : Value());
        break;
      }
      case 5:
        cx.push(Value::of(in.u8() != 0));
        break;
      case 6: {
        // The two 32-bit halves are stored high half first.
        std::uint64_t hi = in.u32(), lo = in.u32();
        std::uint64_t bits = hi << 32 | lo;
        double d;
        std::memcpy(&d, &bits, 8);
        cx.push(Value::of(d));
        break;
      }
      case 7:
        cx.push(Value::of(double(std::int32_t(in.u32()))));
        break;
      case 8:
      case 9: {
        std::size_t i = type == 8 ? in.u8() : in.u16();
        cx.push(cx.pool && i < cx.pool->size() ? Value::of((*cx.pool)[i]) : Value());
        break;
      }
      default:
        return;  // an unknown type: the rest cannot be read
    }
  }
}

// ---- Objects

void Machine::opObjects(Context& cx, Op& op) {
  auto popArgs = [&](std::vector<Value>& args) {
    double n = toNumber(cx.pop());
    std::size_t count = std::isfinite(n) && n > 0 ? std::min(std::size_t(n), cx.stack.size()) : 0;
    for (std::size_t i = 0; i < count; ++i) args.push_back(cx.pop());
  };
  switch (op.code) {
    case kGetMember: {
      Value name = cx.pop();
      Value object = cx.pop();
      cx.push(get(object, toString(name)));
      break;
    }
    case kSetMember: {
      Value v = cx.pop();
      Value name = cx.pop();
      Value object = cx.pop();
      set(object, toString(name), v);
      break;
    }
    case kNewObject: {
      std::string name = toString(cx.pop());
      std::vector<Value> args;
      popArgs(args);
      cx.push(construct(getVariable(cx, name), args));
      break;
    }
    case kNewMethod: {
      Value name = cx.pop();
      Value object = cx.pop();
      std::vector<Value> args;
      popArgs(args);
      std::string n = name.isUndefined() ? std::string() : toString(name);
      cx.push(construct(n.empty() ? object : get(object, n), args));
      break;
    }
    case kInitArray: {
      std::vector<Value> elements;
      popArgs(elements);
      cx.push(Value::of(newArray(std::move(elements))));
      break;
    }
    case kInitObject: {
      double n = toNumber(cx.pop());
      std::size_t count =
          std::isfinite(n) && n > 0 ? std::min(std::size_t(n), cx.stack.size() / 2) : 0;
      ObjectRef o = newObject();
      for (std::size_t i = 0; i < count; ++i) {
        Value v = cx.pop();
        std::string name = toString(cx.pop());
        o->set(key(name), name, v);
      }
      cx.push(Value::of(o));
      break;
    }
    case kEnumerate:
    case kEnumerate2: {
      Value v = cx.pop();
      if (op.code == kEnumerate) v = getVariable(cx, toString(v));
      cx.push(Value::null());
      if (!v.isObject()) break;
      std::vector<std::string> names;
      std::vector<std::string> seen;
      for (ObjectRef o = v.object; o && names.size() < 65536; o = o->proto) {
        for (const auto& k : o->order) {
          const Property* p = o->own(k);
          if (!p || (p->flags & kDontEnum)) continue;
          if (std::find(seen.begin(), seen.end(), k) != seen.end()) continue;
          seen.push_back(k);
          names.push_back(p->name);
        }
        if (o->cls == Object::Class::Array)
          for (std::size_t i = 0; i < o->elements.size(); ++i) names.push_back(std::to_string(i));
      }
      if (Node* n = clipOf(v))
        for (auto& [d, child] : n->children)
          if (!child->name.empty()) names.push_back(child->name);
      for (auto& n : names) cx.push(Value::of(n));
      break;
    }
    case kInstanceOf: {
      Value ctor = cx.pop(), v = cx.pop();
      Value proto = get(ctor, "prototype");
      bool is = false;
      if (v.isObject() && proto.isObject())
        for (ObjectRef o = v.object->proto; o && !is; o = o->proto) is = o == proto.object;
      cx.push(Value::of(is));
      break;
    }
    case kWith: {
      Payload in(op.data, op.length);
      std::size_t size = std::min<std::size_t>(in.u16(), op.blockLength - op.next);
      Value v = cx.pop();
      if (v.isObject()) cx.with.push_back(v.object);
      execute(cx, op.block + op.next, size);
      if (v.isObject()) cx.with.pop_back();
      op.jump = std::int64_t(op.next + size);
      break;
    }
    default:
      break;
  }
}

// ---- Functions and control flow

void Machine::opFunctions(Context& cx, Op& op) {
  Payload in(op.data, op.length);
  auto popArgs = [&](std::vector<Value>& args) {
    double n = toNumber(cx.pop());
    std::size_t count = std::isfinite(n) && n > 0 ? std::min(std::size_t(n), cx.stack.size()) : 0;
    for (std::size_t i = 0; i < count; ++i) args.push_back(cx.pop());
  };
  auto branch = [&](std::int16_t offset) {
    std::int64_t to = std::int64_t(op.next) + offset;
    // Before the block's start: out of the block, which ends it.
    op.jump = to < 0 ? std::int64_t(op.blockLength) + 1 : to;
  };
  switch (op.code) {
    case kJump:
      branch(std::int16_t(in.u16()));
      break;
    case kIf: {
      std::int16_t offset = std::int16_t(in.u16());
      if (toBoolean(cx.pop())) branch(offset);
      break;
    }
    case kCallFunction: {
      std::string name = toString(cx.pop());
      std::vector<Value> args;
      popArgs(args);
      Value f = getVariable(cx, name);
      Node* t = cx.current();
      cx.push(call(f, t ? clipValue(*t) : cx.self, args));
      break;
    }
    case kCallMethod: {
      Value name = cx.pop();
      Value object = cx.pop();
      std::vector<Value> args;
      popArgs(args);
      std::string n = name.isUndefined() ? std::string() : toString(name);
      if (n.empty())
        cx.push(call(object, Value(), args));
      else
        cx.push(call(get(object, n), object, args));
      break;
    }
    case kReturn:
      cx.result = cx.pop();
      cx.returned = true;
      break;
    case kDefineFunction:
    case kDefineFunction2: {
      auto f = std::make_shared<ScriptFunction>();
      f->name = decodeText(in.str());
      std::size_t params = in.u16();
      if (op.code == kDefineFunction2) {
        f->version = 2;
        f->registerCount = in.u8();
        f->flags = in.u16();
      }
      for (std::size_t i = 0; i < params && !in.done(); ++i) {
        f->paramRegisters.push_back(op.code == kDefineFunction2 ? in.u8() : 0);
        f->params.push_back(decodeText(in.str()));
      }
      std::size_t size = std::min<std::size_t>(in.u16(), op.blockLength - op.next);
      f->code = op.block + op.next;
      f->length = size;
      f->pool = cx.pool;
      if (Node* t = cx.current()) f->definedIn = t->weak_from_this();
      op.jump = std::int64_t(op.next + size);
      ObjectRef fn = newFunction(nullptr);
      fn->script = f;
      if (f->name.empty()) {
        cx.push(Value::of(fn));
      } else if (cx.locals) {
        cx.locals->set(key(f->name), f->name, Value::of(fn));
      } else if (Node* t = cx.current(); t && t->vars) {
        t->vars->set(key(f->name), f->name, Value::of(fn));
      }
      break;
    }
    case kTry: {
      std::uint8_t flags = in.u8();
      std::size_t trySize = in.u16(), catchSize = in.u16(), finallySize = in.u16();
      std::string catchName;
      std::size_t catchRegister = 0;
      if (flags & 0x04)
        catchRegister = in.u8();
      else
        catchName = decodeText(in.str());
      std::size_t at = op.next, room = op.blockLength - at;
      trySize = std::min(trySize, room);
      catchSize = std::min(catchSize, room - trySize);
      finallySize = std::min(finallySize, room - trySize - catchSize);
      op.jump = std::int64_t(at + trySize + catchSize + finallySize);
      bool pending = false;
      Value thrown;
      try {
        execute(cx, op.block + at, trySize);
      } catch (const Thrown& t) {
        if (flags & 0x01) {
          if (flags & 0x04) {
            if (catchRegister < cx.registers.size()) cx.registers[catchRegister] = t.value;
          } else {
            setVariable(cx, catchName, t.value);
          }
          execute(cx, op.block + at + trySize, catchSize);
        } else {
          pending = true;
          thrown = t.value;
        }
      }
      if ((flags & 0x02) && finallySize)
        execute(cx, op.block + at + trySize + catchSize, finallySize);
      if (pending) throw Thrown{thrown};
      break;
    }
    case kThrow:
      throw Thrown{cx.pop()};
    default:
      break;
  }
}

Value Machine::call(const Value& function, const Value& self, std::vector<Value>& args) {
  if (!function.isObject()) return Value();
  const ObjectRef& f = function.object;
  if (f->script) return callScript(*f->script, f, self, args, nullptr);
  if (f->native) {
    // A built-in costs a step, and more for the size of what it made, so that building strings
    // and arrays in a loop ends at the budget too.
    if (callDepth_ >= stage_.limits().callDepth || stage_.stepsLeft() == 0) return Value();
    --stage_.stepsLeft();
    ++callDepth_;
    struct Leave {
      int& d;
      ~Leave() { --d; }
    } leave{callDepth_};
    Value r = f->native(*this, self, args);
    if (r.isString()) charge(r.string.size() / kBytesPerStep);
    if (r.isObject()) charge(r.object->elements.size() / kElementsPerStep);
    return r;
  }
  return Value();
}

Value Machine::construct(const Value& function, std::vector<Value>& args) {
  if (!function.isObject() || !function.object->isFunction()) return Value();
  const ObjectRef& f = function.object;
  if (f->constructor) return f->constructor(*this, Value(), args);
  ObjectRef o = newObject();
  Value proto = get(function, "prototype");
  o->proto = proto.isObject() ? proto.object : objectProto;
  Value result = call(function, Value::of(o), args);
  return result.isObject() ? result : Value::of(o);
}

Value Machine::callScript(const ScriptFunction& f, const ObjectRef& callee, const Value& self,
                          std::vector<Value>& args, Node* target) {
  if (callDepth_ >= stage_.limits().callDepth) return Value();
  ++callDepth_;
  struct Leave {
    int& d;
    ~Leave() { --d; }
  } leave{callDepth_};
  Context cx;
  // A function runs on the clip it is called on; called on another object, on the timeline
  // that called it (SWF 5) or the one it was defined in (SWF 6 and later: closures).
  Node* on = clipOf(self);
  if (!on) on = target;
  if (!on && version_ >= 6) {
    auto defined = f.definedIn.lock();
    if (defined && (defined->parent || defined.get() == &stage_.root())) on = defined.get();
  }
  if (!on && !contexts_.empty()) on = contexts_.back()->current();
  if (!on) on = &stage_.root();
  cx.original = on->shared_from_this();
  cx.self = self.isUndefined() || self.isNull() ? clipValue(*on) : self;
  cx.pool = f.pool;
  cx.locals = makeObject();
  cx.registers.assign(f.version == 2 ? std::max<std::size_t>(f.registerCount, 1) : 4, Value());
  ObjectRef arguments = newArray(args);
  arguments->set(key("callee"), "callee", Value::of(callee), kDontEnum);
  if (f.version == 2) {
    std::size_t r = 1;
    auto preload = [&](std::uint16_t bit, Value v) {
      if ((f.flags & bit) && r < cx.registers.size()) cx.registers[r++] = std::move(v);
    };
    preload(0x0001, cx.self);
    preload(0x0004, Value::of(arguments));
    preload(0x0010, Value());
    preload(0x0040, clipValue(stage_.root()));
    preload(0x0080, on->parent ? clipValue(*on->parent) : Value());
    preload(0x0100, Value::of(global));
    if (!(f.flags & 0x0008)) cx.locals->set(key("arguments"), "arguments", Value::of(arguments));
  } else {
    cx.locals->set(key("arguments"), "arguments", Value::of(arguments));
  }
  for (std::size_t i = 0; i < f.params.size(); ++i) {
    Value v = i < args.size() ? args[i] : Value();
    std::uint8_t r = i < f.paramRegisters.size() ? f.paramRegisters[i] : 0;
    if (r && r < cx.registers.size())
      cx.registers[r] = v;
    else
      cx.locals->set(key(f.params[i]), f.params[i], v);
  }
  contexts_.push_back(&cx);
  struct Pop {
    std::vector<Context*>& c;
    ~Pop() { c.pop_back(); }
  } pop{contexts_};
  execute(cx, f.code, f.length);
  return cx.result;
}

}  // namespace flash::avm1
