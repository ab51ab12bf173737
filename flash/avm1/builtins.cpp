// The built-in objects of Flash Player 5 that animations use: Object, Function, Array, String,
// Number, Boolean, Math, MovieClip's methods, Color, and the global functions. Sound, Key,
// Mouse and Stage are present so that scripts using them run on, without effect.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "flash/avm1/context.h"
#include "flash/avm1/machine.h"
#include "flash/player/bounds.h"
#include "flash/player/stage.h"

namespace flash::avm1 {

namespace {

Value arg(const std::vector<Value>& args, std::size_t i) {
  return i < args.size() ? args[i] : Value();
}

}  // namespace

Machine::Machine(player::Stage& stage) : stage_(stage), version_(stage.movie().header.version) {
  random_ = 0x2545f4914f6cdd1dull;
  installBuiltins();
}

Machine::~Machine() {
  releaseAll();
}

void Machine::attach(Node& clip) {
  if (clip.vars) return;
  auto o = makeObject(Object::Class::Clip, clipProto);
  o->clip = clip.weak_from_this();
  clip.vars = std::move(o);
}

void Machine::installBuiltins() {
  objectProto = makeObject();
  functionProto = makeObject(Object::Class::Object, objectProto);
  global = newObject();
  auto method = [&](const ObjectRef& on, const std::string& name, NativeFunction f) {
    on->set(key(name), name, Value::of(newFunction(std::move(f))), kDontEnum);
  };
  auto classOf = [&](const std::string& name, NativeFunction call, ObjectRef proto) {
    ObjectRef ctor = newFunction(std::move(call));
    ctor->set(key("prototype"), "prototype", Value::of(proto), kDontEnum);
    proto->set(key("constructor"), "constructor", Value::of(ctor), kDontEnum);
    global->set(key(name), name, Value::of(ctor), kDontEnum);
    return ctor;
  };

  classOf(
      "Object",
      [](Machine& m, const Value& self, std::vector<Value>& args) {
        Value a = arg(args, 0);
        if (a.isObject()) return a;
        return self.isObject() ? self : Value::of(m.newObject());
      },
      objectProto);
  method(objectProto, "toString", [](Machine&, const Value& self, std::vector<Value>&) {
    return Value::of(self.isObject() && self.object->isFunction() ? "[type Function]"
                                                                  : "[object Object]");
  });
  method(objectProto, "valueOf",
         [](Machine&, const Value& self, std::vector<Value>&) { return self; });
  method(objectProto, "hasOwnProperty", [](Machine& m, const Value& self, std::vector<Value>& a) {
    return Value::of(self.isObject() && self.object->own(m.key(m.toString(arg(a, 0)))) != nullptr);
  });
  method(objectProto, "addProperty", [](Machine& m, const Value& self, std::vector<Value>& a) {
    Value g = arg(a, 1), s = arg(a, 2);
    std::string name = m.toString(arg(a, 0));
    if (!self.isObject() || name.empty() || !g.isObject() || !g.object->isFunction())
      return Value::of(false);
    self.object->set(m.key(name), name, Value());
    Property* p = self.object->own(m.key(name));
    p->getter = g.object;
    p->setter = s.isObject() && s.object->isFunction() ? s.object : nullptr;
    return Value::of(true);
  });
  method(objectProto, "registerClass",
         [](Machine&, const Value&, std::vector<Value>&) { return Value::of(false); });

  installGlobals();
  installArrays();
  installStrings();
  installMath();
  installClipMethods();
}

void Machine::installGlobals() {
  auto fn = [&](const std::string& name, NativeFunction f) {
    global->set(key(name), name, Value::of(newFunction(std::move(f))), kDontEnum);
  };
  ObjectRef functionCtor =
      newFunction([](Machine&, const Value&, std::vector<Value>&) { return Value(); });
  functionCtor->set(key("prototype"), "prototype", Value::of(functionProto), kDontEnum);
  global->set(key("Function"), "Function", Value::of(functionCtor), kDontEnum);
  auto fnMethod = [&](const std::string& name, NativeFunction f) {
    functionProto->set(key(name), name, Value::of(newFunction(std::move(f))), kDontEnum);
  };
  fnMethod("call", [](Machine& m, const Value& self, std::vector<Value>& a) {
    std::vector<Value> rest(a.size() > 1 ? a.begin() + 1 : a.end(), a.end());
    return m.call(self, arg(a, 0), rest);
  });
  fnMethod("apply", [](Machine& m, const Value& self, std::vector<Value>& a) {
    std::vector<Value> rest;
    Value list = arg(a, 1);
    if (list.isObject() && list.object->cls == Object::Class::Array) rest = list.object->elements;
    return m.call(self, arg(a, 0), rest);
  });

  global->set(key("NaN"), "NaN", Value::of(NAN), kDontEnum);
  global->set(key("Infinity"), "Infinity", Value::of(INFINITY), kDontEnum);
  fn("isNaN", [](Machine& m, const Value&, std::vector<Value>& a) {
    return Value::of(std::isnan(m.toNumber(arg(a, 0))));
  });
  fn("isFinite", [](Machine& m, const Value&, std::vector<Value>& a) {
    return Value::of(std::isfinite(m.toNumber(arg(a, 0))));
  });
  fn("parseFloat", [](Machine& m, const Value&, std::vector<Value>& a) {
    std::string s = m.toString(arg(a, 0));
    double n = parseNumberLoose(s);
    bool any = s.find_first_of("0123456789") != std::string::npos;
    return Value::of(any ? n : NAN);
  });
  fn("parseInt", [](Machine& m, const Value&, std::vector<Value>& a) {
    std::string s = m.toString(arg(a, 0));
    std::size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    int sign = 1;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) sign = s[i++] == '-' ? -1 : 1;
    int radix = a.size() > 1 ? clampToInt(m.toNumber(a[1])) : 0;
    if ((radix == 0 || radix == 16) && s.compare(i, 2, "0x") == 0) radix = 16, i += 2;
    if ((radix == 0 || radix == 16) && s.compare(i, 2, "0X") == 0) radix = 16, i += 2;
    if (radix == 0) radix = (i + 1 < s.size() && s[i] == '0') ? 8 : 10;
    if (radix < 2 || radix > 36) return Value::of(NAN);
    double n = 0;
    bool any = false;
    for (; i < s.size(); ++i) {
      int c = std::tolower(static_cast<unsigned char>(s[i]));
      int d = std::isdigit(c) ? c - '0' : (c >= 'a' && c <= 'z') ? c - 'a' + 10 : 99;
      if (d >= radix) break;
      n = n * radix + d;
      any = true;
    }
    return Value::of(any ? sign * n : NAN);
  });
  fn("getTimer", [](Machine& m, const Value&, std::vector<Value>&) {
    double fps = std::max(1.0, m.stage().movie().header.frameRate / 256.0);
    return Value::of(std::floor(double(m.stage().ticks()) * 1000.0 / fps));
  });
  fn("getVersion",
     [](Machine&, const Value&, std::vector<Value>&) { return Value::of("LNX 5,0,0,0"); });
  fn("escape", [](Machine& m, const Value&, std::vector<Value>& a) {
    std::string s = m.toString(arg(a, 0)), out;
    for (unsigned char c : s) {
      if (std::isalnum(c)) {
        out += char(c);
      } else {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%%%02X", c);
        out += buf;
      }
    }
    return Value::of(out);
  });
  fn("unescape", [](Machine& m, const Value&, std::vector<Value>& a) {
    std::string s = m.toString(arg(a, 0)), out;
    for (std::size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
          std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
        out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        out += s[i];
      }
    }
    return Value::of(out);
  });
  fn("ASSetPropFlags", [](Machine& m, const Value&, std::vector<Value>& a) {
    Value o = arg(a, 0);
    if (!o.isObject()) return Value();
    std::vector<std::string> names;
    Value list = arg(a, 1);
    if (list.isNull()) {
      names = o.object->order;
    } else {
      std::string s = m.toString(list);
      std::size_t from = 0;
      while (from <= s.size()) {
        std::size_t comma = s.find(',', from);
        if (comma == std::string::npos) comma = s.size();
        names.push_back(m.key(s.substr(from, comma - from)));
        from = comma + 1;
      }
    }
    int set = toInt32(m.toNumber(arg(a, 2))), clear = toInt32(m.toNumber(arg(a, 3)));
    for (auto& n : names)
      if (Property* p = o.object->own(n)) p->flags = std::uint8_t((p->flags & ~clear) | (set & 7));
    return Value();
  });
  fn("targetPath", [](Machine& m, const Value&, std::vector<Value>& a) {
    Node* n = m.clipOf(arg(a, 0));
    return n ? Value::of(m.dotPath(*n)) : Value();
  });
  // Objects whose effects are outside the picture: present, inert.
  for (const char* name : {"Key", "Mouse", "Selection", "System", "Accessibility"}) {
    ObjectRef o = newObject();
    global->set(key(name), name, Value::of(o), kDontEnum);
  }
  ObjectRef stageObject = newObject();
  const Header& h = stage_.movie().header;
  stageObject->set(key("width"), "width", Value::of(double(h.stageWidth())));
  stageObject->set(key("height"), "height", Value::of(double(h.stageHeight())));
  stageObject->set(key("scaleMode"), "scaleMode", Value::of("showAll"));
  global->set(key("Stage"), "Stage", Value::of(stageObject), kDontEnum);
  ObjectRef soundProto = newObject();
  for (const char* name :
       {"attachSound", "start", "stop", "setVolume", "setPan", "setTransform", "loadSound"})
    soundProto->set(
        key(name), name,
        Value::of(newFunction([](Machine&, const Value&, std::vector<Value>&) { return Value(); })),
        kDontEnum);
  soundProto->set(key("getVolume"), "getVolume",
                  Value::of(newFunction([](Machine&, const Value&, std::vector<Value>&) {
                    return Value::of(100.0);
                  })),
                  kDontEnum);
  ObjectRef soundCtor =
      newFunction([](Machine&, const Value&, std::vector<Value>&) { return Value(); });
  soundCtor->set(key("prototype"), "prototype", Value::of(soundProto), kDontEnum);
  global->set(key("Sound"), "Sound", Value::of(soundCtor), kDontEnum);

  // Color(target): the clip's colour transform.
  ObjectRef colorProto = newObject();
  ObjectRef colorCtor = newFunction([](Machine& m, const Value& self, std::vector<Value>& a) {
    if (self.isObject()) self.object->set(m.key("target"), "target", arg(a, 0), kDontEnum);
    return Value();
  });
  colorCtor->set(key("prototype"), "prototype", Value::of(colorProto), kDontEnum);
  global->set(key("Color"), "Color", Value::of(colorCtor), kDontEnum);
  auto colorTarget = [](Machine& m, const Value& self) -> Node* {
    Value t = m.get(self, "target");
    Node* n = m.clipOf(t);
    if (!n && t.isString()) n = m.resolveTarget(&m.stage().root(), t.string);
    return n;
  };
  colorProto->set(
      key("setRGB"), "setRGB",
      Value::of(newFunction([colorTarget](Machine& m, const Value& self, std::vector<Value>& a) {
        Node* n = colorTarget(m, self);
        if (!n) return Value();
        std::uint32_t rgb = std::uint32_t(toInt32(m.toNumber(arg(a, 0))));
        n->cxform.rMul = n->cxform.gMul = n->cxform.bMul = 0;
        n->cxform.rAdd = (rgb >> 16) & 0xff;
        n->cxform.gAdd = (rgb >> 8) & 0xff;
        n->cxform.bAdd = rgb & 0xff;
        n->scripted = true;
        return Value();
      })),
      kDontEnum);
  colorProto->set(
      key("getRGB"), "getRGB",
      Value::of(newFunction([colorTarget](Machine& m, const Value& self, std::vector<Value>&) {
        Node* n = colorTarget(m, self);
        if (!n) return Value();
        int r = int(n->cxform.rAdd), g = int(n->cxform.gAdd), b = int(n->cxform.bAdd);
        return Value::of(double((r & 0xff) << 16 | (g & 0xff) << 8 | (b & 0xff)));
      })),
      kDontEnum);
  colorProto->set(
      key("setTransform"), "setTransform",
      Value::of(newFunction([colorTarget](Machine& m, const Value& self, std::vector<Value>& a) {
        Node* n = colorTarget(m, self);
        Value t = arg(a, 0);
        if (!n || !t.isObject()) return Value();
        auto field = [&](const char* name, double& out, double scale) {
          Value v = m.get(t, name);
          if (!v.isUndefined()) out = m.toNumber(v) * scale;
        };
        field("ra", n->cxform.rMul, 0.01);
        field("ga", n->cxform.gMul, 0.01);
        field("ba", n->cxform.bMul, 0.01);
        field("aa", n->cxform.aMul, 0.01);
        field("rb", n->cxform.rAdd, 1);
        field("gb", n->cxform.gAdd, 1);
        field("bb", n->cxform.bAdd, 1);
        field("ab", n->cxform.aAdd, 1);
        n->scripted = true;
        return Value();
      })),
      kDontEnum);
}

