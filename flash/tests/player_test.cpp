// The player through the exported interface: frame navigation, the picture buffer, fitting the
// stage into the output, device text, and movies that try to make the engine loop or recurse.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>
#include <set>

#include "flash/flash.h"
#include "flash/tests/swf_writer.h"

using namespace swftest;

namespace {

// A 100 x 100 movie: a red square at depth 1 that moves 10 pixels right each frame (frames
// 1..n), and a sprite that walks a blue square down within its own 3 frames.
std::vector<std::uint8_t> walker(int frames,
                                 const std::vector<std::vector<std::uint8_t>>& frameActions = {}) {
  MovieWriter m(5, 100, 100);
  m.background({255, 255, 255});
  ShapeWriter red(1, {Fill::solid({255, 0, 0})}, {});
  red.move(0, 0, -1, 1).rect(0, 0, 200, 200);
  m.add(DefineShape, defineShape(1, 0, 200, 0, 200, red.finish()));
  ShapeWriter blue(1, {Fill::solid({0, 0, 255})}, {});
  blue.move(0, 0, -1, 1).rect(0, 0, 200, 200);
  m.add(DefineShape, defineShape(2, 0, 200, 0, 200, blue.finish()));
  SpriteWriter s;
  for (int f = 0; f < 3; ++f) {
    Place p;
    p.depth = 1, p.hasMatrix = true, p.matrix.ty = f * 400;
    if (f == 0)
      p.id = 2;
    else
      p.move = true;
    s.add(PlaceObject2, placeObject2(p)).showFrame();
  }
  m.add(DefineSprite, s.finish(3));
  for (int f = 0; f < frames; ++f) {
    Place p;
    p.depth = 1, p.hasMatrix = true, p.matrix.tx = f * 200;
    if (f == 0) {
      p.id = 1;
      m.add(PlaceObject2, place(3, 2, M{1, 0, 0, 1, 1400, 0}));
    } else {
      p.move = true;
    }
    m.add(PlaceObject2, placeObject2(p));
    if (std::size_t(f) < frameActions.size() && !frameActions[std::size_t(f)].empty())
      m.add(DoAction, frameActions[std::size_t(f)]);
    m.showFrame();
  }
  return m.bytes();
}

std::vector<std::uint8_t> picture(flash::Player& p) {
  std::vector<std::uint8_t> rgb(p.rowStride() * std::size_t(p.height()));
  EXPECT_TRUE(p.render(rgb.data(), p.rowStride()).ok());
  return rgb;
}

const std::uint8_t* pixel(const std::vector<std::uint8_t>& rgb, int width, int x, int y) {
  return &rgb[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3];
}

bool isColor(const std::uint8_t* p, int r, int g, int b) {
  return p[0] == r && p[1] == g && p[2] == b;
}

std::vector<std::uint8_t> stopAction() {
  Actions a;
  a.op(0x07);
  return a.finish();
}

TEST(Navigation, GotoGivesTheSamePictureWhicheverFrameItCameFrom) {
  auto bytes = walker(6);
  flash::Player direct(100, 100), stepped(100, 100), back(100, 100), played(100, 100);
  for (auto* p : {&direct, &stepped, &back, &played})
    ASSERT_TRUE(p->load(bytes.data(), bytes.size()).ok());
  ASSERT_TRUE(direct.gotoFrame(5));
  for (int f : {2, 3, 4, 5}) ASSERT_TRUE(stepped.gotoFrame(f));
  ASSERT_TRUE(back.gotoFrame(6));
  ASSERT_TRUE(back.gotoFrame(5));
  for (int i = 0; i < 4; ++i) played.nextFrame();
  auto a = picture(direct);
  EXPECT_EQ(a, picture(stepped));
  EXPECT_EQ(a, picture(back));
  EXPECT_EQ(a, picture(played));
  EXPECT_EQ(direct.currentFrame(), 5);
  EXPECT_EQ(back.currentFrame(), 5);
  // Frame 5: the red square at x = 40; the sprite, 4 ticks old, shows its frame 2 (y = 20).
  EXPECT_TRUE(isColor(pixel(a, 100, 45, 5), 255, 0, 0));
  EXPECT_TRUE(isColor(pixel(a, 100, 75, 25), 0, 0, 255));
  EXPECT_TRUE(isColor(pixel(a, 100, 75, 5), 255, 255, 255));
}

TEST(Navigation, CurrentFrameAdvancesAfterAGotoAndOutOfRangeChangesNothing) {
  auto bytes = walker(4);
  flash::Player p(50, 50);
  EXPECT_EQ(p.currentFrame(), 0);
  EXPECT_FALSE(p.gotoFrame(1));
  ASSERT_TRUE(p.load(bytes.data(), bytes.size()).ok());
  EXPECT_EQ(p.currentFrame(), 1);
  EXPECT_EQ(p.frameCount(), 4);
  EXPECT_TRUE(p.gotoFrame(3));
  EXPECT_EQ(p.currentFrame(), 3);
  EXPECT_FALSE(p.gotoFrame(0));
  EXPECT_FALSE(p.gotoFrame(5));
  EXPECT_EQ(p.currentFrame(), 3);
  EXPECT_TRUE(p.nextFrame());
  EXPECT_EQ(p.currentFrame(), 4);
  EXPECT_TRUE(p.nextFrame());  // the end loops to the start
  EXPECT_EQ(p.currentFrame(), 1);
}

TEST(Navigation, AStopHoldsPlaybackButNotGoto) {
  auto bytes = walker(4, {stopAction()});
  flash::Player p(100, 100);
  ASSERT_TRUE(p.load(bytes.data(), bytes.size()).ok());
  EXPECT_FALSE(p.playing());
  EXPECT_FALSE(p.nextFrame());
  EXPECT_EQ(p.currentFrame(), 1);
  ASSERT_TRUE(p.gotoFrame(3));
  EXPECT_EQ(p.currentFrame(), 3);
  auto a = picture(p);
  EXPECT_TRUE(isColor(pixel(a, 100, 25, 5), 255, 0, 0));  // x = 20 .. 30 at frame 3
  EXPECT_FALSE(isColor(pixel(a, 100, 5, 5), 255, 0, 0));
}

TEST(Navigation, ScriptGotosOnTheMainTimelineAreIgnoredByGotoFrame) {
  // Frame 2 jumps back to frame 1 and plays: playback never reaches frame 3; gotoFrame does.
  Actions back;
  back.gotoFrame(0).op(0x06);
  auto bytes = walker(4, {{}, back.finish()});
  flash::Player p(100, 100);
  ASSERT_TRUE(p.load(bytes.data(), bytes.size()).ok());
  std::set<int> seen;
  for (int i = 0; i < 6; ++i) {
    p.nextFrame();
    seen.insert(p.currentFrame());
  }
  EXPECT_EQ(seen, (std::set<int>{1}));  // frame 2 sends it straight back
  ASSERT_TRUE(p.gotoFrame(4));
  EXPECT_EQ(p.currentFrame(), 4);
}

TEST(Rendering, StrideAndByteOrderAreTheCallersAndPaddingIsUntouched) {
  auto bytes = walker(1);
  flash::Player p(10, 10);
  ASSERT_TRUE(p.load(bytes.data(), bytes.size()).ok());
  EXPECT_EQ(p.rowStride(), 30u);
  std::vector<std::uint8_t> rgb(40 * 10, 0xee), bgr(40 * 10, 0xee);
  ASSERT_TRUE(p.render(rgb.data(), 40).ok());
  ASSERT_TRUE(p.render(bgr.data(), 40, flash::PixelOrder::BGR).ok());
  EXPECT_TRUE(isColor(&rgb[0], 255, 0, 0));  // the red square at the top left
  EXPECT_TRUE(isColor(&bgr[0], 0, 0, 255));
  for (int y = 0; y < 10; ++y)
    for (int x = 30; x < 40; ++x) EXPECT_EQ(rgb[std::size_t(y) * 40 + std::size_t(x)], 0xee);
  EXPECT_EQ(p.render(rgb.data(), 29).error, flash::Error::BadArgument);
  EXPECT_EQ(p.render(nullptr, 30).error, flash::Error::BadArgument);
  flash::Player none(10, 10);
  EXPECT_EQ(none.render(rgb.data(), 30).error, flash::Error::NotLoaded);
  EXPECT_EQ(p.resize(0, 5).error, flash::Error::BadArgument);
}

TEST(Rendering, TheStageIsFittedWholeWithTheRestInTheBackground) {
  // A 100 x 50 movie, green background, a red square in its top-left 10 x 10 pixels.
  MovieWriter m(5, 100, 50);
  m.background({0, 128, 0});
  ShapeWriter red(1, {Fill::solid({255, 0, 0})}, {});
  red.move(0, 0, -1, 1).rect(0, 0, 200, 200);
  m.add(DefineShape, defineShape(1, 0, 200, 0, 200, red.finish()));
  m.add(PlaceObject2, place(1, 1)).showFrame();
  auto bytes = m.bytes();
  flash::Player p(200, 200);
  ASSERT_TRUE(p.load(bytes.data(), bytes.size()).ok());
  auto a = picture(p);
  // Scale 2, centred: the stage spans y 50..150; the square is 0..20 x 50..70.
  EXPECT_TRUE(isColor(pixel(a, 200, 10, 60), 255, 0, 0));
  EXPECT_TRUE(isColor(pixel(a, 200, 25, 60), 0, 128, 0));
  EXPECT_TRUE(isColor(pixel(a, 200, 10, 40), 0, 128, 0));  // above the stage
  EXPECT_TRUE(isColor(pixel(a, 200, 100, 160), 0, 128, 0));
  ASSERT_TRUE(p.resize(50, 100).ok());
  EXPECT_EQ(p.rowStride(), 150u);
  auto b = picture(p);
  // Scale 0.5: the stage spans y 37.5..62.5; the square 0..5 x 37.5..42.5.
  EXPECT_TRUE(isColor(pixel(b, 50, 2, 40), 255, 0, 0));
  EXPECT_TRUE(isColor(pixel(b, 50, 2, 30), 0, 128, 0));
}

// A movie with one edit text in the device font, its text in GBK bytes.
std::vector<std::uint8_t> deviceText(const std::string& gbk) {
  MovieWriter m(5, 200, 60);
  m.background({255, 255, 255});
  EditTextDef e;
  e.bounds = {0, 4000, 0, 1200};
  e.height = 600;
  e.text = gbk;
  m.add(DefineEditText, defineEditText(1, e));
  m.add(PlaceObject2, place(1, 1)).showFrame();
  return m.bytes();
}

std::size_t inkPixels(const std::vector<std::uint8_t>& rgb) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < rgb.size(); i += 3)
    if (rgb[i] < 128 && rgb[i + 1] < 128 && rgb[i + 2] < 128) ++n;
  return n;
}

