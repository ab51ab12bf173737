// Any bytes through the GIF reader that plays converted animations back.
#include <cstddef>
#include <cstdint>

#include "graph/gif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  graph::DecodedGif g;
  graph::readGif(data, size, g, 256);
  return 0;
}
