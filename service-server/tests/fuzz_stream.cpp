// The delivery service's request framing under arbitrary byte streams. The real service runs
// in-process on loopback (an SQLite store in a temporary folder, one account), and every input
// is written to one of its ports in chunks that the input chooses, so that heads split over
// reads, requests joined in one read, bad lengths and refused requests whose data keeps coming
// all go through the event loop. Once the stream is half-closed the service must close the
// connection within its own deadlines, having sent whole, well-formed replies, and must still
// answer a region query afterwards. Anything else aborts.
//
// An input is: byte 0 the port (low two bits: 0 region, 1 authentication, 2 send, 3 send after
// a ticket query the fuzzer makes itself, whose ticket goes in after the stream's first 8
// bytes); byte 1's low four bits the count of chunk-size bytes that follow (each one's low seven
// bits + 1 is a chunk's size, taken in turn; its top bit pauses before the next chunk so that
// the service reads that chunk on its own); then the stream.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/crypto.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "include/handvane/byteorder.h"
#include "platform/fs.h"
#include "service-server/server.h"
#include "service-server/store.h"
#include "service/protocol/protocol.h"

namespace {

using namespace hv::service;
using namespace std::chrono;
using Bytes = std::vector<uint8_t>;
namespace svc = hv::svc;

constexpr char kUser[] = "13800138000";
constexpr char kPassword[] = "s3cret";
// The service's deadlines. No input should ever meet them: the stream is half-closed once it is
// written, so the service sees the end of every request at once. They are long enough that a
// loaded machine (the corpus replays under the sanitizers, beside other tests) never meets them
// either; only a fault makes an input wait for them.
constexpr int kConnectionTimeoutMs = 4000;
constexpr int kFirstBytesTimeoutMs = 2000;
constexpr uint32_t kMaxPacketBytes = 4096;
// A connection ends within its deadline, plus the half-second a refused one may be drained,
// plus room for a loaded machine.
constexpr int kClosedWithinMs = kConnectionTimeoutMs + 500 + 3000;
constexpr size_t kMaxReplyBytes = 1 << 16;
constexpr int kMaxPauses = 32;

[[noreturn]] void finding(const char* what) {
  std::fprintf(stderr, "fuzz_svc_stream: %s\n", what);
  std::abort();
}

struct Service {
  Service() {
    // The service's threads keep OpenSSL state of their own (random generators for tickets),
    // which they free as they end, and cannot once OpenSSL has cleaned up. Its own clean-up at
    // exit would come before this object's, so it is left to the destructor, after the stop.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
    auto made = hv::fs::createTempDirectory({}, "svcstream");
    if (!made) finding("cannot make the data folder");
    dir = *made;
    std::string error;
    store = Store::open(dir + "/service.db", error);
    if (!store || !store->addAccount(kUser, kPassword)) finding("cannot open the store");
    ServiceConfig config;
    config.regionPort = config.authPort = config.sendPort = 0;
    config.dataFolder = dir;
    config.connectionTimeoutMs = kConnectionTimeoutMs;
    config.firstBytesTimeoutMs = kFirstBytesTimeoutMs;
    config.maxPacketBytes = kMaxPacketBytes;
    service = std::make_unique<DeliveryService>(config, *store);
    if (!service->start(error)) finding("the service does not start");
  }
  ~Service() {
    service.reset();
    store.reset();
    hv::fs::removeAll(dir);
    OPENSSL_cleanup();
  }
  std::string dir;
  std::unique_ptr<Store> store;
  std::unique_ptr<DeliveryService> service;
  int64_t nextMessageId = 1;  // the store's ids count up from 1 without gaps
};

Service& theService() {
  static Service s;
  return s;
}

int connectTo(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) finding("no socket");
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  // A service that stops reading must not hold the writer up for long.
  timeval tv{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    finding("the service does not accept a connection");
  return fd;
}

// Writes all of it; false once the service has closed (or stopped reading for seconds).
bool writeAll(int fd, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    ssize_t r = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    bytes = bytes.subspan(size_t(r));
  }
  return true;
}