TEST(Rendering, ChineseDeviceTextIsDrawnWithARealFont) {
  // 你好 and 再见 in GBK.
  auto hello = deviceText("\xc4\xe3\xba\xc3"), bye = deviceText("\xd4\xd9\xbc\xfb");
  flash::Player a(200, 60), b(200, 60);
  ASSERT_TRUE(a.load(hello.data(), hello.size()).ok());
  ASSERT_TRUE(b.load(bye.data(), bye.size()).ok());
  auto pa = picture(a), pb = picture(b);
  // Real glyphs: well inked, and different characters look different (no boxes for missing
  // glyphs, which would look alike).
  EXPECT_GT(inkPixels(pa), 50u);
  EXPECT_GT(inkPixels(pb), 50u);
  std::size_t differ = 0;
  for (std::size_t i = 0; i < pa.size(); i += 3) differ += pa[i] != pb[i];
  EXPECT_GT(differ, 100u);
}

TEST(Rendering, TraceLinesReachTheHandler) {
  Actions a;
  a.push("hello").op(0x26).push(1.5).push(2).op(0x47).op(0x26);
  auto bytes = walker(1, {a.finish()});
  std::vector<std::string> lines;
  flash::Player p(10, 10);
  p.setTraceHandler([&](const std::string& l) { lines.push_back(l); });
  ASSERT_TRUE(p.load(bytes.data(), bytes.size()).ok());
  EXPECT_EQ(lines, (std::vector<std::string>{"hello", "3.5"}));
}

