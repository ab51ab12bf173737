// Fuzz target for the reader and the player together: load, render, play, jump, render again.
// Whatever the bytes, nothing may crash, hang or allocate without bound (the limits are small).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "flash/flash.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  flash::Limits limits;
  limits.fileBytes = 4u << 20;
  limits.recordBytes = 16u << 20;
  limits.bitmapBytes = 16u << 20;
  limits.bitmapSide = 2048;
  limits.actionSteps = 20000;
  limits.displayObjects = 2000;
  flash::Player player(48, 36, limits);
  if (!player.load(data, size).ok()) return 0;
  std::vector<std::uint8_t> rgb(player.rowStride() * 36);
  player.render(rgb.data(), player.rowStride());
  for (int i = 0; i < 3; ++i) {
    player.nextFrame();
    player.render(rgb.data(), player.rowStride(),
                  i % 2 ? flash::PixelOrder::BGR : flash::PixelOrder::RGB);
  }
  player.gotoFrame(player.frameCount());
  player.gotoFrame(2);
  player.resize(31, 17);
  std::vector<std::uint8_t> small(player.rowStride() * 17);
  player.render(small.data(), player.rowStride());
  return 0;
}
