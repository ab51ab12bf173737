// Ownership of ActionScript objects. Objects refer to each other through shared pointers, and
// scripts make cycles all the time (a function and its prototype's `constructor`, a clip's
// variable that holds the clip, a list whose last item points at the first). The machine keeps
// a registry of every object it made: on tear-down it empties them all, so that no cycle
// outlives the machine, and between frames it frees the cycles nothing outside them reaches.
#include <unordered_map>

#include "flash/avm1/machine.h"

namespace flash::avm1 {

namespace {

// Calls f on every object reference an object holds in its own fields. References a native
// function captured are not seen; they count as references from outside (which only keeps
// their objects alive longer).
template <typename F>
void forEachReference(const Object& o, F&& f) {
  for (const auto& [k, p] : o.properties) {
    if (p.value.object) f(p.value.object.get());
    if (p.getter) f(p.getter.get());
    if (p.setter) f(p.setter.get());
  }
  if (o.proto) f(o.proto.get());
  for (const Value& v : o.elements)
    if (v.object) f(v.object.get());
  if (o.primitive.object) f(o.primitive.object.get());
}

// Moves everything out of an object into `dropped`, so that the objects it referred to are not
// destroyed inside this one's destructor (a long chain would otherwise recurse deeply).
void empty(Object& o, std::vector<Object>& dropped) {
  dropped.emplace_back();
  Object& d = dropped.back();
  d.properties.swap(o.properties);
  d.order.swap(o.order);
  d.proto.swap(o.proto);
  d.elements.swap(o.elements);
  std::swap(d.primitive, o.primitive);
  d.script.swap(o.script);
  d.native.swap(o.native);
  d.constructor.swap(o.constructor);
}

}  // namespace

ObjectRef Machine::makeObject(Object::Class cls, ObjectRef proto) {
  auto o = std::make_shared<Object>();
  o->cls = cls;
  o->proto = std::move(proto);
  if (objects_.size() >= collectAt_) compactRegistry();
  objects_.push_back(o);
  return o;
}

void Machine::compactRegistry() {
  std::erase_if(objects_, [](const std::weak_ptr<Object>& w) { return w.expired(); });
  collectAt_ = std::max<std::size_t>(kRegistryMinimum, objects_.size() * 2);
}

std::size_t Machine::liveObjects() const {
  std::size_t n = 0;
  for (const auto& w : objects_) n += !w.expired();
  return n;
}

void Machine::releaseAll() {
  std::vector<ObjectRef> live;
  live.reserve(objects_.size());
  for (const auto& w : objects_)
    if (auto o = w.lock()) live.push_back(std::move(o));
  objects_.clear();
  std::vector<Object> dropped;
  dropped.reserve(live.size());
  for (const auto& o : live) empty(*o, dropped);
  dropped.clear();
  live.clear();
}

std::size_t Machine::collectCycles() {
  std::vector<ObjectRef> live;
  live.reserve(objects_.size());
  for (const auto& w : objects_)
    if (auto o = w.lock()) live.push_back(std::move(o));
  std::unordered_map<const Object*, std::size_t> index;
  index.reserve(live.size());
  for (std::size_t i = 0; i < live.size(); ++i) index.emplace(live[i].get(), i);

  // References from registered objects; whatever else holds an object (a clip, the machine's
  // globals, a running script, a native function) makes it a root.
  std::vector<long> inner(live.size(), 0);
  for (const auto& o : live)
    forEachReference(*o, [&](const Object* to) {
      if (auto it = index.find(to); it != index.end()) ++inner[it->second];
    });
  std::vector<char> reached(live.size(), 0);
  std::vector<std::size_t> work;
  for (std::size_t i = 0; i < live.size(); ++i)
    if (live[i].use_count() - 1 > inner[i]) {
      reached[i] = 1;
      work.push_back(i);
    }
  while (!work.empty()) {
    std::size_t i = work.back();
    work.pop_back();
    forEachReference(*live[i], [&](const Object* to) {
      auto it = index.find(to);
      if (it != index.end() && !reached[it->second]) {
        reached[it->second] = 1;
        work.push_back(it->second);
      }
    });
  }

  std::vector<Object> dropped;
  std::size_t freed = 0;
  for (std::size_t i = 0; i < live.size(); ++i)
    if (!reached[i]) {
      empty(*live[i], dropped);
      ++freed;
    }
  dropped.clear();
  live.clear();
  compactRegistry();
  return freed;
}

void Machine::collectIfDue() {
  if (objects_.size() >= collectDue_) {
    collectCycles();
    collectDue_ = std::max<std::size_t>(kRegistryMinimum, objects_.size() * 2);
  }
}

}  // namespace flash::avm1