// ---- Arrays

void Machine::installArrays() {
  arrayProto = newObject();
  ObjectRef ctor = newFunction(nullptr);
  ctor->constructor = [](Machine& m, const Value&, std::vector<Value>& a) {
    if (a.size() == 1 && a[0].isNumber()) {
      double n = a[0].number;
      std::size_t size = n >= 0 && n <= double(kMaxElements) ? std::size_t(n) : 0;
      return Value::of(m.newArray(std::vector<Value>(size)));
    }
    return Value::of(m.newArray(a));
  };
  ctor->native = ctor->constructor;
  ctor->set(key("prototype"), "prototype", Value::of(arrayProto), kDontEnum);
  arrayProto->set(key("constructor"), "constructor", Value::of(ctor), kDontEnum);
  global->set(key("Array"), "Array", Value::of(ctor), kDontEnum);
  auto method = [&](const std::string& name,
                    std::function<Value(Machine&, Object&, std::vector<Value>&)> f) {
    arrayProto->set(
        key(name), name,
        Value::of(newFunction([f](Machine& m, const Value& self, std::vector<Value>& a) {
          if (!self.isObject() || self.object->cls != Object::Class::Array) return Value();
          return f(m, *self.object, a);
        })),
        kDontEnum);
  };
  auto join = [](Machine& m, Object& o, const std::string& sep) {
    std::string s;
    for (std::size_t i = 0; i < o.elements.size() && s.size() < kMaxString; ++i) {
      if (i) s += sep;
      const Value& v = o.elements[i];
      if (!v.isUndefined() && !v.isNull()) s += m.toString(v);
    }
    return s;
  };
  method("push", [](Machine&, Object& o, std::vector<Value>& a) {
    for (auto& v : a)
      if (o.elements.size() < kMaxElements) o.elements.push_back(v);
    return Value::of(double(o.elements.size()));
  });
  method("pop", [](Machine&, Object& o, std::vector<Value>&) {
    if (o.elements.empty()) return Value();
    Value v = o.elements.back();
    o.elements.pop_back();
    return v;
  });
  method("shift", [](Machine&, Object& o, std::vector<Value>&) {
    if (o.elements.empty()) return Value();
    Value v = o.elements.front();
    o.elements.erase(o.elements.begin());
    return v;
  });
  method("unshift", [](Machine&, Object& o, std::vector<Value>& a) {
    if (o.elements.size() + a.size() <= kMaxElements)
      o.elements.insert(o.elements.begin(), a.begin(), a.end());
    return Value::of(double(o.elements.size()));
  });
  method("join", [join](Machine& m, Object& o, std::vector<Value>& a) {
    return Value::of(join(m, o, a.empty() || a[0].isUndefined() ? "," : m.toString(a[0])));
  });
  method("toString",
         [join](Machine& m, Object& o, std::vector<Value>&) { return Value::of(join(m, o, ",")); });
  method("reverse", [](Machine&, Object& o, std::vector<Value>&) {
    std::reverse(o.elements.begin(), o.elements.end());
    return Value::of(o.shared_from_this());
  });
  auto clampIndex = [](Machine& m, const Value& v, std::size_t size, std::size_t fallback) {
    if (v.isUndefined()) return fallback;
    double n = std::trunc(m.toNumber(v));
    if (std::isnan(n)) n = 0;
    if (n < 0) n = std::max(0.0, double(size) + n);
    return std::size_t(std::min(n, double(size)));
  };
  method("slice", [clampIndex](Machine& m, Object& o, std::vector<Value>& a) {
    std::size_t from = clampIndex(m, arg(a, 0), o.elements.size(), 0);
    std::size_t to = clampIndex(m, arg(a, 1), o.elements.size(), o.elements.size());
    std::vector<Value> out;
    if (from < to) out.assign(o.elements.begin() + long(from), o.elements.begin() + long(to));
    return Value::of(m.newArray(std::move(out)));
  });
  method("splice", [clampIndex](Machine& m, Object& o, std::vector<Value>& a) {
    std::size_t from = clampIndex(m, arg(a, 0), o.elements.size(), 0);
    std::size_t count = o.elements.size() - from;
    if (a.size() > 1) {
      double n = m.toNumber(a[1]);
      count = std::size_t(std::clamp(std::isnan(n) ? 0.0 : n, 0.0, double(count)));
    }
    std::vector<Value> removed(o.elements.begin() + long(from),
                               o.elements.begin() + long(from + count));
    o.elements.erase(o.elements.begin() + long(from), o.elements.begin() + long(from + count));
    if (a.size() > 2 && o.elements.size() + a.size() <= kMaxElements)
      o.elements.insert(o.elements.begin() + long(from), a.begin() + 2, a.end());
    return Value::of(m.newArray(std::move(removed)));
  });
  method("concat", [](Machine& m, Object& o, std::vector<Value>& a) {
    std::vector<Value> out = o.elements;
    for (auto& v : a) {
      if (v.isObject() && v.object->cls == Object::Class::Array)
        out.insert(out.end(), v.object->elements.begin(), v.object->elements.end());
      else
        out.push_back(v);
      if (out.size() > kMaxElements) out.resize(kMaxElements);
    }
    return Value::of(m.newArray(std::move(out)));
  });
  method("sort", [](Machine& m, Object& o, std::vector<Value>& a) {
    Value cmp = arg(a, 0);
    bool numeric = cmp.isNumber() && (toInt32(cmp.number) & 16);
    bool descending = cmp.isNumber() && (toInt32(cmp.number) & 2);
    auto before = [&](const Value& x, const Value& y) {
      if (cmp.isObject()) {
        std::vector<Value> args{x, y};
        return m.toNumber(m.call(cmp, Value(), args)) < 0;
      }
      if (numeric) return m.toNumber(x) < m.toNumber(y);
      return m.toString(x) < m.toString(y);
    };
    std::stable_sort(o.elements.begin(), o.elements.end(), before);
    if (descending) std::reverse(o.elements.begin(), o.elements.end());
    return Value::of(o.shared_from_this());
  });
}

