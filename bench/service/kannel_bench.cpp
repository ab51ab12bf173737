// End to end through an SMS gateway: text messages sent with NET_SendMessageContent (the suite's
// client) to handvane-service, which hands each one's short message to Kannel (smsbox sendsms,
// bearerbox, the fake SMSC). Messages a second from the first send until the fake SMSC has
// received the last one; also how fast the service accepted them. The peers run in a private
// network namespace with only lo (the fake SMSC listens on every address), started here and
// stopped by process id; needs root and the packages kannel and kannel-extras.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "platform/fs.h"
#include "platform/kernel.h"
#include "platform/messages.h"
#include "service/svclink.h"
#include "tests/service-e2e/kannel.h"
#include "tests/service-e2e/peers.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr char kUser[] = "13800138000";
constexpr char kPassword[] = "s3cret";
constexpr char kPhone[] = "13900000000";
using hv::e2e::Kannel;
using hv::e2e::PrivateNetwork;

PrivateNetwork* network = nullptr;

hv::MessageHeader textHeader() {
  hv::MessageHeader h(1);
  h.setServiceCode("SMS");
  h.setContentClass("TEXTG");
  h.setRecipient(0, kPhone);
  h.setSender(kUser);
  h.setModel("Nokia 3310");
  h.setContentKind("sms_text");
  h.setContentType("TXT");
  return h;
}

// `range(0)` messages with `range(1)` sends in flight, each a text of one short message; with
// delivery reports asked for (the gateway's default types) when `range(2)` is 1, none when 0.
void BM_ThroughKannel(benchmark::State& state) {
  if (!network || !network->entered()) {
    state.SkipWithError("needs root, iproute2, kannel and kannel-extras (fakesmsc)");
    return;
  }
  const int total = int(state.range(0));
  const int inFlight = int(state.range(1));
  const bool reports = state.range(2) != 0;
  const std::string dir = *hv::fs::createTempDirectory();
  for (auto _ : state) {
    auto kannel = std::make_unique<Kannel>(dir, 2, false);  // warnings only
    if (!kannel->ready()) {
      state.SkipWithError("Kannel did not start");
      break;
    }
    hv::e2e::LocalService service(
        "MaxConnections=512\r\nMaxConnectionsPerPeer=512\r\n[gateway]\r\n"
        "SendSmsUrl=http://127.0.0.1:13013/cgi-bin/sendsms\r\nUsername=tester\r\n"
        "Password=testpw\r\nRetryFirstMs=100\r\nRetryMaxMs=500\r\nDlrMask=" +
        std::string(reports ? "31" : "0") + "\r\n");
    if (service.command({"add-account", kUser, kPassword}) != 0 || !service.start()) {
      state.SkipWithError("handvane-service did not start");
      break;
    }
    NET_UserLogout();
    if (NET_Initialize("", 0, "", "", 0) != 0 ||
        NET_RegionRecognize(kUser, "127.0.0.1", service.region) != 0 ||
        NET_UserAuthentication(kUser, kPassword) != 0) {
      state.SkipWithError("sign-in failed");
      break;
    }
    const auto h = textHeader();
    int completed = 0, failures = 0, launched = 0;
    hv::MessageWindow window([&](const hv::WindowMessage& m) {
      if (m.lparam != 0) ++failures;
      ++completed;
    });
    auto startOne = [&] {
      auto batch = hv::encodeTextBatch({"Bench message " + std::to_string(++launched)});
      hv::SendNotice notice{window.id(), hv::kSendCompleteMessage, 0, uint32_t(launched)};
      if (NET_SendMessageContent(&notice, h.data(), batch.data(), int(batch.size())) != 0) {
        ++failures;
        ++completed;
      }
    };
    const auto t0 = Clock::now();
    while (launched < std::min(inFlight, total)) startOne();
    while (completed < total) {
      int before = completed;
      hv::pumpMessagesFor(std::chrono::milliseconds(1));
      for (int done = completed - before; done > 0 && launched < total; --done) startOne();
    }
    const double acceptedIn = std::chrono::duration<double>(Clock::now() - t0).count();
    // Every accepted message reaches the fake SMSC; bounded in case one does not.
    const int expected = total - failures;
    const auto limit = Clock::now() + std::chrono::seconds(120);
    int received = 0;
    while ((received = kannel->received()) < expected && Clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double deliveredIn = std::chrono::duration<double>(Clock::now() - t0).count();
    state.SetIterationTime(deliveredIn);
    state.counters["messages_per_s"] = double(received) / deliveredIn;
    state.counters["accepted_per_s"] = double(completed - failures) / acceptedIn;
    state.counters["failures"] = failures;
    state.counters["lost"] = expected - received;
    NET_UserLogout();
    service.stop();
  }
  hv::fs::removeAll(dir);
}
BENCHMARK(BM_ThroughKannel)
    ->Args({1000, 8, 1})
    ->Args({1000, 32, 1})
    ->Args({1000, 32, 0})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // Before any thread starts, so that every thread and program is in the namespace.
  PrivateNetwork net("hv-kbench-");
  network = &net;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
