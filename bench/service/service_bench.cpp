// End to end: N sends kept in flight through NET_SendMessageContent against handvane-service on
// loopback; completed sends per second and the latency distribution from the call to the posted
// result. Service alone: N raw clients doing ticket query and upload with prepared bytes, against
// one service on SQLite, and against two send servers sharing a PostgreSQL database (a server
// of the benchmark's own), the clients split evenly over them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <thread>

#include "platform/messages.h"
#include "service-server/tests/pg_cluster.h"
#include "service/protocol/protocol.h"
#include "service/svclink.h"
#include "tests/service-e2e/peers.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr char kUser[] = "13800138000";
constexpr char kPassword[] = "s3cret";

// Started on first use and stopped, by process id, when the program ends.
hv::e2e::LocalService& service() {
  static std::unique_ptr<hv::e2e::LocalService> s = [] {
    auto svc = std::make_unique<hv::e2e::LocalService>(
        "MaxConnections=512\r\nMaxConnectionsPerPeer=512\r\n");
    if (svc->command({"add-account", kUser, kPassword}) != 0 || !svc->start()) std::abort();
    return svc;
  }();
  return *s;
}

// A PostgreSQL server and two handvane-service processes on one database of it.
struct PgServices {
  hv::service::probe::PgCluster cluster;
  std::unique_ptr<hv::e2e::LocalService> a, b;
};
PgServices& pgServices() {
  static std::unique_ptr<PgServices> s = [] {
    auto p = std::make_unique<PgServices>();
    std::string error;
    if (!p->cluster.start(error) || !p->cluster.query("CREATE DATABASE service")) {
      std::fprintf(stderr, "PostgreSQL: %s\n", error.c_str());
      std::abort();
    }
    const std::string config =
        "MaxConnections=512\r\nMaxConnectionsPerPeer=512\r\n"
        "[postgresql]\r\nConnection=" +
        p->cluster.conninfo("service") + "\r\n[web]\r\nEnabled=0\r\n";
    p->a = std::make_unique<hv::e2e::LocalService>(config);
    p->b = std::make_unique<hv::e2e::LocalService>(config);
    if (p->a->command({"add-account", kUser, kPassword}) != 0 || !p->a->start() || !p->b->start())
      std::abort();
    return p;
  }();
  return *s;
}

bool signedIn() {
  static bool ok = [] {
    NET_UserLogout();
    return NET_Initialize("", 0, "", "", 0) == 0 &&
           NET_RegionRecognize(kUser, "127.0.0.1", service().region) == 0 &&
           NET_UserAuthentication(kUser, kPassword) == 0;
  }();
  return ok;
}

// 1, 8 and 32 at once, timed by the wall clock.
void concurrency(benchmark::internal::Benchmark* b) {
  b->Arg(1)->Arg(8)->Arg(32)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
}

void reportLatencies(benchmark::State& state, std::vector<double>& ms, int failures) {
  std::sort(ms.begin(), ms.end());
  auto at = [&](double q) { return ms.empty() ? 0.0 : ms[size_t(q * double(ms.size() - 1))]; };
  state.counters["p50_ms"] = at(0.5);
  state.counters["p90_ms"] = at(0.9);
  state.counters["p99_ms"] = at(0.99);
  state.counters["max_ms"] = ms.empty() ? 0.0 : ms.back();
  state.counters["failures"] = failures;
}

