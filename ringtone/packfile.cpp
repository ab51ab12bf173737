#include "ringtone/packfile.h"

#include "include/handvane/byteorder.h"
#include "ringtone/fileout.h"

namespace hv::tunecast {

Status writePackedFile(std::string_view path, const std::vector<ByteStream>* streams) {
  if (!streams) return Status::of<Fault::NoStreams>();
  if (streams->empty()) return Status::of<Fault::BadStreamCount>();
  if (path.empty()) return Status::of<Fault::PackNameInvalid>();
  std::vector<uint8_t> out;
  FileWriter w(out);
  w.u32(uint32_t(streams->size()));
  for (const auto& s : *streams) {
    w.u32(uint32_t(s.size()));
    w.bytes(s);
    w.u8(0);
  }
  if (!writeWholeFile(path, out.data(), out.size(), "wb")) return Status::of<Fault::PackCreate>();
  return {};
}

}  // namespace hv::tunecast
