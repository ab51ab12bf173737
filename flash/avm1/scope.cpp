// Names: variables and their scope chain, target paths, members of objects and clips, the
// movie-clip properties, and the conversions between values.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "flash/avm1/context.h"
#include "flash/avm1/machine.h"
#include "flash/player/bounds.h"
#include "flash/player/stage.h"
#include "platform/gbk.h"

namespace flash::avm1 {

using player::Node;

std::string Machine::key(const std::string& name) const {
  if (version_ >= 7) return name;
  std::string k = name;
  for (auto& c : k) c = char(std::tolower(static_cast<unsigned char>(c)));
  return k;
}

std::string Machine::decodeText(const std::string& raw) const {
  bool ascii = std::all_of(raw.begin(), raw.end(), [](char c) { return (c & 0x80) == 0; });
  if (ascii) return raw;
  if (version_ >= 6) return raw;
  // Movies before SWF 6 hold text in the author's code page; this suite's users write GBK.
  if (auto u = hv::gbkToUtf8(raw)) return *u;
  std::string latin;
  for (unsigned char c : raw) {
    if (c < 0x80) {
      latin += char(c);
    } else {
      latin += char(0xc0 | c >> 6);
      latin += char(0x80 | (c & 0x3f));
    }
  }
  return latin;
}

// ---- Clips as values

Node* Machine::clipOf(const Value& v) const {
  if (!v.isObject()) return nullptr;
  auto n = v.object->clip.lock();
  if (!n || (!n->parent && n.get() != &const_cast<player::Stage&>(stage_).root())) return nullptr;
  return n.get();
}

Value Machine::clipValue(Node& clip) {
  if (!clip.vars) attach(clip);
  return Value::of(clip.vars);
}

std::string Machine::slashPath(const Node& clip) const {
  if (!clip.parent) return "/";
  std::string path;
  for (const Node* n = &clip; n->parent; n = n->parent) path = "/" + n->name + path;
  return path;
}

std::string Machine::dotPath(const Node& clip) const {
  std::string path;
  for (const Node* n = &clip; n->parent; n = n->parent) path = "." + n->name + path;
  return "_level0" + path;
}

namespace {

Node* childNamed(Node& parent, const std::string& name, const Machine& m) {
  std::string k = m.key(name);
  for (auto& [d, c] : parent.children)
    if (!c->name.empty() && m.key(c->name) == k) return c.get();
  return nullptr;
}

bool isLevel(const std::string& k) {
  return k.size() > 6 && k.compare(0, 6, "_level") == 0 &&
         std::all_of(k.begin() + 6, k.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

}  // namespace

Node* Machine::resolveTarget(Node* base, const std::string& path) {
  if (!base) base = &stage_.root();
  Node* n = base;
  std::size_t i = 0;
  if (!path.empty() && path[0] == '/') {
    n = &stage_.root();
    i = 1;
  }
  // Slash and dot syntax mix: "../a", "/a/b", "_parent._parent.a", "a/b.c".
  std::vector<std::string> segments;
  std::size_t from = i;
  while (from <= path.size()) {
    std::size_t slash = path.find('/', from);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(from, slash - from);
    if (part == "..") {
      segments.push_back(part);
    } else {
      std::size_t a = 0;
      while (a <= part.size()) {
        std::size_t dot = part.find('.', a);
        if (dot == std::string::npos) dot = part.size();
        if (dot > a) segments.push_back(part.substr(a, dot - a));
        a = dot + 1;
      }
    }
    from = slash + 1;
  }
  for (const auto& s : segments) {
    if (!n) return nullptr;
    std::string k = key(s);
    if (s == ".." || k == "_parent") {
      n = n->parent;
    } else if (k == "_root" || isLevel(k)) {
      n = &stage_.root();
    } else if (k == "this") {
      continue;
    } else if (Node* c = childNamed(*n, s, *this)) {
      // A name of an object that is not a clip stands for the clip holding it.
      if (c->isClip() ||
          (version_ >= 6 && (c->kind == Node::Kind::Button || c->kind == Node::Kind::EditText)))
        n = c;
    } else {
      // A variable that holds a clip.
      const Property* p = n->vars ? n->vars->own(k) : nullptr;
      n = p ? clipOf(p->value) : nullptr;
    }
  }
  return n;
}

bool Machine::splitPath(const std::string& path, std::string& target, std::string& name) const {
  std::size_t colon = path.rfind(':');
  if (colon != std::string::npos) {
    target = path.substr(0, colon);
    name = path.substr(colon + 1);
    return true;
  }
  std::size_t dot = path.rfind('.');
  if (dot != std::string::npos && dot > 0 && dot + 1 < path.size()) {
    target = path.substr(0, dot);
    name = path.substr(dot + 1);
    return true;
  }
  if (path.find('/') != std::string::npos) {
    target = path;
    name.clear();
    return true;
  }
  return false;
}

// ---- Variables

Value Machine::getVariable(Context& cx, const std::string& name) {
  std::string targetPath, var;
  if (splitPath(name, targetPath, var)) {
    Node* t = resolveTarget(cx.current(), targetPath);
    if (!t) return Value();
    if (var.empty()) return clipValue(*t);
    return get(clipValue(*t), var);
  }
  std::string k = key(name);
  // SWF 4 knows none of these names: there they are variables like any other.
  if (version_ >= 5 && k == "this") return cx.self;
  if (version_ >= 5 && (k == "_root" || isLevel(k))) return clipValue(stage_.root());
  if (version_ >= 5 && k == "_global") return Value::of(global);
  if (version_ >= 5 && k == "_parent") {
    Node* t = cx.current();
    return t && t->parent ? clipValue(*t->parent) : Value();
  }
  for (auto it = cx.with.rbegin(); it != cx.with.rend(); ++it) {
    for (ObjectRef o = *it; o; o = o->proto)
      if (o->own(k)) return get(Value::of(*it), name);
    if (Node* n = clipOf(Value::of(*it))) {
      bool found = false;
      Value v = getClipMember(*n, name, found);
      if (found) return v;
    }
  }
  if (cx.locals)
    if (const Property* p = cx.locals->own(k)) return p->value;
  if (Node* t = cx.current()) {
    bool found = false;
    Value v = getClipMember(*t, name, found);
    if (found) return v;
  }
  for (ObjectRef o = global; o; o = o->proto)
    if (const Property* p = o->own(k)) return p->value;
  return Value();
}

void Machine::setVariable(Context& cx, const std::string& name, const Value& v) {
  std::string targetPath, var;
  if (splitPath(name, targetPath, var)) {
    Node* t = resolveTarget(cx.current(), targetPath);
    if (t && !var.empty()) set(clipValue(*t), var, v);
    return;
  }
  std::string k = key(name);
  for (auto it = cx.with.rbegin(); it != cx.with.rend(); ++it)
    if ((*it)->own(k)) return set(Value::of(*it), name, v);
  if (cx.locals)
    if (Property* p = cx.locals->own(k)) {
      p->value = v;
      return;
    }
  Node* t = cx.current();
  if (!t) t = cx.original.get();
  set(clipValue(*t), name, v);
}

// ---- Members

Value Machine::getClipMember(Node& clip, const std::string& name, bool& found) {
  found = true;
  std::string k = key(name);
  if (!k.empty() && k[0] == '_') {
    int index = propertyIndex(k);
    if (index >= 0) return getProperty(clip, index);
  }
  if (clip.vars)
    if (const Property* p = clip.vars->own(k)) {
      if (p->getter) {
        std::vector<Value> none;
        return call(Value::of(p->getter), clipValue(clip), none);
      }
      return p->value;
    }
  // Every named object is reachable by its name. Objects that are not clips themselves answer
  // for their clip (shapes always; buttons and texts up to SWF 5, which has no objects for them).
  if (Node* c = childNamed(clip, name, *this)) {
    bool own = c->isClip() || (version_ >= 6 &&
                               (c->kind == Node::Kind::Button || c->kind == Node::Kind::EditText));
    return clipValue(own ? *c : clip);
  }
  if (clip.vars)
    for (ObjectRef o = clip.vars->proto; o; o = o->proto)
      if (const Property* p = o->own(k)) return p->value;
  found = false;
  return Value();
}

namespace {

bool arrayIndex(const std::string& name, std::size_t& index) {
  if (name.empty() || name.size() > 9) return false;
  if (!std::all_of(name.begin(), name.end(),
                   [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return false;
  index = std::size_t(std::stoul(name));
  return true;
}

}  // namespace

Value Machine::get(const Value& object, const std::string& name) {
  std::string k = key(name);
  ObjectRef o;
  switch (object.type) {
    case Value::Type::Undefined:
    case Value::Type::Null:
      return Value();
    case Value::Type::String:
      if (k == "length") return Value::of(double(codePointCount(object.string)));
      o = stringProto;
      break;
    case Value::Type::Number:
      o = numberProto;
      break;
    case Value::Type::Boolean:
      o = booleanProto;
      break;
    case Value::Type::Object:
      o = object.object;
      break;
  }
  if (object.isObject()) {
    if (o->cls == Object::Class::Clip) {
      auto n = o->clip.lock();
      if (n && (n->parent || n.get() == &stage_.root())) {
        bool found = false;
        Value v = getClipMember(*n, name, found);
        if (found) return v;
      }
    }
    if (o->cls == Object::Class::Array) {
      std::size_t index;
      if (k == "length") return Value::of(double(o->elements.size()));
      if (arrayIndex(name, index)) return index < o->elements.size() ? o->elements[index] : Value();
    }
    if (o->cls == Object::Class::String && k == "length")
      return Value::of(double(codePointCount(o->primitive.string)));
    if (k == "__proto__") return o->proto ? Value::of(o->proto) : Value();
  }
  for (int hops = 0; o && hops < 256; o = o->proto, ++hops) {
    if (const Property* p = o->own(k)) {
      if (p->getter) {
        std::vector<Value> none;
        return call(Value::of(p->getter), object, none);
      }
      return p->value;
    }
  }
  return Value();
}

void Machine::set(const Value& object, const std::string& name, const Value& v) {
  if (!object.isObject()) return;
  const ObjectRef& o = object.object;
  std::string k = key(name);
  if (o->cls == Object::Class::Clip) {
    auto n = o->clip.lock();
    if (n && !k.empty() && k[0] == '_') {
      int index = propertyIndex(k);
      if (index >= 0) return setProperty(*n, index, v);
    }
  }
  if (o->cls == Object::Class::Array) {
    std::size_t index;
    if (k == "length") {
      double len = toNumber(v);
      if (std::isfinite(len) && len >= 0 && len <= double(kMaxElements))
        o->elements.resize(std::size_t(len));
      return;
    }
    if (arrayIndex(name, index) && index < kMaxElements) {
      if (index >= o->elements.size()) o->elements.resize(index + 1);
      o->elements[index] = v;
      return;
    }
  }
  if (k == "__proto__") {
    o->proto = v.isObject() ? v.object : nullptr;
    return;
  }
  if (Property* p = o->own(k)) {
    if (p->setter) {
      std::vector<Value> args{v};
      call(Value::of(p->setter), object, args);
      return;
    }
    if (p->flags & kReadOnly) return;
    p->value = v;
    return;
  }
  o->set(k, name, v);
}

// ---- Movie-clip properties

namespace {

const char* const kPropertyNames[] = {
    "_x",           "_y",           "_xscale",       "_yscale",       "_currentframe",
    "_totalframes", "_alpha",       "_visible",      "_width",        "_height",
    "_rotation",    "_target",      "_framesloaded", "_name",         "_droptarget",
    "_url",         "_highquality", "_focusrect",    "_soundbuftime", "_quality",
    "_xmouse",      "_ymouse"};

constexpr double kPi = 3.14159265358979323846;

}  // namespace

int Machine::propertyIndex(const std::string& name) const {
  std::string k = key(name);
  for (int i = 0; i < 22; ++i)
    if (k == key(kPropertyNames[i])) return i;
  return -1;
}

Value Machine::getProperty(Node& clip, int index) {
  const swf::Matrix& m = clip.matrix;
  switch (index) {
    case 0:
      return Value::of(m.tx / 20.0);
    case 1:
      return Value::of(m.ty / 20.0);
    case 2:
      return Value::of(clip.transform.valid ? clip.transform.xscale : std::hypot(m.a, m.b) * 100);
    case 3:
      return Value::of(clip.transform.valid ? clip.transform.yscale : std::hypot(m.c, m.d) * 100);
    case 4:
      return Value::of(double(clip.isClip() ? clip.frame : 1));
    case 5:
    case 12:
      return Value::of(double(clip.isClip() ? clip.frameCount() : 1));
    case 6:
      return Value::of(clip.cxform.aMul * 100);
    case 7:
      return version_ < 5 ? Value::of(clip.visible ? 1.0 : 0.0) : Value::of(clip.visible);
    case 8:
    case 9: {
      swf::Rect b = player::boundsInParent(clip);
      double size = index == 8 ? b.xMax - b.xMin : b.yMax - b.yMin;
      return Value::of(std::max(0.0, size) / 20.0);
    }
    case 10: {
      if (clip.transform.valid) return Value::of(clip.transform.rotation);
      return Value::of(std::atan2(m.b, m.a) * 180 / kPi);
    }
    case 11:
      return Value::of(slashPath(clip));
    case 13:
      return Value::of(clip.name);
    case 14:
      return Value::of("");
    case 15:
      return Value::of("file:///movie.swf");
    case 16:
      return Value::of(1.0);
    case 17:
      return Value::of(1.0);
    case 18:
      return Value::of(5.0);
    case 19:
      return Value::of("HIGH");
    case 20:
    case 21:
      return Value::of(0.0);
    default:
      return Value();
  }
}

void Machine::setProperty(Node& clip, int index, const Value& v) {
  double n = toNumber(v);
  swf::Matrix& m = clip.matrix;
  auto cache = [&] {
    if (clip.transform.valid) return;
    clip.transform.xscale = std::hypot(m.a, m.b) * 100;
    clip.transform.yscale = std::hypot(m.c, m.d) * 100;
    clip.transform.rotation = std::atan2(m.b, m.a) * 180 / kPi;
    clip.transform.valid = true;
  };
  auto rebuild = [&] {
    double r = clip.transform.rotation * kPi / 180;
    double sx = clip.transform.xscale / 100, sy = clip.transform.yscale / 100;
    m.a = sx * std::cos(r);
    m.b = sx * std::sin(r);
    m.c = -sy * std::sin(r);
    m.d = sy * std::cos(r);
  };
  bool finite = std::isfinite(n);
  switch (index) {
    case 0:
    case 1:
      if (!finite) return;
      (index == 0 ? m.tx : m.ty) = n * 20;
      clip.scripted = true;
      break;
    case 2:
    case 3:
      if (!finite) return;
      cache();
      (index == 2 ? clip.transform.xscale : clip.transform.yscale) = n;
      rebuild();
      clip.scripted = true;
      break;
    case 10:
      if (!finite) return;
      cache();
      clip.transform.rotation = std::remainder(n, 360.0);
      rebuild();
      clip.scripted = true;
      break;
    case 6:
      if (!finite) return;
      clip.cxform.aMul = n / 100;
      clip.scripted = true;
      break;
    case 7:
      clip.visible = toBoolean(v);
      break;
    case 8:
    case 9: {
      if (!finite || n < 0) return;
      swf::Rect b = player::boundsInParent(clip);
      double size = (index == 8 ? b.xMax - b.xMin : b.yMax - b.yMin) / 20.0;
      if (size <= 0) return;
      cache();
      (index == 8 ? clip.transform.xscale : clip.transform.yscale) *= n / size;
      rebuild();
      clip.scripted = true;
      break;
    }
    case 13:
      clip.name = toString(v);
      break;
    default:
      break;  // read-only or without effect on the picture
  }
}

// ---- Conversions

double Machine::toNumber(const Value& v) {
  switch (v.type) {
    case Value::Type::Undefined:
    case Value::Type::Null:
      return version_ >= 7 ? NAN : 0;
    case Value::Type::Boolean:
      return v.boolean ? 1 : 0;
    case Value::Type::Number:
      return v.number;
    case Value::Type::String:
      return version_ < 5 ? parseNumberLoose(v.string) : parseNumberStrict(v.string);
    case Value::Type::Object: {
      Value p = toPrimitive(v);
      return p.isObject() ? NAN : toNumber(p);
    }
  }
  return NAN;
}

std::string Machine::toString(const Value& v) {
  switch (v.type) {
    case Value::Type::Undefined:
      return version_ >= 7 ? "undefined" : "";
    case Value::Type::Null:
      return "null";
    case Value::Type::Boolean:
      // SWF 4 has no boolean type of its own to show: its comparisons read as 1 and 0.
      if (version_ < 5) return v.boolean ? "1" : "0";
      return v.boolean ? "true" : "false";
    case Value::Type::Number:
      return numberToString(v.number);
    case Value::Type::String:
      return v.string;
    case Value::Type::Object: {
      if (Node* n = clipOf(v)) return dotPath(*n);
      if (v.object->cls == Object::Class::Clip) return "";
      Value f = get(v, "toString");
      if (f.isObject() && f.object->isFunction()) {
        std::vector<Value> none;
        Value r = call(f, v, none);
        if (!r.isObject()) return toString(r);
      }
      return v.object->isFunction() ? "[type Function]" : "[object Object]";
    }
  }
  return "";
}

bool Machine::toBoolean(const Value& v) {
  switch (v.type) {
    case Value::Type::Undefined:
    case Value::Type::Null:
      return false;
    case Value::Type::Boolean:
      return v.boolean;
    case Value::Type::Number:
      return v.number != 0 && !std::isnan(v.number);
    case Value::Type::String: {
      if (version_ >= 7) return !v.string.empty();
      double n = toNumber(v);
      return n != 0 && !std::isnan(n);
    }
    case Value::Type::Object:
      return true;
  }
  return false;
}

Value Machine::toPrimitive(const Value& v, bool preferString) {
  if (!v.isObject()) return v;
  if (clipOf(v)) return Value::of(toString(v));
  const ObjectRef& o = v.object;
  if (o->cls == Object::Class::String || o->cls == Object::Class::Number ||
      o->cls == Object::Class::Boolean) {
    if (!preferString) {
      Value f = get(v, "valueOf");
      if (f.isObject() && f.object->script) {
        std::vector<Value> none;
        Value r = call(f, v, none);
        if (!r.isObject()) return r;
      }
    }
    return o->primitive;
  }
  for (int pass = 0; pass < 2; ++pass) {
    const char* name = (pass == 0) != preferString ? "valueOf" : "toString";
    Value f = get(v, name);
    if (f.isObject() && f.object->isFunction()) {
      std::vector<Value> none;
      Value r = call(f, v, none);
      if (!r.isObject()) return r;
    }
  }
  return v;
}

std::string Machine::typeOf(const Value& v) {
  switch (v.type) {
    case Value::Type::Undefined:
      return "undefined";
    case Value::Type::Null:
      return "null";
    case Value::Type::Boolean:
      return "boolean";
    case Value::Type::Number:
      return "number";
    case Value::Type::String:
      return "string";
    case Value::Type::Object:
      if (v.object->cls == Object::Class::Clip) {
        auto n = v.object->clip.lock();
        return n && n->kind == Node::Kind::EditText ? "object" : "movieclip";
      }
      return v.object->isFunction() ? "function" : "object";
  }
  return "undefined";
}

ObjectRef Machine::newObject() {
  return makeObject(Object::Class::Object, objectProto);
}

ObjectRef Machine::newArray(std::vector<Value> elements) {
  auto o = makeObject(Object::Class::Array, arrayProto);
  o->elements = std::move(elements);
  return o;
}

ObjectRef Machine::newFunction(NativeFunction f) {
  auto o = makeObject(Object::Class::Function, functionProto);
  o->native = std::move(f);
  auto proto = newObject();
  proto->set(key("constructor"), "constructor", Value::of(o), kDontEnum);
  o->set(key("prototype"), "prototype", Value::of(proto), kDontEnum);
  return o;
}

// ---- Edit texts bound to variables

void Machine::bindText(Node& text) {
  outsideScripts([&] { bindTextNow(text); });
}

void Machine::bindTextNow(Node& text) {
  const auto* def = std::get_if<swf::EditText>(text.character);
  if (!def || def->variable.empty() || !text.parent) return;
  Context cx;
  cx.original = text.parent->shared_from_this();
  std::string name = decodeText(def->variable);
  Value v = getVariable(cx, name);
  if (v.isUndefined())
    setVariable(cx, name, Value::of(text.text));
  else
    text.text = toString(v);
}

void Machine::syncTexts() {
  outsideScripts([&] { syncTexts(stage_.root()); });
}

void Machine::syncTexts(Node& clip) {
  for (auto& [d, c] : clip.children) {
    if (c->kind == Node::Kind::EditText) {
      const auto* def = std::get_if<swf::EditText>(c->character);
      if (def && !def->variable.empty()) {
        Context cx;
        cx.original = clip.shared_from_this();
        Value v = getVariable(cx, decodeText(def->variable));
        if (!v.isUndefined()) c->text = toString(v);
      }
    } else if (!c->children.empty()) {
      syncTexts(*c);
    }
  }
}

}  // namespace flash::avm1