// ---- Movies that lie or loop

TEST(BadInput, AnEndlessActionLoopEndsAtTheStepBudget) {
  Actions a;
  a.push("n").push("n").op(0x1c).op(0x50).op(0x1d).jump(-20);  // n++ forever
  auto bytes = walker(2, {a.finish()});
  flash::Limits limits;
  limits.actionSteps = 1000;
  flash::Player p(10, 10, limits);
  ASSERT_TRUE(p.load(bytes.data(), bytes.size()).ok());
  EXPECT_TRUE(p.nextFrame());  // the next frame still comes
  EXPECT_EQ(p.currentFrame(), 2);
}

TEST(BadInput, JumpsOutOfTheBlockAndUnknownActionsAreHarmless) {
  Actions a;
  a.op(0x77).op(0x78);                       // not actions of any version
  a.record(0xe0, {1, 2, 3});                 // an unknown action with a payload
  a.push("x").push(1).op(0x1d).jump(30000);  // far past the end
  Actions b;
  b.jump(-30000);  // before the start
  Actions c;
  c.push("y").push(2).op(0x1d);
  auto bytes = walker(3, {a.finish(), b.finish(), c.finish()});
  std::vector<std::string> lines;
  flash::Player p(10, 10);
  ASSERT_TRUE(p.load(bytes.data(), bytes.size()).ok());
  EXPECT_TRUE(p.nextFrame());
  EXPECT_TRUE(p.nextFrame());
  EXPECT_EQ(p.currentFrame(), 3);
}

