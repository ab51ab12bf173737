#include "service-server/phone/media.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <string_view>

namespace hv::phone {
namespace {

void be32(Bytes& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}
void le32(Bytes& out, uint32_t v) {
  for (int s = 0; s < 32; s += 8) out.push_back(uint8_t(v >> s));
}
void le16(Bytes& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

void chunk(Bytes& out, std::string_view type, const Bytes& data) {
  be32(out, uint32_t(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  be32(out, uint32_t(crc32(0, out.data() + start, uInt(out.size() - start))));
}

}  // namespace

Bytes encodePng(const Bitmap& b, int scale) {
  if (b.width <= 0 || b.height <= 0 || b.ink.size() != size_t(b.width) * size_t(b.height))
    return {};
  scale = std::clamp(scale, 1, 16);
  const uint32_t w = uint32_t(b.width * scale), h = uint32_t(b.height * scale);
  Bytes raw;
  raw.reserve((w + 1) * h);
  for (uint32_t y = 0; y < h; ++y) {
    raw.push_back(0);  // filter: none
    for (uint32_t x = 0; x < w; ++x)
      raw.push_back(b.inkAt(int(x) / scale, int(y) / scale) ? 0 : 255);
  }
  uLongf packedSize = compressBound(uLong(raw.size()));
  Bytes packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), 9) != Z_OK) return {};
  packed.resize(packedSize);

  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  be32(ihdr, w);
  be32(ihdr, h);
  ihdr.insert(ihdr.end(), {8, 0, 0, 0, 0});  // 8-bit greyscale, deflate, no filter, no interlace
  chunk(png, "IHDR", ihdr);
  chunk(png, "IDAT", packed);
  chunk(png, "IEND", {});
  return png;
}

Bytes renderWav(const Melody& melody, int maxSeconds) {
  constexpr int kRate = 8000;
  const size_t limit = size_t(std::max(1, maxSeconds)) * kRate;
  std::vector<int16_t> pcm;
  for (const Note& n : melody.notes) {
    const size_t count = size_t(n.milliseconds(melody.bpm)) * kRate / 1000;
    const double f = n.frequency();
    const size_t fade = std::min<size_t>(count / 4, kRate / 200);  // 5 ms
    for (size_t i = 0; i < count && pcm.size() < limit; ++i) {
      double v = 0;
      if (f > 0) {
        // A sine with its third harmonic: the sound of a small buzzer without a square's clicks.
        const double t = double(i) / kRate;
        v = std::sin(2 * M_PI * f * t) + 0.3 * std::sin(6 * M_PI * f * t);
        double g = 1;
        if (i < fade) g = double(i) / double(fade);
        if (count - i <= fade) g = double(count - i) / double(fade);
        v *= 0.45 * g;
      }
      pcm.push_back(int16_t(std::lround(v * 32767 / 1.3)));
    }
    if (pcm.size() >= limit) break;
  }
  Bytes wav = {'R', 'I', 'F', 'F'};
  le32(wav, uint32_t(36 + pcm.size() * 2));
  wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  le32(wav, 16);
  le16(wav, 1);  // PCM
  le16(wav, 1);  // mono
  le32(wav, kRate);
  le32(wav, kRate * 2);
  le16(wav, 2);
  le16(wav, 16);
  wav.insert(wav.end(), {'d', 'a', 't', 'a'});
  le32(wav, uint32_t(pcm.size() * 2));
  for (int16_t s : pcm) le16(wav, uint16_t(s));
  return wav;
}

}  // namespace hv::phone
