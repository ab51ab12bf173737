// Start to first paint: Handvane (skin, launcher, sign-in panel, tray) against a bare Qt program
// painting a window of the launcher's size, run in pairs so that both see the same machine load.
// Both run on the offscreen platform (or the display in $HV_BENCH_DISPLAY) with a private
// runtime folder, so that a Handvane already running for the user is not asked instead.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/fs.h"
#include "platform/kernel.h"

namespace {

int64_t nowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Milliseconds from spawning program to its first paint; negative on failure.
double startToPaint(const std::string& program, const std::string& runtime) {
  const std::string report = runtime + "/first-paint";
  hv::fs::removeFile(report);
  setenv("HANDVANE_FIRST_PAINT_FILE", report.c_str(), 1);
  const int64_t start = nowNs();
  auto p = hv::Process::start({program});
  if (!p) return -1;
  if (!p->wait(std::chrono::seconds(30))) {
    p->kill(9);
    p->wait();
    return -1;
  }
  const auto text = hv::fs::readFile(report);
  if (!text || text->empty()) return -1;
  return double(std::stoll(*text) - start) / 1e6;
}

void BM_StartToFirstPaint(benchmark::State& state) {
  const std::string runtime = *hv::fs::createTempDirectory({}, "bench-runtime");
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  if (const char* display = std::getenv("HV_BENCH_DISPLAY")) {
    setenv("DISPLAY", display, 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
  } else {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  const std::string handvane = std::string(HV_SUITE_DIR) + "/Handvane";
  double handvaneMs = 0, bareMs = 0;
  int pairs = 0;
  for (auto _ : state) {
    const double h = startToPaint(handvane, runtime);
    const double b = startToPaint(HV_BARE_WINDOW, runtime);
    if (h < 0 || b < 0) {
      state.SkipWithError("a program did not report its first paint");
      break;
    }
    handvaneMs += h;
    bareMs += b;
    ++pairs;
    state.SetIterationTime(h / 1000.0);
  }
  if (pairs > 0) {
    state.counters["handvane_ms"] = handvaneMs / pairs;
    state.counters["bare_qt_ms"] = bareMs / pairs;
    state.counters["ratio"] = handvaneMs / bareMs;
  }
  hv::fs::removeAll(runtime);
}
BENCHMARK(BM_StartToFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
