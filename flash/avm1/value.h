#pragma once
// ActionScript 1 values and objects. Movie clips are objects too: a clip's variables live in
// its Object, which points back to the clip's Node.
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace flash::player {
struct Node;
}

namespace flash::avm1 {

struct Object;
class Machine;
using ObjectRef = std::shared_ptr<Object>;

struct Value {
  enum class Type : std::uint8_t { Undefined, Null, Boolean, Number, String, Object };
  Type type = Type::Undefined;
  bool boolean = false;
  double number = 0;
  std::string string;
  ObjectRef object;

  Value() = default;
  static Value undefined() { return Value(); }
  static Value null() {
    Value v;
    v.type = Type::Null;
    return v;
  }
  static Value of(bool b) {
    Value v;
    v.type = Type::Boolean;
    v.boolean = b;
    return v;
  }
  static Value of(double n) {
    Value v;
    v.type = Type::Number;
    v.number = n;
    return v;
  }
  static Value of(int n) { return of(double(n)); }
  static Value of(std::string s) {
    Value v;
    v.type = Type::String;
    v.string = std::move(s);
    return v;
  }
  static Value of(const char* s) { return of(std::string(s)); }
  static Value of(ObjectRef o) {
    if (!o) return null();
    Value v;
    v.type = Type::Object;
    v.object = std::move(o);
    return v;
  }

  bool isUndefined() const { return type == Type::Undefined; }
  bool isNull() const { return type == Type::Null; }
  bool isObject() const { return type == Type::Object; }
  bool isString() const { return type == Type::String; }
  bool isNumber() const { return type == Type::Number; }
};

// Arguments of a native function: `self` is the object it was called on.
using NativeFunction = std::function<Value(Machine&, const Value& self, std::vector<Value>& args)>;

// A function defined by DefineFunction or DefineFunction2.
struct ScriptFunction {
  std::string name;
  std::vector<std::string> params;
  std::vector<std::uint8_t> paramRegisters;  // DefineFunction2: 0 means passed by name
  const std::uint8_t* code = nullptr;
  std::size_t length = 0;
  std::shared_ptr<const std::vector<std::string>> pool;  // the constant pool when defined
  int version = 1;                                       // 1 or 2
  std::uint8_t registerCount = 4;
  std::uint16_t flags = 0;  // DefineFunction2's preload and suppress flags
  std::weak_ptr<player::Node> definedIn;
};

struct Property {
  std::string name;  // as first written (for enumeration)
  Value value;
  std::uint8_t flags = 0;    // kDontEnum, kDontDelete, kReadOnly
  ObjectRef getter, setter;  // addProperty
};

enum PropertyFlag : std::uint8_t { kDontEnum = 1, kDontDelete = 2, kReadOnly = 4 };

struct Object : std::enable_shared_from_this<Object> {
  enum class Class : std::uint8_t { Object, Array, Function, String, Number, Boolean, Clip };
  Class cls = Class::Object;
  // Keys are lower-cased for movies of version 6 and below, whose names ignore case.
  std::unordered_map<std::string, Property> properties;
  std::vector<std::string> order;  // keys in the order they were first set
  ObjectRef proto;
  std::vector<Value> elements;  // arrays
  Value primitive;              // String, Number and Boolean objects
  std::shared_ptr<ScriptFunction> script;
  NativeFunction native;
  NativeFunction constructor;  // a native function's behaviour under `new`, when it differs
  std::weak_ptr<player::Node> clip;

  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  // Frees the objects only this one held without recursing once per object (a long chain of
  // objects would otherwise overflow the stack).
  ~Object();

  bool isFunction() const { return cls == Class::Function; }
  const Property* own(const std::string& key) const {
    auto it = properties.find(key);
    return it == properties.end() ? nullptr : &it->second;
  }
  Property* own(const std::string& key) {
    auto it = properties.find(key);
    return it == properties.end() ? nullptr : &it->second;
  }
  void set(const std::string& key, const std::string& name, Value v, std::uint8_t flags = 0) {
    auto it = properties.find(key);
    if (it == properties.end()) {
      order.push_back(key);
      properties.emplace(key, Property{name, std::move(v), flags, nullptr, nullptr});
    } else {
      it->second.value = std::move(v);
    }
  }
  bool erase(const std::string& key) {
    auto it = properties.find(key);
    if (it == properties.end() || (it->second.flags & kDontDelete)) return false;
    properties.erase(it);
    std::erase(order, key);
    return true;
  }
};

// Number to text as Flash writes it: up to 15 significant digits, exponent form below 1e-5 and
// from 1e15 on ("1e+21", "1.5e-7"), "NaN", "Infinity", "-Infinity".
std::string numberToString(double n);
// Text to number for SWF 5 and later: the whole text (after leading white space) must be a
// decimal number; anything else is NaN.
double parseNumberStrict(const std::string& s);
// Text to number for SWF 4: the leading number, or 0 when the text starts with none.
double parseNumberLoose(const std::string& s);
// ToInt32 of ECMA-262.
std::int32_t toInt32(double n);
// A number as a whole int in [lo, hi]: truncated, NaN as 0, values beyond the range clamped (a
// plain cast of NaN or of an out-of-range number is undefined behaviour). The default range
// leaves room to add two such results.
inline int clampToInt(double n, int lo = -(1 << 30), int hi = 1 << 30) {
  if (std::isnan(n)) return 0;
  if (n <= double(lo)) return lo;
  if (n >= double(hi)) return hi;
  return int(n);
}

}  // namespace flash::avm1