// ---- Strings, numbers and booleans

void Machine::installStrings() {
  stringProto = newObject();
  numberProto = newObject();
  booleanProto = newObject();
  auto wrapper = [&](const std::string& name, ObjectRef proto, Object::Class cls,
                     std::function<Value(Machine&, const Value&)> convert) {
    ObjectRef ctor = newFunction([convert](Machine& m, const Value&, std::vector<Value>& a) {
      return convert(m, arg(a, 0));
    });
    ctor->constructor = [convert, proto, cls](Machine& m, const Value&, std::vector<Value>& a) {
      auto o = m.makeObject(cls, proto);
      o->primitive = convert(m, arg(a, 0));
      (void)m;
      return Value::of(o);
    };
    ctor->set(key("prototype"), "prototype", Value::of(proto), kDontEnum);
    proto->set(key("constructor"), "constructor", Value::of(ctor), kDontEnum);
    global->set(key(name), name, Value::of(ctor), kDontEnum);
    return ctor;
  };
  ObjectRef stringCtor =
      wrapper("String", stringProto, Object::Class::String,
              [](Machine& m, const Value& v) { return Value::of(m.toString(v)); });
  ObjectRef numberCtor = wrapper(
      "Number", numberProto, Object::Class::Number,
      [](Machine& m, const Value& v) { return Value::of(v.isUndefined() ? 0.0 : m.toNumber(v)); });
  wrapper("Boolean", booleanProto, Object::Class::Boolean,
          [](Machine& m, const Value& v) { return Value::of(m.toBoolean(v)); });
  numberCtor->set(key("MAX_VALUE"), "MAX_VALUE", Value::of(1.7976931348623157e308));
  numberCtor->set(key("MIN_VALUE"), "MIN_VALUE", Value::of(5e-324));
  numberCtor->set(key("NaN"), "NaN", Value::of(NAN));
  numberCtor->set(key("POSITIVE_INFINITY"), "POSITIVE_INFINITY", Value::of(INFINITY));
  numberCtor->set(key("NEGATIVE_INFINITY"), "NEGATIVE_INFINITY", Value::of(-INFINITY));
  stringCtor->set(key("fromCharCode"), "fromCharCode",
                  Value::of(newFunction([](Machine& m, const Value&, std::vector<Value>& a) {
                    std::string s;
                    for (auto& v : a) s += utf8(std::uint32_t(toInt32(m.toNumber(v))) & 0xffff);
                    return Value::of(s);
                  })),
                  kDontEnum);

  auto primitiveOf = [](const Value& self) {
    if (self.isObject() &&
        (self.object->cls == Object::Class::String || self.object->cls == Object::Class::Number ||
         self.object->cls == Object::Class::Boolean))
      return self.object->primitive;
    return self;
  };
  auto valueMethods = [&](const ObjectRef& proto) {
    proto->set(
        key("valueOf"), "valueOf",
        Value::of(newFunction([primitiveOf](Machine&, const Value& self, std::vector<Value>&) {
          return primitiveOf(self);
        })),
        kDontEnum);
  };
  valueMethods(stringProto);
  valueMethods(numberProto);
  valueMethods(booleanProto);
  booleanProto->set(
      key("toString"), "toString",
      Value::of(newFunction([primitiveOf](Machine& m, const Value& self, std::vector<Value>&) {
        return Value::of(m.toString(primitiveOf(self)));
      })),
      kDontEnum);
  numberProto->set(
      key("toString"), "toString",
      Value::of(newFunction([primitiveOf](Machine& m, const Value& self, std::vector<Value>& a) {
        double n = m.toNumber(primitiveOf(self));
        int radix = a.empty() ? 10 : clampToInt(m.toNumber(a[0]));
        if (radix == 10 || radix < 2 || radix > 36 || !(std::fabs(n) < 9.2e18))
          return Value::of(numberToString(n));
        std::int64_t v = std::int64_t(n);
        bool negative = v < 0;
        std::uint64_t u = std::uint64_t(negative ? -v : v);
        std::string s;
        do {
          s.insert(s.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[u % std::uint64_t(radix)]);
          u /= std::uint64_t(radix);
        } while (u);
        return Value::of(negative ? "-" + s : s);
      })),
      kDontEnum);

  auto method = [&](const std::string& name,
                    std::function<Value(Machine&, const std::string&, std::vector<Value>&)> f) {
    stringProto->set(key(name), name,
                     Value::of(newFunction(
                         [f, primitiveOf](Machine& m, const Value& self, std::vector<Value>& a) {
                           return f(m, m.toString(primitiveOf(self)), a);
                         })),
                     kDontEnum);
  };
  method("toString",
         [](Machine&, const std::string& s, std::vector<Value>&) { return Value::of(s); });
  method("toUpperCase", [](Machine&, const std::string& s, std::vector<Value>&) {
    std::string u = s;
    for (auto& c : u) c = char(std::toupper(static_cast<unsigned char>(c)));
    return Value::of(u);
  });
  method("toLowerCase", [](Machine&, const std::string& s, std::vector<Value>&) {
    std::string u = s;
    for (auto& c : u) c = char(std::tolower(static_cast<unsigned char>(c)));
    return Value::of(u);
  });
  method("charAt", [](Machine& m, const std::string& s, std::vector<Value>& a) {
    double i = std::trunc(m.toNumber(arg(a, 0)));
    return Value::of(i < 0 ? std::string() : substrByCodePoints(s, i, 1));
  });
  method("charCodeAt", [](Machine& m, const std::string& s, std::vector<Value>& a) {
    auto cps = codePoints(s);
    double i = std::trunc(m.toNumber(arg(a, 0)));
    if (std::isnan(i) || i < 0 || i >= double(cps.size())) return Value::of(NAN);
    return Value::of(double(cps[std::size_t(i)]));
  });
  auto find = [](Machine& m, const std::string& s, std::vector<Value>& a, bool last) {
    auto hay = codePoints(s), needle = codePoints(m.toString(arg(a, 0)));
    double start = a.size() > 1 ? std::trunc(m.toNumber(a[1])) : (last ? double(hay.size()) : 0);
    if (std::isnan(start)) start = last ? double(hay.size()) : 0;
    long n = long(hay.size()), k = long(needle.size());
    long from = long(std::clamp(start, 0.0, double(n)));
    if (!last) {
      for (long i = from; i + k <= n; ++i)
        if (std::equal(needle.begin(), needle.end(), hay.begin() + i)) return Value::of(double(i));
    } else {
      for (long i = std::min(from, n - k); i >= 0; --i)
        if (std::equal(needle.begin(), needle.end(), hay.begin() + i)) return Value::of(double(i));
    }
    return Value::of(-1.0);
  };
  method("indexOf", [find](Machine& m, const std::string& s, std::vector<Value>& a) {
    return find(m, s, a, false);
  });
  method("lastIndexOf", [find](Machine& m, const std::string& s, std::vector<Value>& a) {
    return find(m, s, a, true);
  });
  method("substr", [](Machine& m, const std::string& s, std::vector<Value>& a) {
    double n = double(codePointCount(s));
    double start = std::trunc(m.toNumber(arg(a, 0)));
    if (std::isnan(start)) start = 0;
    if (start < 0) start = std::max(0.0, n + start);
    double count = a.size() > 1 && !a[1].isUndefined() ? std::trunc(m.toNumber(a[1])) : n;
    return Value::of(substrByCodePoints(s, start, count));
  });
  auto range = [](Machine& m, const std::string& s, std::vector<Value>& a, bool slice) {
    double n = double(codePointCount(s));
    auto index = [&](const Value& v, double fallback) {
      if (v.isUndefined()) return fallback;
      double i = std::trunc(m.toNumber(v));
      if (std::isnan(i)) i = 0;
      if (slice && i < 0) i += n;
      return std::clamp(i, 0.0, n);
    };
    double from = index(arg(a, 0), 0), to = index(arg(a, 1), n);
    if (!slice && from > to) std::swap(from, to);
    return Value::of(from < to ? substrByCodePoints(s, from, to - from) : std::string());
  };
  method("substring", [range](Machine& m, const std::string& s, std::vector<Value>& a) {
    return range(m, s, a, false);
  });
  method("slice", [range](Machine& m, const std::string& s, std::vector<Value>& a) {
    return range(m, s, a, true);
  });
  method("concat", [](Machine& m, const std::string& s, std::vector<Value>& a) {
    std::string out = s;
    for (auto& v : a) out = concat(out, m.toString(v));
    return Value::of(out);
  });
  method("split", [](Machine& m, const std::string& s, std::vector<Value>& a) {
    std::vector<Value> parts;
    if (arg(a, 0).isUndefined()) {
      parts.push_back(Value::of(s));
    } else {
      std::string sep = m.toString(a[0]);
      if (sep.empty()) {
        for (auto cp : codePoints(s))
          if (parts.size() < kMaxElements) parts.push_back(Value::of(utf8(cp)));
      } else {
        std::size_t from = 0;
        while (parts.size() < kMaxElements) {
          std::size_t at = s.find(sep, from);
          parts.push_back(
              Value::of(s.substr(from, at == std::string::npos ? std::string::npos : at - from)));
          if (at == std::string::npos) break;
          from = at + sep.size();
        }
      }
    }
    return Value::of(m.newArray(std::move(parts)));
  });
}

