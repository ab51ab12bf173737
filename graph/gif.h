#pragma once
// GIF89a animations and comics for phones, on giflib. Every file has a logical screen of the
// target size, the fixed 256-colour palette as its global colour table, and per frame a graphic
// control extension (delay in hundredths of a second, disposal 0, no transparency, no user
// input) followed by an image at (0, 0) of the full size without a local colour table.
//
// Frames are encoded one at a time into memory, so the size of each is known before it is put
// into a file: that is what lets an animation be split into files that each stay within a size
// limit (a phone takes at most 45000 bytes). No Qt.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "include/handvane/export.h"

namespace graph {

// Bytes of a file that do not depend on its frames: "GIF89a" (6), the logical screen
// descriptor (7) and the 256-entry global colour table (768).
inline constexpr std::size_t kHeaderBytes = 781;
// The graphic control extension in front of every image.
inline constexpr std::size_t kControlBytes = 8;
// The trailer byte (0x3B) that ends a file.
inline constexpr std::size_t kTrailerBytes = 1;
// The largest GIF file or comic a phone is sent.
inline constexpr std::size_t kPhoneLimit = 45000;

enum class GifError : int {
  None = 0,
  BadSize,        // a width, height or pixel buffer that cannot make a picture
  EncodeFailed,   // giflib refused to encode
  FrameTooLarge,  // one frame alone makes a file over the limit
  TooLarge,       // the comic is over the limit
  Refused,        // the caller's before-write callback stopped the writing
  WriteFailed,    // a file could not be written
  NoFrames,       // nothing to write
  ReadFailed,     // a GIF file could not be read back
};
HV_EXPORT const char* errorText(GifError error);

// The fixed palette: entry (r << 5) | (g << 2) | b holds (R[r], G[g], B[b]) with
// R = G = 0, 36, 73, 109, 146, 182, 219, 255 and B = 0, 85, 170, 255. As 256 RGB triples.
HV_EXPORT const std::array<std::uint8_t, 768>& fixedPalette();

// The palette index of a 3-byte pixel (c0, c1, c2) whose c2 is red, c1 green and c0 blue (the
// byte order of the frame buffers): the top three bits of red and green and the top two of blue.
inline std::uint8_t paletteIndex(std::uint8_t c0, std::uint8_t c1, std::uint8_t c2) {
  return std::uint8_t((c2 & 0xE0) | ((c1 & 0xE0) >> 3) | (c0 >> 6));
}
// Every pixel of a width x height buffer of 3-byte pixels (rows from the top, no padding).
HV_EXPORT std::vector<std::uint8_t> reduceToPalette(const std::uint8_t* pixels, int width,
                                                    int height);

// One frame as giflib encoded it: its graphic control extension and its image (descriptor and
// LZW data); image.size() is the frame's encoded size.
struct EncodedFrame {
  std::array<std::uint8_t, kControlBytes> control{};
  std::vector<std::uint8_t> image;
  int delayMs = 0;
};

// Encodes a frame of 3-byte pixels (reduced to the fixed palette) or of palette indices. The
// delay is written as delayMs / 10 hundredths of a second (cut to 65535).
HV_EXPORT GifError encodeFrame(const std::uint8_t* pixels, int width, int height, int delayMs,
                               EncodedFrame& out);
HV_EXPORT GifError encodeIndexedFrame(const std::uint8_t* indices, int width, int height,
                                      int delayMs, EncodedFrame& out);
// The first kHeaderBytes of every file of this size.
HV_EXPORT GifError encodeHeader(int width, int height, std::vector<std::uint8_t>& out);

// A file from its frames (in order) and the trailer.
HV_EXPORT std::vector<std::uint8_t> assemble(const std::vector<std::uint8_t>& header,
                                             const std::vector<const EncodedFrame*>& frames);

// How frames are split into files. The running size of a file starts at kHeaderBytes and grows
// by e + kControlBytes for a frame of encoded size e. A frame that would take the file (with
// its trailer) past the limit closes the file; the next file starts at kHeaderBytes +
// kControlBytes + e. So every file, trailer included, stays within the limit. A frame that is
// too large even alone gives FrameTooLarge (no empty file is ever planned).
struct PlannedFile {
  std::size_t first = 0;  // index of its first frame among the sizes given
  std::size_t count = 0;
  std::size_t bytes = 0;  // the file's size, trailer included
};
struct Plan {
  std::vector<PlannedFile> files;
  GifError error = GifError::None;
  std::size_t tooLarge = 0;  // the frame that alone is too large (FrameTooLarge)
};
HV_EXPORT Plan planFiles(const std::vector<std::size_t>& encodedSizes, std::size_t limit);

// Writes frames into files "%04d.GIF" (counter from 0) of a directory under the size limit.
class HV_EXPORT GifWriter {
 public:
  struct Frame {
    const std::uint8_t* pixels = nullptr;  // width x height 3-byte pixels
    int delayMs = 0;
  };
  struct Callbacks {
    // Before a file is written; false stops everything (Refused).
    std::function<bool(const std::string& path)> beforeWrite;
    // Whether frame index takes part; all do without this.
    std::function<bool(std::size_t index)> includeFrame;
    // After a file was written: its path, frames, size in bytes and the first frame's delay.
    std::function<void(const std::string& path, int frames, std::size_t bytes, int delayMs)>
        written;
  };

  GifWriter(int width, int height, std::size_t limit = kPhoneLimit);

  // "%04d.GIF" for file number n.
  static std::string fileName(int n);

  // Encodes every included frame, plans the files and writes them into directory (a "/" is
  // added when missing). Files are only written once every frame has been encoded and the plan
  // holds, so a FrameTooLarge leaves no file behind.
  GifError write(const std::string& directory, const std::vector<Frame>& frames,
                 const Callbacks& callbacks) const;
  // The same files in memory (for callers that send them without the file system).
  GifError build(const std::vector<Frame>& frames,
                 std::vector<std::vector<std::uint8_t>>& files) const;

  // The comic: every picture one image of delay 1000 ms (100 hundredths), in order, in one
  // file. TooLarge when the file would be over the limit.
  GifError comic(const std::vector<const std::uint8_t*>& pictures,
                 std::vector<std::uint8_t>& out) const;

 private:
  GifError encodeAll(const std::vector<Frame>& frames, const Callbacks* callbacks,
                     std::vector<EncodedFrame>& encoded) const;

  int width_;
  int height_;
  std::size_t limit_;
};

// A GIF read back: its frames composed on the logical screen as 3-byte pixels in the frame
// buffers' order (c0 blue, c1 green, c2 red), each with its delay in milliseconds.
struct DecodedGif {
  int width = 0;
  int height = 0;
  std::vector<std::vector<std::uint8_t>> frames;
  std::vector<int> delaysMs;
};
// Reads a file or bytes in memory. The screen may be at most maxSide pixels a side.
HV_EXPORT GifError readGif(const std::string& path, DecodedGif& out, int maxSide = 2048);
HV_EXPORT GifError readGif(const std::uint8_t* data, std::size_t size, DecodedGif& out,
                           int maxSide = 2048);

}  // namespace graph
