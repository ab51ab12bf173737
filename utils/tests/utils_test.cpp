#include "utils/utils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/fs.h"
#include "platform/messages.h"
#include "platform/tests/test_dir.h"

namespace {

// ---- CFunction

TEST(Function, PathPartsAndExtensions) {
  EXPECT_EQ(CFunction::GetFilePath("/home/u/pics/logo.bmp"), "/home/u/pics/");
  EXPECT_EQ(CFunction::GetFileExtend("/home/u/pics/logo.bmp"), "bmp");
  EXPECT_EQ(CFunction::GetFileExtend("/home/u.v/noext"), "");
}

TEST(Function, HomeAndTempFoldersEndInSlash) {
  EXPECT_EQ(CFunction::GetExecutePath().back(), '/');
  std::string t = CFunction::GetTempPathA();
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(t.back(), '/');
  std::string f = CFunction::GetTempFile();
  ASSERT_EQ(f.rfind(t, 0), 0u);  // inside the private folder
  EXPECT_EQ(hv::fs::fileSize(f), 0u);
  hv::fs::removeFile(f);
}

TEST(Function, DeletePathRemovesTheTree) {
  TestDir dir;
  ASSERT_TRUE(hv::fs::makeDirectories(dir / "user/sub"));
  ASSERT_TRUE(hv::fs::writeFileAtomic(dir / "user/sub/a", "a"));
  EXPECT_TRUE(CFunction::DeletePath(dir / "user"));
  EXPECT_FALSE(hv::fs::exists(dir / "user"));
}

TEST(Function, DoMessageLoopRunsTheThreadsWaitingMessages) {
  int got = 0;
  hv::MessageWindow w([&](const hv::WindowMessage& m) { got = int(m.lparam); });
  hv::PostMessage(w.id(), 0x401, 0, 42);
  CFunction::DoMessageLoop();
  EXPECT_EQ(got, 42);
}

TEST(Function, ConnectionStringNamesTheFolder) {
  EXPECT_EQ(CFunction::GetDBFConnectionString("/suite/13800138000"),
            "Driver=HandvaneDBF;DBQ=/suite/13800138000/");
  EXPECT_EQ(CFunction::GetDBFConnectionString("/suite/DATA/"),
            "Driver=HandvaneDBF;DBQ=/suite/DATA/");
}

// ---- CArrayTable

struct CountingTable : CArrayTable {
  int removed = 0;
  bool Remove(int i) override {
    removed++;
    return CArrayTable::Remove(i);
  }
};

TEST(ArrayTable, AppendGetSetRemove) {
  CountingTable t;
  int a = 1, b = 2, c = 3;
  EXPECT_EQ(t.Append(&a), 0);
  EXPECT_EQ(t.Append(nullptr), 1);
  EXPECT_EQ(t.Append(&c), 2);
  EXPECT_EQ(t.GetCount(), 3);
  EXPECT_EQ(t.GetData(1), nullptr);
  EXPECT_EQ(t.GetData(-1), nullptr);
  EXPECT_EQ(t.GetData(3), nullptr);
  EXPECT_TRUE(t.SetData(1, &b));
  EXPECT_FALSE(t.SetData(3, &b));
  CArrayTable& base = t;
  EXPECT_TRUE(base.Remove(0));  // the override runs through the base
  EXPECT_EQ(t.removed, 1);
  EXPECT_EQ(t.GetData(0), &b);
  EXPECT_FALSE(base.Remove(5));
  base.RemoveAll();
  EXPECT_EQ(t.GetCount(), 0);
}

TEST(ArrayTable, GrowsPastItsStep) {
  CArrayTable t(4);
  static int x;
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(t.Append(&x), i);
  EXPECT_EQ(t.GetData(999), &x);
}

// ---- streams

TEST(MemoryStream, WritesGrowAndReadsStopAtTheEnd) {
  CMemoryStream s;
  ASSERT_EQ(s.OpenStream(), 0);
  EXPECT_EQ(s.PutByte(0x06), 1);
  EXPECT_EQ(s.WriteData("\x05\x04", 2), 2);
  EXPECT_EQ(s.GetSize(), 3);
  EXPECT_EQ(std::memcmp(s.GetHandle(), "\x06\x05\x04", 3), 0);

  const char block[] = {1, 2, 3};
  CMemoryStream r;
  ASSERT_EQ(r.OpenStream(block, 3), 0);
  char out[8];
  EXPECT_EQ(r.ReadData(out, 2), 2);
  EXPECT_EQ(r.GetPosition(), 2);
  EXPECT_EQ(r.ReadData(out, 8), 1);
  EXPECT_EQ(out[0], 3);
  EXPECT_LT(r.ReadData(out, 8), 1);
  EXPECT_EQ(r.OpenStream(nullptr, 5), -1);
  EXPECT_EQ(r.OpenStream(block, -1), -1);
}

TEST(FileStream, WritesAndReadsBack) {
  TestDir dir;
  CFileStream w;
  ASSERT_EQ(w.OpenStream(dir / "f.bin", "wb"), 0);
  EXPECT_EQ(w.WriteData("abc", 3), 3);
  EXPECT_EQ(w.PutByte('d'), 1);
  EXPECT_EQ(w.FlushData(), 0);
  EXPECT_EQ(w.GetSize(), 4);
  w.CloseStream();
  CFileStream r;
  ASSERT_EQ(r.OpenStream(dir / "f.bin", "rb"), 0);
  char buf[8] = {};
  EXPECT_EQ(r.ReadData(buf, 8), 4);
  EXPECT_STREQ(buf, "abcd");
  EXPECT_LT(r.ReadData(buf, 8), 1);
  EXPECT_EQ(r.WriteData("x", 1), 0);  // opened for reading
}

TEST(FileStream, RefusesBadModesAndMissingFiles) {
  TestDir dir;
  CFileStream s;
  EXPECT_EQ(s.OpenStream(dir / "missing.bin", "rb"), -1);
  EXPECT_EQ(s.OpenStream(dir / "x.bin", "a+"), -1);
  EXPECT_EQ(s.OpenStream(dir / "nofolder/x.bin", "wb"), -1);
}

TEST(FileStream, AWriteThatFailsMidwayIsReported) {
  // /dev/full accepts the open and fails every write with ENOSPC once the buffer is flushed.
  CFileStream s;
  ASSERT_EQ(s.OpenStream("/dev/full", "wb"), 0);
  std::string big(1 << 16, 'x');
  int written = s.WriteData(big.data(), int(big.size()));
  EXPECT_LT(written, int(big.size()));
  EXPECT_TRUE(s.failed());
  EXPECT_EQ(s.WriteData("y", 1), 0);
  EXPECT_EQ(s.FlushData(), -1);
}

// ---- coders

std::string encodeWith(CEMailCoder& c, std::string_view in) {
  unsigned char* out = nullptr;
  size_t n = 0;
  if (!c.encode(reinterpret_cast<const unsigned char*>(in.data()), in.size(), &out, &n))
    return "<fail>";
  std::string s(reinterpret_cast<char*>(out), n);
  CEMailCoder::free(out);
  return s;
}
std::optional<std::string> decodeWith(CEMailCoder& c, std::string_view in) {
  unsigned char* out = nullptr;
  size_t n = 0;
  if (!c.decode(reinterpret_cast<const unsigned char*>(in.data()), in.size(), &out, &n))
    return std::nullopt;
  std::string s(reinterpret_cast<char*>(out), n);
  CEMailCoder::free(out);
  return s;
}

TEST(Base64, MatchesTheRfc4648TestVectors) {
  CBase64Coder b;
  const std::pair<const char*, const char*> vectors[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg=="},
                                                         {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
  for (auto [plain, coded] : vectors) {
    EXPECT_EQ(encodeWith(b, plain), coded);
    EXPECT_EQ(decodeWith(b, coded), plain);
  }
  // Proxy credentials as they go into a header line: no line breaks however long.
  std::string longText(200, 'u');
  EXPECT_EQ(encodeWith(b, longText).find('\n'), std::string::npos);
  EXPECT_EQ(encodeWith(b, "Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

TEST(Base64, RejectsMalformedInput) {
  CBase64Coder b;
  EXPECT_FALSE(decodeWith(b, "Zm9"));   // not a multiple of four
  EXPECT_FALSE(decodeWith(b, "Zm=v"));  // data after padding
  EXPECT_FALSE(decodeWith(b, "Z==="));  // too much padding
  EXPECT_FALSE(decodeWith(b, "Zm9v!A=="));
  EXPECT_FALSE(decodeWith(b, "Zg==Zg=="));  // padding in the middle
  EXPECT_EQ(decodeWith(b, "Zm9v\r\nYmFy"), "foobar");
}

TEST(QuotedPrintable, EncodesWhatMustBeEncodedAndRoundTrips) {
  CQPCoder q;
  EXPECT_EQ(encodeWith(q, "a=b"), "a=3Db");
  EXPECT_EQ(encodeWith(q, "\xD6\xD0"), "=D6=D0");
  EXPECT_EQ(encodeWith(q, "end "), "end=20");  // a blank at the end of a line is encoded
  EXPECT_EQ(encodeWith(q, "a b\r\nc"), "a b\r\nc");
  std::string longLine(200, 'x');
  std::string enc = encodeWith(q, longLine);
  size_t start = 0;
  while (true) {
    size_t br = enc.find("\r\n", start);
    EXPECT_LE((br == std::string::npos ? enc.size() : br) - start, 76u);
    if (br == std::string::npos) break;
    start = br + 2;
  }
  EXPECT_EQ(decodeWith(q, enc), longLine);
  EXPECT_FALSE(decodeWith(q, "bad=G1"));
  EXPECT_FALSE(decodeWith(q, "cut="));
}

// ---- CHeader

TEST(Header, ParsesReceivedLinesAndCompoundsThemBack) {
  CHeader h;
  EXPECT_EQ(h.ParseAndAdd("Content-Type: text/html\r\nContent-Length:  12 \r\n\r\n", "\r\n"), 2);
  EXPECT_EQ(h.Get("content-length"), "12");
  EXPECT_TRUE(h.Has("CONTENT-TYPE"));
  h.Add("Proxy-Authorization", "Basic dTpw");
  EXPECT_EQ(h.Compound("\r\n"),
            "Content-Type: text/html\r\nContent-Length: 12\r\nProxy-Authorization: Basic dTpw\r\n");
  EXPECT_EQ(h.Get("missing"), "");
}

}  // namespace