TEST(BadInput, RecursiveSpritesStopAtTheNestingLimit) {
  // Sprite 5 places sprite 5.
  MovieWriter m(5, 50, 50);
  ShapeWriter red(1, {Fill::solid({255, 0, 0})}, {});
  red.move(0, 0, -1, 1).rect(0, 0, 100, 100);
  m.add(DefineShape, defineShape(1, 0, 100, 0, 100, red.finish()));
  SpriteWriter s;
  s.add(PlaceObject2, place(1, 1))
      .add(PlaceObject2, place(5, 2, M{0.9, 0, 0, 0.9, 40, 40}))
      .showFrame();
  m.add(DefineSprite, s.finish(5));
  m.add(PlaceObject2, place(5, 1)).showFrame();
  auto bytes = m.bytes();
  flash::Player p(50, 50);
  ASSERT_TRUE(p.load(bytes.data(), bytes.size()).ok());
  auto a = picture(p);
  EXPECT_TRUE(isColor(pixel(a, 50, 2, 2), 255, 0, 0));
  for (int i = 0; i < 3; ++i) p.nextFrame();
}

TEST(BadInput, DeepRecursionInFunctionsIsCut) {
  // function f() { f(); } f();
  Actions body;
  body.push(0).push("f").op(0x3d).op(0x17);
  auto code = body.finish();
  code.pop_back();
  Bits def;
  def.str("f");
  def.u16(0);
  def.u16(std::uint32_t(code.size()));
  Actions a;
  a.record(0x9b, def.bytes());
  auto head = a.finish();
  head.pop_back();
  head.insert(head.end(), code.begin(), code.end());
  Actions call;
  call.push(0).push("f").op(0x3d).op(0x17).push("done").op(0x26);
  auto tail = call.finish();
  head.insert(head.end(), tail.begin(), tail.end());
  auto bytes = walker(1, {head});
  std::vector<std::string> lines;
  flash::Player p(10, 10);
  p.setTraceHandler([&](const std::string& l) { lines.push_back(l); });
  ASSERT_TRUE(p.load(bytes.data(), bytes.size()).ok());
  EXPECT_EQ(lines, (std::vector<std::string>{"done"}));
}

TEST(BadInput, TooManyObjectsAreNotPlaced) {
  MovieWriter m(5, 50, 50);
  ShapeWriter red(1, {Fill::solid({255, 0, 0})}, {});
  red.move(0, 0, -1, 1).rect(0, 0, 100, 100);
  m.add(DefineShape, defineShape(1, 0, 100, 0, 100, red.finish()));
  for (int d = 1; d <= 50; ++d) m.add(PlaceObject2, place(1, d));
  m.showFrame();
  auto bytes = m.bytes();
  flash::Limits limits;
  limits.displayObjects = 10;
  flash::Player p(50, 50, limits);
  ASSERT_TRUE(p.load(bytes.data(), bytes.size()).ok());
  auto a = picture(p);
  EXPECT_TRUE(isColor(pixel(a, 50, 2, 2), 255, 0, 0));
}

}  // namespace

