// The SWF header and the zlib layer of CWS files.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "flash/reader/movie.h"
#include "flash/reader/stream.h"

namespace flash::swf {
namespace {

// The largest header: 8 fixed bytes, a RECT of 5 + 4 * 31 bits, frame rate and count.
constexpr std::size_t kMaxHeader = 8 + 17 + 4;

[[noreturn]] void fail(Error error, std::uint64_t offset = 0) {
  throw ReadError(Failure{error, -1, offset});
}

void checkSignature(const std::uint8_t* data, std::size_t size) {
  if (size < 8) fail(Error::TooShort);
  bool fws = data[0] == 'F', cws = data[0] == 'C';
  if (!(fws || cws) || data[1] != 'W' || data[2] != 'S') fail(Error::BadSignature);
}

std::uint32_t statedLength(const std::uint8_t* data) {
  return std::uint32_t(data[4]) | std::uint32_t(data[5]) << 8 | std::uint32_t(data[6]) << 16 |
         std::uint32_t(data[7]) << 24;
}

// Inflates the body of a CWS file after its 8 plain bytes into out, until the stream ends or out
// holds `target` bytes. Returns false when the stream is corrupt or ends early.
bool inflateBody(const std::uint8_t* data, std::size_t size, std::size_t target,
                 std::vector<std::uint8_t>& out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(data + 8);
  z.avail_in = static_cast<uInt>(std::min<std::size_t>(size - 8, 0x7fffffff));
  int rc = Z_OK;
  while (out.size() < target) {
    std::size_t have = out.size();
    std::size_t chunk = std::min<std::size_t>(target - have, 1u << 20);
    out.resize(have + chunk);
    z.next_out = out.data() + have;
    z.avail_out = static_cast<uInt>(chunk);
    rc = inflate(&z, Z_NO_FLUSH);
    out.resize(have + (chunk - z.avail_out));
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK) break;  // Z_BUF_ERROR here means the input ran out
  }
  inflateEnd(&z);
  return rc == Z_STREAM_END || (rc == Z_OK && out.size() >= target);
}

}  // namespace

std::vector<std::uint8_t> uncompress(const std::uint8_t* data, std::size_t size, std::size_t limit,
                                     Failure* damage) {
  checkSignature(data, size);
  if (data[0] == 'F') {
    if (size > limit) fail(Error::TooLarge);
    return std::vector<std::uint8_t>(data, data + size);
  }
  std::size_t stated = statedLength(data);
  if (stated > limit) fail(Error::TooLarge);
  std::vector<std::uint8_t> out(data, data + 8);
  out.reserve(std::min<std::size_t>(stated, 16u << 20));
  bool clean = inflateBody(data, size, std::max<std::size_t>(stated, 8), out);
  if (out.size() < kMaxHeader && !clean) fail(Error::BadCompression, out.size());
  if (!clean && damage && damage->ok()) *damage = Failure{Error::BadCompression, -1, out.size()};
  return out;
}

Header parseHeader(const std::uint8_t* data, std::size_t size, std::size_t* headerLength) {
  checkSignature(data, size);
  Header h;
  std::memcpy(h.signature, data, 3);
  h.version = data[3];
  h.fileLength = statedLength(data);
  Reader r(data, size);
  r.skip(8);
  try {
    int bits = int(r.ubits(5));
    h.frame.xMin = r.sbits(bits);
    h.frame.xMax = r.sbits(bits);
    h.frame.yMin = r.sbits(bits);
    h.frame.yMax = r.sbits(bits);
    h.frameRate = r.u16();
    h.frameCount = r.u16();
  } catch (const ReadError&) {
    fail(Error::TooShort, size);
  }
  if (headerLength) *headerLength = std::size_t(r.offset());
  return h;
}

}  // namespace flash::swf

namespace flash {

Failure readHeader(const std::uint8_t* data, std::size_t size, Header& header) {
  try {
    if (!data) return Failure{Error::TooShort, -1, 0};
    swf::checkSignature(data, size);
    std::vector<std::uint8_t> plain;
    if (data[0] == 'C') {
      plain.assign(data, data + 8);
      swf::inflateBody(data, size, swf::kMaxHeader, plain);
      if (plain.size() < swf::kMaxHeader && plain.size() < 8 + 2)
        return Failure{Error::BadCompression, -1, plain.size()};
    } else {
      plain.assign(data, data + std::min(size, swf::kMaxHeader));
    }
    header = swf::parseHeader(plain.data(), plain.size(), nullptr);
    return {};
  } catch (const swf::ReadError& e) {
    return e.failure();
  }
}

Failure readHeader(const std::string& path, Header& header) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Failure{Error::CannotOpen};
  // A compressed header needs the first few hundred bytes of its zlib stream at most.
  std::vector<std::uint8_t> bytes(4096);
  in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
  if (in.bad()) return Failure{Error::CannotOpen};
  bytes.resize(std::size_t(in.gcount()));
  return readHeader(bytes.data(), bytes.size(), header);
}

}  // namespace flash