// ---- Math

void Machine::installMath() {
  ObjectRef math = newObject();
  global->set(key("Math"), "Math", Value::of(math), kDontEnum);
  auto constant = [&](const char* name, double v) {
    math->set(key(name), name, Value::of(v), kDontEnum | kReadOnly);
  };
  constant("PI", 3.14159265358979323846);
  constant("E", 2.718281828459045);
  constant("LN2", 0.6931471805599453);
  constant("LN10", 2.302585092994046);
  constant("LOG2E", 1.4426950408889634);
  constant("LOG10E", 0.4342944819032518);
  constant("SQRT2", 1.4142135623730951);
  constant("SQRT1_2", 0.7071067811865476);
  auto one = [&](const char* name, double (*f)(double)) {
    math->set(key(name), name,
              Value::of(newFunction([f](Machine& m, const Value&, std::vector<Value>& a) {
                return Value::of(f(m.toNumber(arg(a, 0))));
              })),
              kDontEnum);
  };
  one("abs", [](double x) { return std::fabs(x); });
  one("acos", [](double x) { return std::acos(x); });
  one("asin", [](double x) { return std::asin(x); });
  one("atan", [](double x) { return std::atan(x); });
  one("ceil", [](double x) { return std::ceil(x); });
  one("cos", [](double x) { return std::cos(x); });
  one("exp", [](double x) { return std::exp(x); });
  one("floor", [](double x) { return std::floor(x); });
  one("log", [](double x) { return std::log(x); });
  one("round", [](double x) { return std::floor(x + 0.5); });
  one("sin", [](double x) { return std::sin(x); });
  one("sqrt", [](double x) { return std::sqrt(x); });
  one("tan", [](double x) { return std::tan(x); });
  auto two = [&](const char* name, double (*f)(double, double)) {
    math->set(key(name), name,
              Value::of(newFunction([f](Machine& m, const Value&, std::vector<Value>& a) {
                return Value::of(f(m.toNumber(arg(a, 0)), m.toNumber(arg(a, 1))));
              })),
              kDontEnum);
  };
  two("atan2", [](double y, double x) { return std::atan2(y, x); });
  two("pow", [](double x, double y) { return std::pow(x, y); });
  two("min",
      [](double x, double y) { return std::isnan(x) || std::isnan(y) ? NAN : std::min(x, y); });
  two("max",
      [](double x, double y) { return std::isnan(x) || std::isnan(y) ? NAN : std::max(x, y); });
  math->set(key("random"), "random",
            Value::of(newFunction([](Machine& m, const Value&, std::vector<Value>&) {
              std::uint64_t& r = m.random_;
              r ^= r << 13;
              r ^= r >> 7;
              r ^= r << 17;
              return Value::of(double(r >> 11) / 9007199254740992.0);
            })),
            kDontEnum);
}

