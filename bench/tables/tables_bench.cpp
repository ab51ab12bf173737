// FLOpen of a friends table of 10,000 rows, and 1,000 friends added, changed and deleted in it.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include "platform/fs.h"
#include "tables/dbf/format.h"
#include "tables/dbf/writer.h"
#include "tables/friends/buddystore.h"

namespace {

constexpr int kRows = 10000;
constexpr int kChanges = 1000;
constexpr const char* kUser = "13900000000";

// A home whose user folder holds FRIENDS.DBF with kRows friends, laid out as the shipped template.
struct Home {
  Home() {
    dir = *hv::fs::createTempDirectory({}, "tables-bench") + "/";
    setenv("HANDVANE_HOME", dir.c_str(), 1);
    hv::fs::resetSuiteHomeForTesting();
    hv::fs::makeDirectories(dir + kUser);
    auto tmpl = *hv::fs::readFile(std::string(HV_SOURCE_DIR_BENCH) + "/shipped/DATA/FRIENDS.DBF");
    auto header = hv::dbf::parseHeader({reinterpret_cast<const uint8_t*>(tmpl.data()), tmpl.size()},
                                       tmpl.size(), "FRIENDS");
    std::vector<std::vector<hv::dbf::Value>> rows;
    for (int i = 0; i < kRows; ++i) {
      std::string n = std::to_string(13000000000LL + i);
      rows.push_back({hv::dbf::textValue(std::to_string(i)), hv::dbf::textValue(n),
                      hv::dbf::textValue("Nokia7650"), hv::dbf::textValue("nick"),
                      hv::dbf::textValue("friend " + std::to_string(i)), hv::dbf::textValue("30"),
                      hv::dbf::textValue("M"), hv::dbf::textValue("f@example.com"),
                      hv::dbf::textValue("12345678"), hv::dbf::textValue("m@example.com"),
                      hv::dbf::textValue("Beijing"), hv::dbf::textValue("100000")});
    }
    file = dir + kUser + "/FRIENDS.DBF";
    hv::dbf::createTable(file, header.fields, rows, {2003, 9, 1});
    original = *hv::fs::readFile(file);
  }
  ~Home() { hv::fs::removeAll(dir); }
  std::string dir, file, original;
};

Home& home() {
  static Home h;
  return h;
}

void BM_FLOpen10000(benchmark::State& state) {
  home();
  for (auto _ : state) {
    FriendsTable* t = FLOpen(kUser);
    if (!t || FLGetCount(t) != kRows) state.SkipWithError("FLOpen failed");
    FLClose(t);
  }
}
BENCHMARK(BM_FLOpen10000)->Unit(benchmark::kMillisecond);

void BM_AddModifyDelete1000(benchmark::State& state) {
  Home& h = home();
  for (auto _ : state) {
    state.PauseTiming();
    hv::fs::writeFileAtomic(h.file, h.original);
    FriendsTable* t = FLOpen(kUser);
    state.ResumeTiming();
    for (int i = 0; i < kChanges; ++i) {
      hv::FriendRecord r{};
      hv::copyField(r.mobilenum, std::to_string(13900000000LL + i));
      hv::copyField(r.name, "new friend");
      int index = FLAddInfo(t, &r);
      hv::copyField(r.name, "changed");
      if (index < 0 || FLModifyInfo(t, index, &r) != 0 || FLDelInfo(t, index) != 0) {
        state.SkipWithError("change failed");
        break;
      }
    }
    state.PauseTiming();
    FLClose(t);
    state.ResumeTiming();
  }
  state.counters["statements"] = benchmark::Counter(3.0 * kChanges * double(state.iterations()));
}
BENCHMARK(BM_AddModifyDelete1000)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
