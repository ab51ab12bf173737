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

// Drops what an object refers to, so that it no longer holds other objects alive.
void empty(Object& o) {
  o.properties.clear();
  o.order.clear();
  o.proto.reset();
  o.elements.clear();
  o.primitive = Value();
  o.script.reset();
  o.native = nullptr;
  o.constructor = nullptr;
}

}  // namespace

Object::~Object() {
  // Objects that die with this one wait in the outermost destructor's list and are destroyed
  // there one after the other.
  thread_local std::vector<ObjectRef>* waiting = nullptr;
  std::vector<ObjectRef> mine;
  const bool outermost = waiting == nullptr;
  if (outermost) waiting = &mine;
  auto hand = [](ObjectRef& r) {
    if (r && r.use_count() == 1) waiting->push_back(std::move(r));
  };
  for (auto& [k, p] : properties) {
    hand(p.value.object);
    hand(p.getter);
    hand(p.setter);
  }
  hand(proto);
  for (Value& v : elements) hand(v.object);
  hand(primitive.object);
  if (!outermost) return;
  while (!mine.empty()) {
    ObjectRef next = std::move(mine.back());
    mine.pop_back();
    next.reset();
  }
  waiting = nullptr;
}

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
  for (const auto& o : live) empty(*o);
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

  std::size_t freed = 0;
  for (std::size_t i = 0; i < live.size(); ++i)
    if (!reached[i]) {
      empty(*live[i]);
      ++freed;
    }
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