// ---- MovieClip

void Machine::installClipMethods() {
  clipProto = newObject();
  ObjectRef ctor = newFunction([](Machine&, const Value&, std::vector<Value>&) { return Value(); });
  ctor->set(key("prototype"), "prototype", Value::of(clipProto), kDontEnum);
  clipProto->set(key("constructor"), "constructor", Value::of(ctor), kDontEnum);
  global->set(key("MovieClip"), "MovieClip", Value::of(ctor), kDontEnum);
  auto method = [&](const std::string& name,
                    std::function<Value(Machine&, Node&, std::vector<Value>&)> f) {
    clipProto->set(key(name), name,
                   Value::of(newFunction([f](Machine& m, const Value& self, std::vector<Value>& a) {
                     Node* n = m.clipOf(self);
                     return n ? f(m, *n, a) : Value();
                   })),
                   kDontEnum);
  };
  auto frameOf = [](Machine& m, Node& n, const Value& v) {
    if (v.isString()) {
      double f = parseNumberStrict(v.string);
      return std::isnan(f) ? m.stage().labelFrame(n, v.string) : clampToInt(f);
    }
    double f = m.toNumber(v);
    return clampToInt(f);
  };
  method("play", [](Machine& m, Node& n, std::vector<Value>&) {
    m.stage().setPlaying(n, true);
    return Value();
  });
  method("stop", [](Machine& m, Node& n, std::vector<Value>&) {
    m.stage().setPlaying(n, false);
    return Value();
  });
  method("gotoAndPlay", [frameOf](Machine& m, Node& n, std::vector<Value>& a) {
    if (int f = frameOf(m, n, arg(a, 0))) {
      m.stage().gotoFrame(n, f);
      m.stage().setPlaying(n, true);
    }
    return Value();
  });
  method("gotoAndStop", [frameOf](Machine& m, Node& n, std::vector<Value>& a) {
    if (int f = frameOf(m, n, arg(a, 0))) {
      m.stage().gotoFrame(n, f);
      m.stage().setPlaying(n, false);
    }
    return Value();
  });
  method("nextFrame", [](Machine& m, Node& n, std::vector<Value>&) {
    m.stage().gotoFrame(n, n.frame + 1);
    m.stage().setPlaying(n, false);
    return Value();
  });
  method("prevFrame", [](Machine& m, Node& n, std::vector<Value>&) {
    m.stage().gotoFrame(n, n.frame - 1);
    m.stage().setPlaying(n, false);
    return Value();
  });
  if (version_ >= 6)
    method("getDepth",
           [](Machine&, Node& n, std::vector<Value>&) { return Value::of(double(n.depth)); });
  method("getBytesLoaded", [](Machine& m, Node&, std::vector<Value>&) {
    return Value::of(double(m.stage().movie().data.size()));
  });
  method("getBytesTotal", [](Machine& m, Node&, std::vector<Value>&) {
    return Value::of(double(m.stage().movie().data.size()));
  });
  method("duplicateMovieClip", [](Machine& m, Node& n, std::vector<Value>& a) {
    Node* copy = m.stage().duplicate(n, m.toString(arg(a, 0)), clampToInt(m.toNumber(arg(a, 1))));
    return copy ? m.clipValue(*copy) : Value();
  });
  method("removeMovieClip", [](Machine& m, Node& n, std::vector<Value>&) {
    m.stage().removeByScript(n);
    return Value();
  });
  method("getBounds", [](Machine& m, Node& n, std::vector<Value>&) {
    swf::Rect b = player::boundsInParent(n);
    ObjectRef o = m.newObject();
    // Bounds in the clip's own space: undo its placement.
    swf::Rect own = player::boundsOf(n);
    (void)b;
    o->set(m.key("xMin"), "xMin", Value::of(own.xMin / 20.0));
    o->set(m.key("xMax"), "xMax", Value::of(own.xMax / 20.0));
    o->set(m.key("yMin"), "yMin", Value::of(own.yMin / 20.0));
    o->set(m.key("yMax"), "yMax", Value::of(own.yMax / 20.0));
    return Value::of(o);
  });
  method("hitTest", [](Machine&, Node&, std::vector<Value>&) { return Value::of(false); });
  method("startDrag", [](Machine& m, Node& n, std::vector<Value>& a) {
    double box[4];
    for (std::size_t i = 0; i < 4; ++i) box[i] = m.toNumber(arg(a, i + 1));
    m.drag(n, m.toBoolean(arg(a, 0)), a.size() >= 5 ? box : nullptr);
    return Value();
  });
  for (const char* name : {"stopDrag", "loadMovie", "loadVariables", "unloadMovie", "getURL",
                           "setMask", "swapDepths", "attachMovie"})
    method(name, [](Machine&, Node&, std::vector<Value>&) { return Value(); });
}

}  // namespace flash::avm1
