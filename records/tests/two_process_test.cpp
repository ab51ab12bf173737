// Two processes on one record file: a locked slot makes a call fail at once (never wait), an add
// skips it, and concurrent writers leave every record intact.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "platform/kernel.h"
#include "records/tests/test_file.h"
#include "records/vaultrec.h"

namespace {

using hv::records::testing::patterned;
using hv::records::testing::TempFolder;
using Clock = std::chrono::steady_clock;

// A byte from the pipe within the time-out, or -1.
int readByte(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) != 1) return -1;
  unsigned char c = 0;
  return ::read(fd, &c, 1) == 1 ? c : -1;
}

// Waits for the child at most timeoutMs; kills it when it is late. Its exit code, or -1.
int reap(pid_t pid, int timeoutMs) {
  auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < end) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

constexpr int kPlain = 16;
constexpr off_t kSlot = kPlain + 4 + 1;  // S + 1

TEST(VaultrecTwoProcesses, LockedSlotFailsAtOnceAndAnAddSkipsIt) {
  TempFolder dir;
  std::string path = dir.file("shared.dat");
  ASSERT_EQ(CRYPT_Create(path.c_str(), kPlain), 1);
  CryptFile* h = CRYPT_Open(path.c_str());
  ASSERT_NE(h, nullptr);
  auto rec = patterned(kPlain, 1);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(CRYPT_AddRecord(h, rec.data()), i);
  ASSERT_EQ(CRYPT_DelRecord(h, 0), 1);
  ASSERT_EQ(CRYPT_DelRecord(h, 1), 1);

  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Holds the header and slot 0 locked until told to let go (at most 20 s).
    int fd = ::open(path.c_str(), O_RDWR);
    bool locked = fd >= 0 && hv::tryLockRange(fd, 0, 256) && hv::tryLockRange(fd, 256, kSlot);
    unsigned char c = locked ? 'L' : 'F';
    if (::write(ready[1], &c, 1) != 1) _exit(2);
    readByte(release[0], 20000);
    _exit(locked ? 0 : 1);
  }
  ASSERT_EQ(readByte(ready[0], 10000), 'L');

  auto start = Clock::now();
  std::vector<uint8_t> out(kPlain, 0x77);
  EXPECT_EQ(CRYPT_ReadRecord(h, 0, out.data()), 0);
  EXPECT_EQ(CRYPT_ModifyRecord(h, 0, rec.data()), 0);
  EXPECT_EQ(CRYPT_DelRecord(h, 0), 0);
  EXPECT_EQ(CRYPT_Open(path.c_str()), nullptr) << "header is locked";
  auto other = patterned(kPlain, 2);
  EXPECT_EQ(CRYPT_AddRecord(h, other.data()), 1) << "slot 0 is locked: the next deleted slot";
  EXPECT_EQ(CRYPT_AddRecord(h, other.data()), 3) << "slot 0 still locked: appended";
  // A call that waited for the lock would have waited until the child lets go, which it does
  // only after these calls (or after 20 s).
  auto elapsed = Clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(15)) << "a lock was waited for";
  EXPECT_EQ(out, std::vector<uint8_t>(kPlain, 0x77));

  unsigned char go = 'G';
  ASSERT_EQ(::write(release[1], &go, 1), 1);
  EXPECT_EQ(reap(child, 10000), 0);
  EXPECT_EQ(CRYPT_AddRecord(h, other.data()), 0) << "slot 0 free again and deleted";
  EXPECT_EQ(CRYPT_ReadRecord(h, 1, out.data()), 1);
  EXPECT_EQ(out, other);
  CRYPT_Close(h);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
}

constexpr int kTagged = 24;
std::vector<uint8_t> tagged(int writer, int seq) {
  auto r = patterned(kTagged, uint8_t(writer * 64 + seq));
  r[0] = uint8_t(writer);
  r[1] = uint8_t(seq);
  return r;
}

// Calls attempt until it succeeds, pausing briefly after each failure; false when 30 s pass
// first. The other writer may hold a lock for as long as the scheduler leaves it off the processor,
// so a count of tries would be no bound.
template <class Attempt>
bool retrying(Attempt attempt) {
  const auto end = Clock::now() + std::chrono::seconds(30);
  while (!attempt()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// Adds 40 records, deletes every fourth of its own, then adds 10 more; retries an open, add or
// delete that met a lock held by the other writer. 0 when all went through.
int writerProcess(const std::string& path, int writer) {
  CryptFile* h = nullptr;
  if (!retrying([&] { return (h = CRYPT_Open(path.c_str())) != nullptr; })) return 3;
  auto addRetrying = [&](int seq) {
    auto r = tagged(writer, seq);
    int at = -1;
    retrying([&] { return (at = CRYPT_AddRecord(h, r.data())) >= 0; });
    return at;
  };
  std::vector<int> slots;
  for (int seq = 0; seq < 40; ++seq) {
    int at = addRetrying(seq);
    if (at < 0) return 4;
    slots.push_back(at);
  }
  for (int seq = 0; seq < 40; seq += 4) {
    if (!retrying([&] { return CRYPT_DelRecord(h, slots[seq]) == 1; })) return 5;
  }
  for (int seq = 40; seq < 50; ++seq)
    if (addRetrying(seq) < 0) return 6;
  CRYPT_Close(h);
  return 0;
}

TEST(VaultrecTwoProcesses, ConcurrentWritersLeaveEveryRecordIntact) {
  TempFolder dir;
  std::string path = dir.file("busy.dat");
  ASSERT_EQ(CRYPT_Create(path.c_str(), kTagged), 1);
  // Both writers start together: they wait until the parent closes the pipe.
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = fork();
    ASSERT_GE(writers[w], 0);
    if (writers[w] == 0) {
      ::close(start[1]);
      readByte(start[0], 10000);
      _exit(writerProcess(path, w + 1));
    }
  }
  ::close(start[0]);
  ::close(start[1]);
  for (pid_t pid : writers) EXPECT_EQ(reap(pid, 90000), 0);

  std::set<std::vector<uint8_t>> expected;
  for (int w = 1; w <= 2; ++w)
    for (int seq = 0; seq < 50; ++seq)
      if (seq >= 40 || seq % 4 != 0) expected.insert(tagged(w, seq));

  CryptFile* h = CRYPT_Open(path.c_str());
  ASSERT_NE(h, nullptr);
  int slots = CRYPT_GetRecordCount(h);
  EXPECT_GE(slots, 80);
  EXPECT_LE(slots, 100);
  std::set<std::vector<uint8_t>> found;
  int inUse = 0;
  for (int i = 0; i < slots; ++i) {
    std::vector<uint8_t> out(kTagged);
    if (CRYPT_ReadRecord(h, i, out.data()) != 1) continue;
    ++inUse;
    EXPECT_TRUE(expected.count(out)) << "slot " << i << " holds a record nobody wrote";
    found.insert(out);
  }
  EXPECT_EQ(inUse, 80);
  EXPECT_EQ(found, expected);
  auto size = hv::fs::fileSize(path);
  ASSERT_TRUE(size);
  EXPECT_EQ((*size - 256) % (kTagged + 4 + 1), 0u) << "a partial slot";
  CRYPT_Close(h);
}

}  // namespace