// Reads until the service closes (a reset counts: it follows a reply sent before unread input),
// or until `want` bytes when given. Aborts when neither happens in time.
Bytes readUntilClosed(int fd, std::optional<size_t> want = std::nullopt) {
  Bytes got;
  const auto until = steady_clock::now() + milliseconds(kClosedWithinMs);
  for (;;) {
    if (want && got.size() >= *want) return got;
    auto left = duration_cast<milliseconds>(until - steady_clock::now()).count();
    if (left <= 0) finding("the service kept the connection open past its deadlines");
    pollfd p{fd, POLLIN, 0};
    int n = ::poll(&p, 1, int(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) continue;
    uint8_t buf[4096];
    size_t room = want ? std::min(sizeof buf, *want - got.size()) : sizeof buf;
    ssize_t r = ::recv(fd, buf, room, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return got;
    got.insert(got.end(), buf, buf + r);
    if (got.size() > kMaxReplyBytes) finding("the service sent far more than any reply");
  }
}

// A ticket query on an open send connection and its ticket.
std::array<uint8_t, svc::kTicketWidth> takeTicket(int fd) {
  if (!writeAll(fd, svc::ticketQuery(kUser))) finding("a ticket query could not be sent");
  Bytes reply = readUntilClosed(fd, 44);
  if (reply.size() != 44 || hv::loadBe32(&reply[4]) != svc::replyCommand(svc::kTicketQuery) ||
      hv::loadBe32(&reply[8]) != 0)
    finding("a well-formed ticket query was not answered with a ticket");
  auto ticket = svc::openTicketBlob(std::span(reply).subspan(16), kPassword);
  if (!ticket) finding("the ticket reply does not open with the account's password");
  return *ticket;
}

// The replies on one connection, checked against what every reply of the service looks like.
struct Reply {
  uint32_t command;
  int32_t status;
};

std::vector<Reply> splitReplies(const Bytes& in) {
  std::vector<Reply> out;
  size_t at = 0;
  while (at < in.size()) {
    if (in.size() - at < 12) finding("a reply was cut short");
    const uint32_t length = hv::loadBe32(&in[at]);
    Reply r{hv::loadBe32(&in[at + 4]), int32_t(hv::loadBe32(&in[at + 8]))};
    if ((r.command & svc::kReplyBit) == 0) finding("a reply's command lacks the reply bit");
    // Only a region or ticket reply that succeeded carries more than its status.
    uint32_t expected = 12;
    if (r.status == 0 && r.command == svc::replyCommand(svc::kRegionQuery)) expected = 92;
    if (r.status == 0 && r.command == svc::replyCommand(svc::kTicketQuery)) expected = 44;
    if (length != expected) finding("a reply's length is not that of its kind");
    if (in.size() - at < length) finding("a reply was cut short");
    at += length;
    out.push_back(r);
  }
  return out;
}

// `role` is the port's (0 region, 1 authentication, 2 send); `maxReplies` is 2 on a send
// connection whose ticket query is the stream's, else 1.
void checkReplies(const std::vector<Reply>& replies, const Bytes& stream, int role,
                  size_t maxReplies) {
  for (const Reply& r : replies)
    if (Status(r.status) == Status::TimedOut)
      finding("the service missed the end of the stream and waited for its deadline");
  if (stream.size() < 8 && !replies.empty()) finding("a reply to less than a request's head");
  for (size_t i = 0; i < replies.size(); ++i) {
    const Reply& r = replies[i];
    const auto s = Status(r.status);
    if (s == Status::Busy || s == Status::ShuttingDown || s == Status::StoreFailed ||
        r.status < 0 || r.status > int32_t(Status::ShuttingDown))
      finding("a status no request of this stream can earn");
    // A connection goes on only after a ticket; every other reply is its last.
    const bool goesOn = s == Status::Ok && r.command == svc::replyCommand(svc::kTicketQuery);
    if (!goesOn && i + 1 != replies.size()) finding("a reply after a connection's last reply");
  }
  if (replies.size() > maxReplies) finding("more replies than the connection allows");
  if (replies.empty()) return;
  // The first reply answers the first request's command, whatever it was.
  const uint32_t command = hv::loadBe32(&stream[4]);
  if (replies[0].command != svc::replyCommand(command))
    finding("the first reply does not answer the first request's command");
  const bool served = role == 0   ? command == svc::kRegionQuery
                      : role == 1 ? command == svc::kAuthenticate
                                  : command == svc::kTicketQuery || command == svc::kMessageUpload;
  if (!served && Status(replies[0].status) != Status::BadRequest)
    finding("a command of another port was not refused as a bad request");
}

// An upload the service accepted is in the store with exactly the packet that was sent; one it
// did not accept is not.
void checkStored(Service& s, const std::vector<Reply>& replies, const Bytes& stream) {
  const bool accepted = std::any_of(replies.begin(), replies.end(), [](const Reply& r) {
    return r.command == svc::replyCommand(svc::kMessageUpload) && r.status == 0;
  });
  auto row = s.store->messages(s.nextMessageId);
  if (!accepted) {
    if (!row.empty()) finding("a message was stored without its upload being accepted");
    return;
  }
  // Only an upload with the fuzzer's own ticket can pass, which is the stream's first request.
  if (row.size() != 1 || row.front().user != kUser) finding("an accepted upload is not stored");
  const uint32_t length = hv::loadBe32(&stream[0]);
  if (length < 28 || length > stream.size() ||
      !std::equal(row.front().packet.begin(), row.front().packet.end(), stream.begin() + 28,
                  stream.begin() + length))
    finding("the stored packet differs from the upload's");
  ++s.nextMessageId;
}

// The service still serves a well-formed request, and nothing of the input holds a place under
// its connection caps.
void checkStillServing(Service& s) {
  int fd = connectTo(s.service->regionPort());
  if (!writeAll(fd, svc::regionQuery(kUser))) finding("a region query could not be sent");
  ::shutdown(fd, SHUT_WR);
  Bytes reply = readUntilClosed(fd);
  ::close(fd);
  if (reply.size() != 92 || hv::loadBe32(&reply[4]) != svc::replyCommand(svc::kRegionQuery) ||
      hv::loadBe32(&reply[8]) != 0)
    finding("the service no longer answers a region query");
  auto info = svc::parseRegionInfo(reply);
  if (info.auth.port != s.service->authPort() || info.send.port != s.service->sendPort())
    finding("the region reply names the wrong ports");
  for (int i = 0; i < 1000 && s.service->activeConnections() != 0; ++i)
    std::this_thread::sleep_for(milliseconds(5));
  if (s.service->activeConnections() != 0) finding("a closed connection still holds its place");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Service& s = theService();
  std::span<const uint8_t> in(data, size);
  const int mode = in.empty() ? 0 : in[0] & 3;
  in = in.subspan(std::min<size_t>(1, in.size()));
  const size_t chunkCount = in.empty() ? 0 : std::min<size_t>(in[0] & 15, in.size() - 1);
  std::span<const uint8_t> chunks = in.subspan(std::min<size_t>(1, in.size()), chunkCount);
  in = in.subspan(std::min<size_t>(1 + chunkCount, in.size()));

  const int role = std::min(mode, 2);
  const int ports[3] = {s.service->regionPort(), s.service->authPort(), s.service->sendPort()};
  int fd = connectTo(ports[role]);
  Bytes stream(in.begin(), in.end());
  if (mode == 3 && stream.size() >= 8) {
    auto ticket = takeTicket(fd);
    stream.insert(stream.begin() + 8, ticket.begin(), ticket.end());
  }

  size_t at = 0, next = 0;
  int pauses = 0;
  while (at < stream.size()) {
    size_t n = stream.size() - at;
    bool pause = false;
    if (!chunks.empty()) {
      const uint8_t c = chunks[next++ % chunks.size()];
      n = std::min<size_t>(n, (c & 0x7F) + 1u);
      pause = (c & 0x80) != 0 && pauses < kMaxPauses;
    }
    if (!writeAll(fd, std::span(stream).subspan(at, n))) break;
    at += n;
    if (pause) {
      ++pauses;
      std::this_thread::sleep_for(microseconds(200));
    }
  }
  ::shutdown(fd, SHUT_WR);
  Bytes got = readUntilClosed(fd);
  ::close(fd);

  auto replies = splitReplies(got);
  checkReplies(replies, stream, role, mode == 2 ? 2 : 1);
  checkStored(s, replies, stream);
  checkStillServing(s);
  return 0;
}
