// Ownership of the ActionScript objects: reference cycles that scripts make are freed between
// frames once nothing outside them reaches them, and all objects go with their machine.
#include "flash/avm1/machine.h"

#include <gtest/gtest.h>

#include "flash/player/stage.h"
#include "flash/reader/tags.h"
#include "flash/tests/swf_writer.h"

using namespace flash;
using namespace swftest;

namespace {

// o = new Object(); o.me = o; (the object refers to itself)
Actions& selfCycle(Actions& a, const std::string& name) {
  a.push(name).push(0).push("Object").op(0x40).op(0x1d);
  a.push(name).op(0x1c).push("me").push(name).op(0x1c).op(0x4f);
  return a;
}

// function NAME() {} (a function and its prototype refer to each other)
Actions& emptyFunction(Actions& a, const std::string& name) {
  Bits def;
  def.str(name);
  def.u16(0);
  def.u16(0);
  return a.record(0x9b, def.bytes());
}

// A movie of two frames that loops, making new cycles in every frame and dropping the last ones.
std::unique_ptr<swf::Movie> cycleMaker() {
  MovieWriter m(5, 20, 20);
  Actions a;
  selfCycle(a, "o");
  emptyFunction(a, "f");
  m.add(DoAction, a.finish()).showFrame();
  Actions b;
  selfCycle(b, "p");
  m.add(DoAction, b.finish()).showFrame();
  auto bytes = m.bytes();
  return swf::readMovie(bytes.data(), bytes.size(), Limits{});
}

TEST(Ownership, CyclesDroppedByScriptsAreFreedBetweenFrames) {
  auto movie = cycleMaker();
  ASSERT_TRUE(movie);
  player::Stage stage(*movie, Limits{}, nullptr);
  stage.start();
  std::size_t builtins = stage.machine().liveObjects();
  for (int i = 0; i < 20000; ++i) stage.tick();  // some 40 000 cycles made
  // Without collection every cycle would still be alive.
  EXPECT_LT(stage.machine().liveObjects(), builtins + 3 * 4096);
  // What the movie still refers to survives a collection, the rest does not.
  stage.machine().collectCycles();
  EXPECT_LE(stage.machine().liveObjects(), builtins + 6);
  avm1::Machine& m = stage.machine();
  avm1::Value o = m.get(m.clipValue(stage.root()), "o");
  ASSERT_TRUE(o.isObject());
  EXPECT_EQ(m.get(o, "me").object, o.object);
  ASSERT_TRUE(m.get(m.clipValue(stage.root()), "f").isObject());
}

TEST(Ownership, ObjectsHeldFromOutsideTheMachineSurviveACollection) {
  auto movie = cycleMaker();
  ASSERT_TRUE(movie);
  player::Stage stage(*movie, Limits{}, nullptr);
  stage.start();
  avm1::Machine& m = stage.machine();
  // A cycle only this test holds on to (as a running script's stack would).
  avm1::ObjectRef kept = m.newObject();
  kept->set("next", "next", avm1::Value::of(m.newArray({avm1::Value::of(kept)})));
  std::weak_ptr<avm1::Object> lost;
  {
    avm1::ObjectRef a = m.newObject();
    a->set("back", "back", avm1::Value::of(m.newFunction(nullptr)));
    a->own("back")->value.object->set("to", "to", avm1::Value::of(a));
    lost = a;
  }
  ASSERT_FALSE(lost.expired());  // a cycle: not freed by reference counting
  m.collectCycles();
  EXPECT_TRUE(lost.expired());
  ASSERT_TRUE(kept->own("next"));
  const avm1::Value& next = kept->own("next")->value;
  ASSERT_TRUE(next.isObject());
  ASSERT_EQ(next.object->elements.size(), 1u);
  EXPECT_EQ(next.object->elements[0].object, kept);
}

TEST(Ownership, TheMachineFreesEveryObjectItMade) {
  auto movie = cycleMaker();
  ASSERT_TRUE(movie);
  std::weak_ptr<avm1::Object> global, made;
  {
    player::Stage stage(*movie, Limits{}, nullptr);
    stage.start();
    stage.tick();
    global = stage.machine().global;
    made = stage.machine().get(stage.machine().clipValue(stage.root()), "p").object;
    ASSERT_FALSE(made.expired());
  }
  EXPECT_TRUE(global.expired());
  EXPECT_TRUE(made.expired());
}

}  // namespace
