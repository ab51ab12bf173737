#include "encoder/logopack.h"

#include "encoder/entry.h"
#include "encoder/formats.h"
#include "encoder/outputfile.h"
#include "platform/kernel.h"

namespace hv::logopack {

int processPicture(char* path, const char* format, int width, int height,
                   const unsigned char* pixels, TickSource ticks) {
  auto file = OutputFile::create(path, ticks());
  if (!file) return resultCode(EncodeError::CannotCreate);
  // A negative size suits no format, just as a zero one.
  const Picture picture(pixels, size_t(width < 0 ? 0 : width), size_t(height < 0 ? 0 : height));
  auto encoded = encode(format ? format : "", picture, processReferences());
  if (auto* error = std::get_if<EncodeError>(&encoded)) return resultCode(*error);
  if (!file->write(packMessages(std::get<std::vector<Record>>(encoded))))
    return resultCode(EncodeError::CannotWrite);
  return 0;
}

}  // namespace hv::logopack

HV_EXTERN_C int DoProcess(char* path, const char* format, int width, int height,
                          const unsigned char* pixels) {
  return hv::logopack::processPicture(path, format, width, height, pixels, hv::GetTickCount);
}
