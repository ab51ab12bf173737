// An SWF 5 animation of 100 frames (12 a second, 176 x 208) converted at quality 100 for a
// 176 x 208 picture type into GIF files the way the dialog converts: every frame rendered by
// the engine, reduced to the fixed palette, encoded and split into files of at most 45000
// bytes. The stages are timed apart. Paired in each iteration with ImageMagick's convert
// writing the same (already reduced) frames as one GIF with the same 256-colour palette, so
// that the bytes per frame compare the encoders alone and both see the same machine load.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "graph/gif.h"
#include "modules/animation/core/flickcore.h"
#include "modules/animation/tests/movies.h"
#include "platform/fs.h"
#include "platform/kernel.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace hv;

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

void writePpm(const std::string& path, int w, int h, const std::vector<std::uint8_t>& rgb) {
  std::string bytes = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  bytes.append(reinterpret_cast<const char*>(rgb.data()), rgb.size());
  if (!fs::writeFileAtomic(path, bytes)) std::abort();
}

// The bytes of a GIF file that belong to its frames: each graphic control extension and image
// (descriptor, local colour table, LZW data), without the header, palette, other extensions and
// the trailer. Aborts on a file it cannot walk.
std::size_t frameBytes(const std::string& path) {
  const auto data = fs::readFile(path);
  if (!data || data->size() < 13) std::abort();
  const auto* b = reinterpret_cast<const std::uint8_t*>(data->data());
  const std::size_t n = data->size();
  std::size_t at = 13;
  if (b[10] & 0x80) at += 3u << ((b[10] & 7) + 1);
  auto subBlocks = [&](std::size_t from) {
    while (from < n && b[from] != 0) from += b[from] + 1u;
    if (from >= n) std::abort();
    return from + 1;
  };
  std::size_t total = 0;
  while (at < n && b[at] != 0x3B) {
    const std::size_t start = at;
    if (b[at] == 0x21) {
      at = subBlocks(at + 2);
      if (b[start + 1] == 0xF9) total += at - start;
    } else if (b[at] == 0x2C) {
      if (at + 11 > n) std::abort();
      std::size_t body = at + 10;
      if (b[at + 9] & 0x80) body += 3u << ((b[at + 9] & 7) + 1);
      at = subBlocks(body + 1);
      total += at - start;
    } else {
      std::abort();
    }
  }
  return total;
}

struct Run {
  double renderMs = 0, gifMs = 0, totalMs = 0, convertMs = 0;
  std::size_t ourBytes = 0, theirBytes = 0, ourFrameBytes = 0, theirFrameBytes = 0, files = 0;
};

struct Setup {
  std::string dir;
  flick::Movie movie;
  flick::Target target{176, 208};
  Setup() {
    dir = *fs::createTempDirectory({}, "animbench");
    const std::string path =
        flicktest::writeMovie(dir + "/ball.swf", flicktest::ballMovie(5, 100, 176, 208, 12));
    if (flick::openMovie(path, movie) != flick::MovieError::None) std::abort();
    // The palette as a picture for convert's -remap.
    const auto& pal = graph::fixedPalette();
    writePpm(dir + "/palette.ppm", 256, 1, std::vector<std::uint8_t>(pal.begin(), pal.end()));
  }
  ~Setup() { fs::removeAll(dir); }
};

Run once(const Setup& s, int iteration) {
  Run r;
  const std::string out = s.dir + "/out" + std::to_string(iteration) + "/";
  fs::makeDirectories(out);
  const auto start = Clock::now();
  std::vector<flick::Frame> frames;
  if (flick::render(s.movie, 0, 99, flick::sampleStep(100), s.target.width, s.target.height, {},
                    frames) != flick::RenderError::None ||
      frames.size() != 100) {
    std::abort();
  }
  r.renderMs = msSince(start);
  const auto gifStart = Clock::now();
  std::vector<flick::ResultFile> files;
  if (flick::writeResults(frames, s.target, out, files) != graph::GifError::None) std::abort();
  r.gifMs = msSince(gifStart);
  r.totalMs = msSince(start);
  for (const auto& f : files) {
    r.ourBytes += f.bytes;
    r.ourFrameBytes += frameBytes(f.path);
  }
  r.files = files.size();

  // The same frames, reduced to the palette, as pictures for convert.
  const auto& pal = graph::fixedPalette();
  std::vector<std::string> argv = {"convert", "-delay", "8"};
  for (size_t n = 0; n < frames.size(); ++n) {
    const auto idx =
        graph::reduceToPalette(frames[n].pixels.data(), frames[n].width, frames[n].height);
    std::vector<std::uint8_t> rgb(idx.size() * 3);
    for (size_t i = 0; i < idx.size(); ++i) {
      for (int c = 0; c < 3; ++c) rgb[i * 3 + c] = pal[size_t(idx[i]) * 3 + c];
    }
    char name[32];
    std::snprintf(name, sizeof name, "f%03zu.ppm", n);
    writePpm(out + name, frames[n].width, frames[n].height, rgb);
    argv.push_back(out + name);
  }
  for (const char* a : {"+dither", "-remap"}) argv.push_back(a);
  argv.push_back(s.dir + "/palette.ppm");
  argv.push_back(out + "convert.gif");
  const auto convertStart = Clock::now();
  auto p = Process::start(argv);
  if (!p || p->wait() != 0) std::abort();
  r.convertMs = msSince(convertStart);
  r.theirBytes = fs::fileSize(out + "convert.gif").value_or(0);
  r.theirFrameBytes = frameBytes(out + "convert.gif");
  fs::removeAll(out);
  return r;
}

void BM_Swf5To176x208GifsPaired(benchmark::State& state) {
  Setup setup;
  once(setup, -1);  // warm
  Run sum;
  int n = 0;
  for (auto _ : state) {
    const Run r = once(setup, n++);
    state.SetIterationTime(r.totalMs / 1000.0);
    sum.renderMs += r.renderMs;
    sum.gifMs += r.gifMs;
    sum.totalMs += r.totalMs;
    sum.convertMs += r.convertMs;
    sum.ourBytes = r.ourBytes;
    sum.theirBytes = r.theirBytes;
    sum.ourFrameBytes = r.ourFrameBytes;
    sum.theirFrameBytes = r.theirFrameBytes;
    sum.files = r.files;
  }
  state.counters["render_ms"] = sum.renderMs / n;
  state.counters["gif_ms"] = sum.gifMs / n;
  state.counters["total_ms"] = sum.totalMs / n;
  state.counters["convert_ms"] = sum.convertMs / n;
  state.counters["files"] = double(sum.files);
  // Whole files over frames (ours pays a header and palette per file of the split), and the
  // frames' own records alone.
  state.counters["our_file_bytes_per_frame"] = double(sum.ourBytes) / 100.0;
  state.counters["convert_file_bytes_per_frame"] = double(sum.theirBytes) / 100.0;
  state.counters["our_frame_bytes"] = double(sum.ourFrameBytes) / 100.0;
  state.counters["convert_frame_bytes"] = double(sum.theirFrameBytes) / 100.0;
}
BENCHMARK(BM_Swf5To176x208GifsPaired)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
