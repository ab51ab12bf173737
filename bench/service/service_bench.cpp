// End to end: N sends kept in flight through NET_SendMessageContent against handvane-service on
// loopback; completed sends per second and the latency distribution from the call to the posted
// result. Service alone: N raw clients doing ticket query and upload with prepared bytes, against
// one service on SQLite, and against two send servers sharing a PostgreSQL database (a server
// of the benchmark's own), the clients split evenly over them. Against SQLite also as N
// connections kept in flight by one thread (epoll), which leaves more of the two cores to the
// service than N threads with blocking sockets.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

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

// The prepared upload packet: a header part, content size 200 (big-endian), 200 content bytes.
std::vector<uint8_t> smallPacket() {
  hv::MessageHeader h(1);
  h.setServiceCode("WAP");
  std::vector<uint8_t> packet(152 + 4 + 200, 0x42);
  std::copy(h.bytes().begin(), h.bytes().end(), packet.begin());
  hv::storeBe32(&packet[152], 200);
  return packet;
}

// One exchange of the event-driven client: connect, ticket query, upload, reply.
struct Exchange {
  enum class Step { Connecting, Ticket, Reply } step = Step::Connecting;
  int fd = -1;
  Clock::time_point started;
  uint8_t in[44];
  size_t have = 0;
};

// N exchanges in flight from one thread until `total` have finished; false on a setup failure.
bool runExchanges(int port, int inFlight, int total, const std::vector<uint8_t>& packet,
                  std::vector<double>& latencies, int& failures) {
  int ep = ::epoll_create1(EPOLL_CLOEXEC);
  if (ep < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const auto query = hv::svc::ticketQuery(kUser);
  std::vector<Exchange> slots(static_cast<size_t>(inFlight));
  int begun = 0, finished = 0;
  auto begin = [&](size_t i) {
    Exchange& x = slots[i];
    x = Exchange{};
    x.started = Clock::now();
    x.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int r = ::connect(x.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLET;
    ev.data.u64 = i;
    if ((r != 0 && errno != EINPROGRESS) || ::epoll_ctl(ep, EPOLL_CTL_ADD, x.fd, &ev) != 0) {
      ::close(x.fd);
      x.fd = -1;
      ++failures;
      ++finished;
      return;
    }
    ++begun;
  };
  auto end = [&](size_t i, bool ok) {
    Exchange& x = slots[i];
    ::close(x.fd);
    x.fd = -1;
    if (!ok) ++failures;
    latencies.push_back(
        std::chrono::duration<double, std::milli>(Clock::now() - x.started).count());
    ++finished;
    if (begun < total) begin(i);
  };
  for (size_t i = 0; i < slots.size() && begun < total; ++i) begin(i);
  epoll_event events[64];
  while (finished < total) {
    int n = ::epoll_wait(ep, events, 64, 10000);
    if (n <= 0) break;  // nothing in 10 s: the service is gone
    for (int k = 0; k < n; ++k) {
      size_t i = size_t(events[k].data.u64);
      Exchange& x = slots[i];
      if (x.fd < 0) continue;
      if (x.step == Exchange::Step::Connecting) {
        if (!(events[k].events & (EPOLLOUT | EPOLLERR | EPOLLHUP))) continue;
        bool sent = ::send(x.fd, query.data(), query.size(), MSG_NOSIGNAL) == ssize_t(query.size());
        if (!sent) {
          end(i, false);
          continue;
        }
        x.step = Exchange::Step::Ticket;
      }
      if (!(events[k].events & (EPOLLIN | EPOLLERR | EPOLLHUP))) continue;
      const size_t want = x.step == Exchange::Step::Ticket ? 44 : 12;
      ssize_t r = ::recv(x.fd, x.in + x.have, want - x.have, 0);
      if (r < 0 && errno == EAGAIN) continue;
      if (r <= 0) {
        end(i, false);
        continue;
      }
      x.have += size_t(r);
      if (x.have < want) continue;
      if (x.step == Exchange::Step::Reply) {
        end(i, x.in[11] == 0);
        continue;
      }
      auto ticket = hv::svc::openTicketBlob(std::span(x.in).subspan(16), kPassword);
      if (!ticket) {
        end(i, false);
        continue;
      }
      auto upload = hv::svc::uploadHead(*ticket, packet.size());
      upload.insert(upload.end(), packet.begin(), packet.end());
      if (::send(x.fd, upload.data(), upload.size(), MSG_NOSIGNAL) != ssize_t(upload.size())) {
        end(i, false);
        continue;
      }
      x.step = Exchange::Step::Reply;
      x.have = 0;
    }
  }
  for (auto& x : slots)
    if (x.fd >= 0) ::close(x.fd), ++failures;
  ::close(ep);
  return finished == total;
}

void BM_ServiceAloneOneThreadClient(benchmark::State& state) {
  const int inFlight = int(state.range(0));
  constexpr int kPerIteration = 1024;
  const auto packet = smallPacket();
  const int port = service().send;
  std::vector<double> latencies;
  int failures = 0;
  int64_t total = 0;
  for (auto _ : state) {
    if (!runExchanges(port, inFlight, kPerIteration, packet, latencies, failures)) {
      state.SkipWithError("the service stopped answering");
      return;
    }
    total += kPerIteration;
  }
  state.counters["sends_per_s"] = benchmark::Counter(double(total), benchmark::Counter::kIsRate);
  reportLatencies(state, latencies, failures);
}
BENCHMARK(BM_ServiceAloneOneThreadClient)->Apply(concurrency);

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