namespace {

TEST(BadInput, HugeAndNaNNumbersWhereWholeNumbersBelongAreClamped) {
  // Depths, frames, property numbers, radixes and counts from numbers no int can hold.
  const double extremes[] = {-2147483648.0, 2147483647.0, 1e300, -1e300, NAN, INFINITY};
  Actions a;
  for (double x : extremes) {
    a.push("/clip").push("copy").push(x).op(0x24);  // duplicateMovieClip at depth x
    a.setTarget("clip");                            // the gotos move the sprite
    a.push(x).record(0x9f, {0x02, 0x00, 0x40});     // gotoAndStop(x) with a bias of 16384
    a.push(x).record(0x9f, {0x01});                 // gotoAndPlay(x)
    a.setTarget("");
    a.push("/clip").push(x).op(0x22).op(0x17);                      // getProperty("/clip", x)
    a.push("/clip").push(x).push(x).op(0x23);                       // setProperty("/clip", x, x)
    a.push(x).op(0x18).op(0x17);                                    // int(x)
    a.push("abc").push(x).push(x).op(0x15).op(0x17);                // substring("abc", x, x)
    a.push(x).op(0x33).op(0x17);                                    // chr(x)
    a.push(x).push(1).push("n").push(1).push(x).op(0x42).op(0x3c);  // [x] ... as "n"
    // n.toString(x); n.splice(x, x)
    a.push(x).push(1).push(x).push(1).push("Number").op(0x40).push("toString").op(0x52).op(0x17);
    a.push(x).push(x).push(2).push("n").op(0x1c).push("splice").op(0x52).op(0x17);
  }
  a.push("done").op(0x26);
  MovieWriter m(5, 20, 20);
  SpriteWriter s;
  s.showFrame().showFrame();
  m.add(DefineSprite, s.finish(3));
  Place p;
  p.id = 3, p.depth = 1, p.name = "clip";
  m.add(PlaceObject2, placeObject2(p));
  m.add(DoAction, a.finish()).showFrame().showFrame();
  auto bytes = m.bytes();
  std::vector<std::string> lines;
  flash::Player player(20, 20);
  player.setTraceHandler([&](const std::string& l) { lines.push_back(l); });
  ASSERT_TRUE(player.load(bytes.data(), bytes.size()).ok());
  EXPECT_EQ(lines, (std::vector<std::string>{"done"}));
  std::vector<std::uint8_t> rgb(player.rowStride() * 20);
  EXPECT_TRUE(player.render(rgb.data(), player.rowStride()).ok());
  player.nextFrame();
  EXPECT_TRUE(player.render(rgb.data(), player.rowStride()).ok());
}

}  // namespace