// A 152-byte header and 200 bytes of content: a small picture message.
void BM_SendMessageContent(benchmark::State& state) {
  if (!signedIn()) {
    state.SkipWithError("sign-in failed");
    return;
  }
  const int inFlight = int(state.range(0));
  constexpr int kSendsPerIteration = 256;
  hv::MessageHeader h(1);
  h.setServiceCode("WAP");
  h.setContentClass("IMAGE");
  h.setRecipient(0, "13900000000");
  h.setSender(kUser);
  std::vector<uint8_t> content(200, 0x42);

  std::map<uintptr_t, Clock::time_point> started;
  std::vector<double> latencies;
  int failures = 0, completed = 0, total = 0;
  hv::MessageWindow window([&](const hv::WindowMessage& m) {
    latencies.push_back(
        std::chrono::duration<double, std::milli>(Clock::now() - started[m.wparam]).count());
    started.erase(m.wparam);
    if (m.lparam != 0) ++failures;
    ++completed;
  });
  uintptr_t next = 0;
  auto startOne = [&] {
    hv::SendNotice notice{window.id(), hv::kSendCompleteMessage, 0, uint32_t(++next)};
    started[notice.wparam] = Clock::now();
    if (NET_SendMessageContent(&notice, h.data(), content.data(), int(content.size())) != 0) {
      started.erase(notice.wparam);
      ++failures;
      ++completed;
    }
  };
  for (auto _ : state) {
    int target = completed + kSendsPerIteration;
    int launched = 0;
    for (; launched < std::min(inFlight, kSendsPerIteration); ++launched) startOne();
    while (completed < target) {
      int before = completed;
      hv::pumpMessagesFor(std::chrono::milliseconds(1));
      for (int done = completed - before; done > 0 && launched < kSendsPerIteration;
           --done, ++launched)
        startOne();
    }
    total += kSendsPerIteration;
  }
  state.counters["sends_per_s"] = benchmark::Counter(double(total), benchmark::Counter::kIsRate);
  reportLatencies(state, latencies, failures);
}
BENCHMARK(BM_SendMessageContent)->Apply(concurrency);

// One raw exchange: connect, ticket query, upload of a prepared packet, reply.
bool rawSend(int port, const std::vector<uint8_t>& packet) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  auto recvAll = [&](uint8_t* p, size_t n) {
    size_t got = 0;
    while (got < n) {
      ssize_t r = ::recv(fd, p + got, n - got, 0);
      if (r <= 0) return false;
      got += size_t(r);
    }
    return true;
  };
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  auto query = hv::svc::ticketQuery(kUser);
  uint8_t reply[44];
  ok = ok && ::send(fd, query.data(), query.size(), MSG_NOSIGNAL) == ssize_t(query.size()) &&
       recvAll(reply, 44);
  std::optional<std::array<uint8_t, 20>> ticket;
  if (ok) ticket = hv::svc::openTicketBlob(std::span(reply).subspan(16), kPassword);
  if (ticket) {
    auto upload = hv::svc::uploadHead(*ticket, packet.size());
    upload.insert(upload.end(), packet.begin(), packet.end());
    ok = ::send(fd, upload.data(), upload.size(), MSG_NOSIGNAL) == ssize_t(upload.size()) &&
         recvAll(reply, 12) && reply[11] == 0;
  }
  ::close(fd);
  return ok && ticket;
}

// Client c uses ports[c % ports.size()].
void runRawClients(benchmark::State& state, const std::vector<int>& ports) {
  const int clients = int(state.range(0));
  constexpr int kPerClient = 64;
  hv::MessageHeader h(1);
  h.setServiceCode("WAP");
  // Header part, content size 200 (big-endian), 200 content bytes.
  std::vector<uint8_t> packet(152 + 4 + 200, 0x42);
  std::copy(h.bytes().begin(), h.bytes().end(), packet.begin());
  hv::storeBe32(&packet[152], 200);
  std::vector<double> latencies;
  std::mutex latencyMutex;
  std::atomic<int> failures{0};
  int64_t total = 0;
  for (auto _ : state) {
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
      threads.emplace_back([&, port = ports[size_t(c) % ports.size()]] {
        std::vector<double> mine;
        for (int i = 0; i < kPerClient; ++i) {
          auto t0 = Clock::now();
          if (!rawSend(port, packet)) ++failures;
          mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        std::lock_guard lock(latencyMutex);
        latencies.insert(latencies.end(), mine.begin(), mine.end());
      });
    for (auto& t : threads) t.join();
    total += clients * kPerClient;
  }
  state.counters["sends_per_s"] = benchmark::Counter(double(total), benchmark::Counter::kIsRate);
  reportLatencies(state, latencies, failures.load());
}

void BM_ServiceAlone(benchmark::State& state) {
  runRawClients(state, {service().send});
}
BENCHMARK(BM_ServiceAlone)->Apply(concurrency);

void BM_ServiceAlonePostgres2(benchmark::State& state) {
  auto& pg = pgServices();
  runRawClients(state, {pg.a->send, pg.b->send});
}
BENCHMARK(BM_ServiceAlonePostgres2)
    ->Arg(8)
    ->Arg(32)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
