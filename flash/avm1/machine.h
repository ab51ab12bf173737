#pragma once
// The ActionScript 1 machine of SWF 3 to 5 (and the common SWF 6 and 7 additions): the stack
// machine, variables and target paths, functions and objects, the movie-clip properties, and the
// built-in objects ordinary animations use. Every action counts against the stage's step budget
// of the frame; an action it does not know is skipped.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flash/avm1/value.h"
#include "flash/player/node.h"

namespace flash::player {
class Stage;
}

namespace flash::avm1 {

class Machine {
 public:
  explicit Machine(player::Stage& stage);
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Gives a clip its variables object (and the main movie its global names).
  void attach(player::Node& clip);
  // Runs an action block with `clip` as its timeline and target.
  void run(player::Node& clip, const std::uint8_t* code, std::size_t length);
  // Text as the file stores it (UTF-8 from SWF 6 on; GBK, else Latin-1, before) as UTF-8.
  std::string decodeText(const std::string& raw) const;
  // A new edit text with a variable name shows the variable, or sets it to its initial text.
  void bindText(player::Node& text);
  // Every bound edit text takes the current value of its variable.
  void syncTexts();

  // For the built-in functions.
  int version() const { return version_; }
  std::string key(const std::string& name) const;
  Value get(const Value& object, const std::string& name);
  void set(const Value& object, const std::string& name, const Value& value);
  Value call(const Value& function, const Value& self, std::vector<Value>& args);
  Value construct(const Value& function, std::vector<Value>& args);
  double toNumber(const Value& v);
  std::string toString(const Value& v);
  bool toBoolean(const Value& v);
  Value toPrimitive(const Value& v, bool preferString = false);
  std::string typeOf(const Value& v);
  ObjectRef newObject();
  ObjectRef newArray(std::vector<Value> elements = {});
  ObjectRef newFunction(NativeFunction f);
  // Every object is made here, so that the machine can free them (see heap.cpp).
  ObjectRef makeObject(Object::Class cls = Object::Class::Object, ObjectRef proto = nullptr);
  // Frees the objects that only reference cycles among objects keep alive; returns how many.
  std::size_t collectCycles();
  // Collects cycles once the objects made since the last collection are many (between frames).
  void collectIfDue();
  // Objects made by this machine that are still alive.
  std::size_t liveObjects() const;
  // Takes steps from the frame's budget for work beyond one action (long strings, big arrays).
  void charge(std::size_t steps);
  static constexpr std::size_t kBytesPerStep = 1024, kElementsPerStep = 64;
  // The clip a value refers to (a clip object whose clip is still on stage), else null.
  player::Node* clipOf(const Value& v) const;
  Value clipValue(player::Node& clip);
  // "/a/b" and "_level0.a.b".
  std::string slashPath(const player::Node& clip) const;
  std::string dotPath(const player::Node& clip) const;
  // Resolves a target path ("/a/b", "../c", "_root.a", "a.b") from `base`; null if none.
  player::Node* resolveTarget(player::Node* base, const std::string& path);
  player::Stage& stage() { return stage_; }

  ObjectRef global, objectProto, functionProto, arrayProto, stringProto, numberProto, booleanProto,
      clipProto;

 private:
  struct Context;
  struct Op;
  void execute(Context& cx, const std::uint8_t* code, std::size_t length);
  bool step(Context& cx, Op& op);
  void opNavigation(Context& cx, Op& op);
  void opArithmetic(Context& cx, Op& op);
  void opStrings(Context& cx, Op& op);
  void opVariables(Context& cx, Op& op);
  void opObjects(Context& cx, Op& op);
  void opFunctions(Context& cx, Op& op);
  void push(Context& cx, const Op& op);
  std::pair<double, double> numbers(Context& cx, bool firstFirst);
  Value callScript(const ScriptFunction& f, const ObjectRef& callee, const Value& self,
                   std::vector<Value>& args, player::Node* target);
  Value getVariable(Context& cx, const std::string& name);
  void setVariable(Context& cx, const std::string& name, const Value& v);
  bool splitPath(const std::string& path, std::string& target, std::string& name) const;
  Value getProperty(player::Node& clip, int index);
  void setProperty(player::Node& clip, int index, const Value& v);
  int propertyIndex(const std::string& name) const;
  Value getClipMember(player::Node& clip, const std::string& name, bool& found);
  void gotoValue(Context& cx, const Value& frame, bool play, int bias);

 public:
  void drag(player::Node& clip, bool lockCenter, const double* box);

 private:
  bool equals(const Value& a, const Value& b);
  Value less(const Value& a, const Value& b);
  void installBuiltins();
  void installClipMethods();
  void installStrings();
  void installArrays();
  void installMath();
  void installGlobals();
  void syncTexts(player::Node& clip);
  void bindTextNow(player::Node& text);
  // Runs f where no script is running: a throw or the end of the step budget inside ends f.
  void outsideScripts(const std::function<void()>& f);
  void compactRegistry();
  void releaseAll();

  static constexpr std::size_t kRegistryMinimum = 4096;

  player::Stage& stage_;
  int version_;
  int callDepth_ = 0;
  std::vector<Context*> contexts_;  // the scripts running now, innermost last
  std::uint64_t random_;
  std::vector<std::weak_ptr<Object>> objects_;  // every object made, alive or not
  std::size_t collectAt_ = kRegistryMinimum;    // registry size that prompts dropping the dead
  std::size_t collectDue_ = kRegistryMinimum;   // registry size that prompts a collection
};

}  // namespace flash::avm1
