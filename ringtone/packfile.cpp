#include "ringtone/packfile.h"

#include <cstdio>
#include <memory>

#include "include/handvane/byteorder.h"
#include "platform/fs.h"

namespace hv::tunecast {

Status writePackedFile(std::string_view path, const std::vector<ByteStream>* streams) {
  if (!streams) return Status::of(Fault::NoStreams);
  if (streams->empty()) return Status::of(Fault::BadStreamCount);
  if (path.empty()) return Status::of(Fault::PackNameInvalid);
  std::vector<uint8_t> out;
  FileWriter w(out);
  w.u32(uint32_t(streams->size()));
  for (const auto& s : *streams) {
    w.u32(uint32_t(s.size()));
    w.bytes(s);
    w.u8(0);
  }
  std::unique_ptr<FILE, int (*)(FILE*)> f(fs::fopen(path, "wb"), fclose);
  if (!f) return Status::of(Fault::PackCreate);
  bool written = std::fwrite(out.data(), 1, out.size(), f.get()) == out.size();
  if (std::fclose(f.release()) != 0 || !written) return Status::of(Fault::PackCreate);
  return {};
}

}  // namespace hv::tunecast