namespace {

// A movie of one frame whose actions are `code` (without the end byte).
std::vector<std::uint8_t> scriptMovie(std::vector<std::uint8_t> code) {
  code.push_back(0);
  MovieWriter m(5, 20, 20);
  m.add(DoAction, code).showFrame();
  return m.bytes();
}

std::vector<std::uint8_t> bytesOf(Actions& a) {
  auto b = a.finish();
  b.pop_back();
  return b;
}

std::vector<std::string> traced(const std::vector<std::uint8_t>& bytes, flash::Limits limits = {}) {
  std::vector<std::string> lines;
  flash::Player p(20, 20, limits);
  p.setTraceHandler([&](const std::string& l) { lines.push_back(l); });
  EXPECT_TRUE(p.load(bytes.data(), bytes.size()).ok());
  std::vector<std::uint8_t> rgb(p.rowStride() * 20);
  EXPECT_TRUE(p.render(rgb.data(), p.rowStride()).ok());
  return lines;
}

TEST(BadInput, ObjectsThatContainOrInheritFromThemselvesDoNotRecurseForever) {
  // a = []; a[0] = a; b = [a, a]; a[1] = b; trace(a); trace("done")
  // Each level of the joins is a call, and what they build counts against the step budget, so
  // the frame ends instead of joining exponentially many copies.
  Actions arrays;
  arrays.push("a").push(0).op(0x42).op(0x1d);
  arrays.push("a").op(0x1c).push(0).push("a").op(0x1c).op(0x4f);
  arrays.push("b").push("a").op(0x1c).push("a").op(0x1c).push(2).op(0x42).op(0x1d);
  arrays.push("a").op(0x1c).push(1).push("b").op(0x1c).op(0x4f);
  arrays.push("a").op(0x1c).op(0x26).push("done").op(0x26);
  auto joined = traced(scriptMovie(bytesOf(arrays)));
  ASSERT_FALSE(joined.empty());
  EXPECT_LE(joined.front().size(), std::size_t(4u << 20));
  EXPECT_LE(joined.size(), 2u);

  // o = {}; p = {}; o.__proto__ = p; p.__proto__ = o; trace(o.missing); trace(typeof o.x)
  Actions protos;
  protos.push("o").push(0).push("Object").op(0x40).op(0x1d);
  protos.push("p").push(0).push("Object").op(0x40).op(0x1d);
  protos.push("o").op(0x1c).push("__proto__").push("p").op(0x1c).op(0x4f);
  protos.push("p").op(0x1c).push("__proto__").push("o").op(0x1c).op(0x4f);
  protos.push("o").op(0x1c).push("missing").op(0x4e).op(0x26);
  protos.push("o").op(0x1c).push("x").op(0x4e).op(0x44).op(0x26);
  protos.push("done").op(0x26);
  EXPECT_EQ(traced(scriptMovie(bytesOf(protos))),
            (std::vector<std::string>{"undefined", "undefined", "done"}));
}

TEST(BadInput, ALongChainOfObjectsIsFreedWithoutDeepRecursion) {
  // head = null; i = 0; while (i < 30000) { n = new Object(); n.next = head; head = n; i++; }
  // head = null; n = null;  (dropping the chain must not recurse once per link)
  Actions init;
  init.push("i").push(0).op(0x1d);
  Actions body;
  body.push("n").push(0).push("Object").op(0x40).op(0x1d);
  body.push("n").op(0x1c).push("next").push("head").op(0x1c).op(0x4f);
  body.push("head").push("n").op(0x1c).op(0x1d);
  body.push("i").push("i").op(0x1c).op(0x50).op(0x1d);
  Actions test;
  test.push("i").op(0x1c).push(30000).op(0x48).op(0x12);
  auto bodyBytes = bytesOf(body);
  test.ifTrue(int(bodyBytes.size()) + 5);
  auto code = bytesOf(init);
  std::size_t loop = code.size();
  auto testBytes = bytesOf(test);
  code.insert(code.end(), testBytes.begin(), testBytes.end());
  code.insert(code.end(), bodyBytes.begin(), bodyBytes.end());
  Actions back;
  back.jump(-int(code.size() + 5 - loop));
  Actions end;
  end.push("head").push(0).op(0x1d).push("n").push(0).op(0x1d).push("i").op(0x1c).op(0x26);
  for (Actions* a : {&back, &end}) {
    auto b = bytesOf(*a);
    code.insert(code.end(), b.begin(), b.end());
  }
  // Played on a thread with a stack of 1 MiB, which a recursion per link would overflow.
  struct Run {
    std::vector<std::uint8_t> movie;
    std::vector<std::string> lines;
  } run{scriptMovie(code), {}};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 1u << 20);
  pthread_t thread;
  auto play = [](void* p) -> void* {
    auto* r = static_cast<Run*>(p);
    flash::Limits limits;
    limits.actionSteps = 20000000;
    r->lines = traced(r->movie, limits);
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, play, &run), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(run.lines, (std::vector<std::string>{"30000"}));
}

}  // namespace

namespace {

// A text field showing variable v, and actions that set v to an object whose toString runs
// `body` (the field asks for the text after the frame's actions).
std::vector<std::uint8_t> textOfObjectWith(std::vector<std::uint8_t> body) {
  MovieWriter m(5, 40, 20);
  EditTextDef e;
  e.variable = "v";
  m.add(DefineEditText, defineEditText(1, e));
  m.add(PlaceObject2, place(1, 1));
  Actions a;
  a.push("o").push(0).push("Object").op(0x40).op(0x1d);
  a.push("o").op(0x1c).push("toString");
  Bits def;
  def.str("");
  def.u16(0);
  def.u16(std::uint32_t(body.size()));
  a.record(0x9b, def.bytes());
  auto code = bytesOf(a);
  code.insert(code.end(), body.begin(), body.end());
  Actions rest;
  rest.op(0x4f).push("v").push("o").op(0x1c).op(0x1d).push("set").op(0x26);
  auto tail = rest.finish();
  code.insert(code.end(), tail.begin(), tail.end());
  m.add(DoAction, code).showFrame().showFrame();
  return m.bytes();
}

TEST(BadInput, AThrowOrEndlessLoopInAToStringThatATextFieldCallsEndsIt) {
  Actions thrower;
  thrower.push("x").op(0x2a);
  Actions endless;
  endless.jump(-5);
  for (Actions* body : {&thrower, &endless}) {
    auto bytes = textOfObjectWith(bytesOf(*body));
    flash::Limits limits;
    limits.actionSteps = 5000;
    EXPECT_EQ(traced(bytes, limits), (std::vector<std::string>{"set"}));
    flash::Player p(40, 20, limits);
    ASSERT_TRUE(p.load(bytes.data(), bytes.size()).ok());
    EXPECT_TRUE(p.nextFrame());
    EXPECT_TRUE(p.gotoFrame(1));
  }
}

}  // namespace
