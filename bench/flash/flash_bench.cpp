// 100 frames of a typical SWF 5 animation (solid and gradient shapes with lines, a bitmap fill,
// a sprite with its own timeline, static text, everything moving) played and rendered at
// 176 x 208 and at 640 x 480, and sampled with gotoFrame as the animation module does. Counters:
// frames a second, that rate over the movie's own (12 fps), and the peak resident memory (rates
// are per CPU second; the wall time per 100 frames is the Time column). The same for a real
// SWF 5 movie of the regression cases.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>

#include "flash/flash.h"
#include "flash/tests/swf_writer.h"

using namespace swftest;

namespace {

constexpr int kFrames = 100;
constexpr double kRate = 12;

std::vector<std::uint8_t> circle(int version, Fill fill, Line line, int r) {
  ShapeWriter s(version, {fill}, {line});
  const double k = r / std::cos(3.14159265358979 / 8);
  s.move(r, 0, -1, 1, 1);
  for (int i = 0; i < 8; ++i) {
    double a = (i + 0.5) * 3.14159265358979 / 4, b = (i + 1) * 3.14159265358979 / 4;
    s.curve(int(k * std::cos(a)), int(k * std::sin(a)), int(r * std::cos(b)), int(r * std::sin(b)));
  }
  return defineShape(0, -r, r, -r, r, s.finish());
}

std::vector<std::uint8_t> withShapeId(int id, std::vector<std::uint8_t> body) {
  body[0] = std::uint8_t(id);
  body[1] = std::uint8_t(id >> 8);
  return body;
}

std::vector<std::uint8_t> movie() {
  MovieWriter m(5, 550, 400, kRate);
  m.background({230, 240, 250});
  M grad;
  grad.a = grad.d = 3000.0 / 32768;
  m.add(DefineShape3,
        withShapeId(1,
                    circle(3,
                           Fill::gradient(
                               0x12, grad,
                               {{0, {255, 255, 200}}, {160, {255, 120, 0}}, {255, {120, 0, 0, 0}}}),
                           Line{60, {80, 0, 0}}, 1500)));
  M lin;
  lin.a = lin.d = 4000.0 / 32768;
  ShapeWriter bar(3, {Fill::gradient(0x10, lin, {{0, {0, 80, 200}}, {255, {0, 200, 120}}})},
                  {Line{40, {0, 0, 0}}});
  bar.move(-2000, -600, -1, 1, 1).rect(-2000, -600, 2000, 600);
  m.add(DefineShape3, defineShape(2, -2000, 2000, -600, 600, bar.finish()));
  std::vector<Color> px;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x)
      px.push_back({std::uint8_t(x * 4), std::uint8_t(y * 5), std::uint8_t((x ^ y) * 4), 255});
  m.add(DefineBitsLossless, defineBitsLossless(3, 5, 64, 48, px, false));
  M bm;
  bm.a = bm.d = 40;
  ShapeWriter pic(1, {Fill::bitmapFill(0x41, 3, bm)}, {});
  pic.move(0, 0, -1, 1).rect(0, 0, 2560, 1920);
  m.add(DefineShape, defineShape(4, 0, 2560, 0, 1920, pic.finish()));
  m.add(DefineShape, withShapeId(5, circle(1, Fill::solid({0, 150, 0}), Line{20, {0, 0, 0}}, 300)));
  SpriteWriter walk;
  for (int f = 0; f < 6; ++f) {
    Place p;
    p.depth = 1, p.hasMatrix = true, p.matrix.tx = f * 200, p.matrix.ty = (f % 2) * 100;
    if (f == 0)
      p.id = 5;
    else
      p.move = true;
    walk.add(PlaceObject2, placeObject2(p)).showFrame();
  }
  m.add(DefineSprite, walk.finish(6));
  ShapeWriter g(0, {Fill{}}, {});
  g.move(0, -800, -1, 1).rect(0, -800, 160, 0).move(480, -800, -1, 1).rect(480, -800, 640, 0);
  g.move(160, -480, -1, 1).rect(160, -480, 480, -320);
  FontLayout layout{820, 200, 0, {760}};
  m.add(DefineFont2, defineFont2(7, "H", {g.finish()}, {'H'}, &layout));
  TextRecord run;
  run.font = 7, run.hasColor = true, run.color = {20, 20, 20}, run.hasX = true, run.hasY = true,
  run.y = 700, run.height = 700;
  for (int i = 0; i < 12; ++i) run.glyphs.push_back({0, 540});
  m.add(DefineText, defineText(8, 1, {0, 7000, 0, 800}, M{}, {run}));
  m.add(PlaceObject2, place(8, 10, M{1, 0, 0, 1, 400, 7200}));
  for (int f = 0; f < kFrames; ++f) {
    double t = f / double(kFrames);
    auto at = [&](int depth, int id, M mtx) {
      Place p;
      p.depth = depth, p.hasMatrix = true, p.matrix = mtx;
      if (f == 0)
        p.id = id;
      else
        p.move = true;
      m.add(PlaceObject2, placeObject2(p));
    };
    at(1, 4, M{1 + t, 0, 0, 1 + t, 6000, 1000});
    at(2, 1, M{1, 0, 0, 1, std::int32_t(2000 + 7000 * t), 3000});
    double r = t * 6.28;
    at(3, 2, M{std::cos(r), std::sin(r), -std::sin(r), std::cos(r), 5500, 5500});
    at(4, 6, M{1, 0, 0, 1, 500, std::int32_t(500 + 3000 * t)});
    at(5, 6, M{0.5, 0, 0, 0.5, 8000, 6000});
    m.showFrame();
  }
  return m.bytes();
}

