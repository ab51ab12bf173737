// Any bytes through the SWF header check that decides whether a movie can be converted.
#include <cstddef>
#include <cstdint>

#include "modules/animation/core/flickcore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hv::flick::Movie movie;
  if (hv::flick::openMovie(data, size, movie) == hv::flick::MovieError::None) {
    (void)movie.width();
    (void)movie.height();
    (void)movie.rate();
  }
  return 0;
}
