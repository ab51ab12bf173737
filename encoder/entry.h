#pragma once
// DoProcess with its tick source handed in, so that the name of the packed file it creates can be
// known in advance (DoProcess itself uses the system's tick count).
#include <cstdint>

namespace hv::logopack {

using TickSource = uint32_t (*)();

// What DoProcess does, the first name tried being "QTX" + ticks() in hexadecimal + ".tmp".
int processPicture(char* path, const char* format, int width, int height,
                   const unsigned char* pixels, TickSource ticks);

}  // namespace hv::logopack