const std::vector<std::uint8_t>& theMovie() {
  static const std::vector<std::uint8_t> bytes = movie();
  return bytes;
}

void reportMemory(benchmark::State& state) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MiB"] = double(usage.ru_maxrss) / 1024.0;
}

// Loads the movie and plays and renders its 100 frames.
void BM_PlayAndRender100Frames(benchmark::State& state) {
  int w = int(state.range(0)), h = int(state.range(1));
  const auto& bytes = theMovie();
  std::vector<std::uint8_t> rgb(std::size_t(w) * 3 * std::size_t(h));
  for (auto _ : state) {
    flash::Player p(w, h);
    if (!p.load(bytes.data(), bytes.size()).ok()) state.SkipWithError("movie does not load");
    for (int f = 0; f < kFrames; ++f) {
      p.render(rgb.data(), p.rowStride());
      p.nextFrame();
    }
    benchmark::DoNotOptimize(rgb.data());
  }
  state.counters["frames_per_s"] =
      benchmark::Counter(double(kFrames) * double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["times_movie_rate"] = benchmark::Counter(
      double(kFrames) * double(state.iterations()) / kRate, benchmark::Counter::kIsRate);
  reportMemory(state);
}
BENCHMARK(BM_PlayAndRender100Frames)
    ->Args({176, 208})
    ->Args({640, 480})
    ->Unit(benchmark::kMillisecond);

// The animation module's way: gotoFrame(1), gotoFrame(1 + step), ... with a step of 4.
void BM_GotoEveryFourthFrame(benchmark::State& state) {
  const auto& bytes = theMovie();
  std::vector<std::uint8_t> rgb(176 * 3 * 208);
  for (auto _ : state) {
    flash::Player p(176, 208);
    if (!p.load(bytes.data(), bytes.size()).ok()) state.SkipWithError("movie does not load");
    for (int f = 1; f <= kFrames; f += 4) {
      p.gotoFrame(f);
      p.render(rgb.data(), p.rowStride());
    }
    benchmark::DoNotOptimize(rgb.data());
  }
  reportMemory(state);
}
BENCHMARK(BM_GotoEveryFourthFrame)->Unit(benchmark::kMillisecond);

// A real SWF 5 movie (vnc2swf's screen recording of Gnash's test movies: 652 x 490, 12 fps,
// bitmaps replaced region by region): its first 100 frames played and rendered.
void BM_RealMovie100Frames(benchmark::State& state) {
  int w = int(state.range(0)), h = int(state.range(1));
  std::vector<std::uint8_t> rgb(std::size_t(w) * 3 * std::size_t(h));
  double rate = 12;
  for (auto _ : state) {
    flash::Player p(w, h);
    if (!p.load(FLASH_REAL_MOVIE).ok()) {
      state.SkipWithError("movie does not load");
      break;
    }
    rate = p.framesPerSecond();
    for (int f = 0; f < kFrames; ++f) {
      p.render(rgb.data(), p.rowStride());
      p.nextFrame();
    }
    benchmark::DoNotOptimize(rgb.data());
  }
  state.counters["frames_per_s"] =
      benchmark::Counter(double(kFrames) * double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["times_movie_rate"] = benchmark::Counter(
      double(kFrames) * double(state.iterations()) / rate, benchmark::Counter::kIsRate);
  reportMemory(state);
}
BENCHMARK(BM_RealMovie100Frames)->Args({176, 208})->Args({640, 480})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
