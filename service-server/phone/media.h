#pragma once
// Files the virtual phone serves: pictures as PNG and ringing tones as WAV.
#include <cstdint>
#include <vector>

#include "service-server/phone/decode.h"

namespace hv::phone {

// An 8-bit greyscale PNG of the bitmap, each pixel `scale` x `scale` (1 to 16), ink black and
// paper white; empty for an empty bitmap.
Bytes encodePng(const Bitmap& bitmap, int scale = 1);

// The melody played monophonically as 8 kHz 16-bit mono PCM in a WAV file: a square-ish tone per
// note with short fades, silence for pauses. At most `maxSeconds` of sound.
Bytes renderWav(const Melody& melody, int maxSeconds = 120);

}  // namespace hv::phone
