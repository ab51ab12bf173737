// A 1600 x 1200 JPEG photo to a packed 72 x 14 Nokia operator logo: opening (libjpeg's reduced
// decode), the working picture and its display copy in the framing control's area, the whole
// picture framed, resampled and thresholded, and packed through libLogopack.so loaded by path.
// Paired in each iteration with ImageMagick's convert doing the same load, exact resize and
// threshold to a 1-bit BMP, so both see the same machine load.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "modules/image/packing.h"
#include "modules/image/pipeline.h"
#include "platform/fs.h"
#include "platform/kernel.h"

namespace {

using namespace hv::pictport;
using Clock = std::chrono::steady_clock;

struct Files {
  std::string dir;
  std::string photo;
  Files() {
    dir = *hv::fs::createTempDirectory({}, "imagebench");
    photo = dir + "/photo.jpg";
    // A photo-like picture: smooth gradients, a disc and text, saved as an ordinary JPEG.
    const std::string cmd =
        "convert -size 1600x1200 gradient:'#3070c0'-'#f0e0a0' -fill '#c03020' "
        "-draw 'circle 800,600 800,300' -fill '#208040' "
        "-draw 'rectangle 100,900 700,1150' -quality 90 '" +
        photo + "'";
    if (std::system(cmd.c_str()) != 0) std::abort();
  }
  ~Files() { hv::fs::removeAll(dir); }
};

PictureType logoType() {
  PictureType t;
  hv::copyField(t.info.imagetype, "nokia_op_logo");
  t.info.picwidth = 72;
  t.info.picheight = 14;
  t.info.xscale = t.info.yscale = 200;
  t.info.color = 1;
  hv::copyField(t.info.modulepath, "libLogopack.so");
  t.modulePath = std::string(HV_SUITE_DIR_BENCH) + "/libLogopack.so";
  return t;
}

double pictport(const Files& f, const PictureType& type) {
  const auto start = Clock::now();
  auto opened = openPicture(f.photo);
  if (!opened) std::abort();
  Framing framing;
  setupFraming(framing, workingPicture(*opened, 72, 14), {424, 290}, {72, 14});
  framing.geometry.wholeFrame();
  const Picture send = makePicture(framing, type, opened->kind, {72, 14}, Mode::Send, 100);
  const PackResult packed = pack(send, type, opened->kind, f.dir);
  if (!packed.ok()) std::abort();
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  hv::fs::removeFile(packed.path);
  return ms;
}

double convert(const Files& f) {
  const auto start = Clock::now();
  auto p = hv::Process::start({"convert", f.photo, "-resize", "72x14!", "-threshold", "39%",
                               "-monochrome", f.dir + "/logo.bmp"});
  if (!p || p->wait() != 0) std::abort();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_PhotoToOperatorLogoPaired(benchmark::State& state) {
  Files files;
  const PictureType type = logoType();
  pictport(files, type);  // warm: the packing library loaded, ImageMagick set up
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    ours += pictport(files, type);
    theirs += convert(files);
  }
  const double n = double(state.iterations());
  state.counters["pictport_ms"] = ours / n;
  state.counters["convert_ms"] = theirs / n;
  state.counters["speedup"] = theirs / ours;
}
BENCHMARK(BM_PhotoToOperatorLogoPaired)->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace

BENCHMARK_MAIN();
