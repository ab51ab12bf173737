#pragma once
// The state of one running script and of the action being run, shared by the machine's parts.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "flash/avm1/machine.h"

namespace flash::avm1 {

using player::Node;

// Values kept on one script's stack at most; pushes beyond are dropped.
constexpr std::size_t kMaxStack = 65536;
// The longest string concatenation builds; longer results are cut.
constexpr std::size_t kMaxString = 4u << 20;
// The most elements an array may be given.
constexpr std::size_t kMaxElements = 1u << 18;

// UTF-8 helpers: strings are held as UTF-8 and counted in code points.
std::vector<std::uint32_t> codePoints(const std::string& s);
std::string utf8(std::uint32_t codePoint);
std::string substrByCodePoints(const std::string& s, double start, double count);
std::size_t codePointCount(const std::string& s);
// a + b, cut at kMaxString.
std::string concat(const std::string& a, const std::string& b);

struct Machine::Context {
  std::shared_ptr<Node> original;  // the timeline the code belongs to
  std::shared_ptr<Node> target;    // SetTarget's target; null when it named no clip
  bool retargeted = false;
  ObjectRef locals;  // a function's activation; null at the top of a frame's actions
  std::vector<ObjectRef> with;
  Value self;
  std::vector<Value> registers = std::vector<Value>(4);
  std::shared_ptr<const std::vector<std::string>> pool;
  std::vector<Value> stack;
  Value result;
  bool returned = false;

  Node* current() const { return retargeted ? target.get() : original.get(); }
  Value pop() {
    if (stack.empty()) return Value();
    Value v = std::move(stack.back());
    stack.pop_back();
    return v;
  }
  void push(Value v) {
    if (stack.size() < kMaxStack) stack.push_back(std::move(v));
  }
};

struct Machine::Op {
  std::uint8_t code = 0;
  const std::uint8_t* data = nullptr;
  std::size_t length = 0;
  std::size_t next = 0;                 // where the following action starts
  std::int64_t jump = -1;               // set by a taken branch: where to go instead
  const std::uint8_t* block = nullptr;  // the block being run, for branches and sub-blocks
  std::size_t blockLength = 0;
};

// Where the action `count` actions after `from` starts (the block's end at most).
inline std::size_t skipActions(const std::uint8_t* code, std::size_t length, std::size_t from,
                               int count) {
  std::size_t pc = from;
  for (int i = 0; i < count && pc < length; ++i) {
    std::size_t size = 1;
    if (code[pc] >= 0x80)
      size = length - pc < 3 ? length - pc : 3 + (code[pc + 1] | code[pc + 2] << 8);
    pc = std::min(length, pc + size);
  }
  return pc;
}

}  // namespace flash::avm1
