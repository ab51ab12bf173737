#pragma once
// Handvane's Flash player engine: reads SWF files (FWS, and zlib-compressed CWS), plays their
// timelines with enough ActionScript 1 for timelines to behave, and renders frames anti-aliased
// into 24-bit RGB buffers of any size. No Qt; safe to use from any one thread per Player.
//
// Coordinates in the file are twips (1/20 pixel). Frames are numbered from 1.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "include/handvane/export.h"

namespace flash {

// What went wrong while reading or playing a file.
enum class Error : int {
  None = 0,
  CannotOpen,      // the file could not be opened or read
  TooShort,        // shorter than a SWF header
  BadSignature,    // the file starts with neither "FWS" nor "CWS"
  BadCompression,  // the zlib stream of a CWS file is damaged
  Truncated,       // a record runs past the end of its tag or of the file
  BadTagLength,    // a tag's stated length runs past the end of the file or of its sprite
  BadRecord,       // a field holds a value the format does not allow
  TooLarge,        // the file would make the engine allocate more than its limits allow
  BadImage,        // bitmap data that does not decode
  TooDeep,         // sprites or buttons nested beyond the engine's limit (a recursive sprite)
  NotLoaded,       // no movie is loaded
  BadArgument,     // an output size or buffer the engine cannot use
};

// A fixed English text for every value.
HV_EXPORT const char* errorText(Error error);

// An error with where it was found.
struct Failure {
  Error error = Error::None;
  int tag = -1;              // the code of the tag being read; -1 outside any tag
  std::uint64_t offset = 0;  // byte offset in the uncompressed file (0 when not about the file)

  bool ok() const { return error == Error::None; }
};

// "tag 2 (DefineShape) at offset 1234: a record runs past the end ..." for messages and logs.
HV_EXPORT std::string describe(const Failure& failure);

struct Rect {
  std::int32_t xMin = 0, xMax = 0, yMin = 0, yMax = 0;  // twips
};

// The SWF file header as the file states it.
struct Header {
  char signature[3] = {0, 0, 0};  // 'F','W','S' or 'C','W','S'
  int version = 0;
  std::uint32_t fileLength = 0;  // the stated length of the uncompressed file
  Rect frame;                    // the stage, in twips
  std::uint16_t frameRate = 0;   // 8.8 fixed point: high byte whole frames per second
  std::uint16_t frameCount = 0;  // as stated; Player::frameCount() counts the frames present

  bool compressed() const { return signature[0] == 'C'; }
  // The stage in whole pixels (twips / 20).
  int stageWidth() const { return (frame.xMax - frame.xMin) / 20; }
  int stageHeight() const { return (frame.yMax - frame.yMin) / 20; }
};

// Reads only the header. A CWS file is inflated just far enough for it.
HV_EXPORT Failure readHeader(const std::string& path, Header& header);
HV_EXPORT Failure readHeader(const std::uint8_t* data, std::size_t size, Header& header);

// Caps on what a file may make the engine do; the defaults suit any ordinary movie.
struct Limits {
  std::size_t fileBytes = 64u << 20;     // the uncompressed file
  std::size_t recordBytes = 256u << 20;  // shapes, texts and timelines as read from the file
  std::size_t bitmapBytes = 256u << 20;  // all decoded bitmaps together (4 bytes a pixel)
  int bitmapSide = 8192;                 // the largest bitmap width or height
  int nesting = 32;                      // sprites and buttons inside each other
  std::size_t displayObjects = 100000;   // objects on stage, at all levels together
  std::uint32_t actionSteps = 100000;    // actions run per frame (endless loops end there)
  int callDepth = 64;                    // nested ActionScript function calls
};

enum class PixelOrder { RGB, BGR };

// One movie played at one output size. The stage is fitted into the output as Flash shows it by
// default: all of it visible, aspect kept, centred, the rest in the background colour.
class HV_EXPORT Player {
 public:
  // width and height of the output in pixels; both must be positive (render fails otherwise).
  Player(int width, int height, Limits limits = {});
  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  // Loads a movie in place of the current one and goes to frame 1 (running its actions).
  // Fails when the file cannot be read or its header is unusable; damage found further on does
  // not fail the load: the frames read before it play, and damage() reports it.
  Failure load(const std::string& path);
  Failure load(const std::uint8_t* data, std::size_t size);  // copies the bytes
  bool loaded() const;
  const Header& header() const;
  // The first damage found after the header (ok() when the whole file read cleanly).
  Failure damage() const;

  // The frames of the main timeline (ShowFrame tags present, at least 1 once loaded; 0 before).
  int frameCount() const;
  std::uint16_t frameRate() const;  // 8.8 fixed point, as in the header
  double framesPerSecond() const;
  // The frame now shown, from 1; 0 when nothing is loaded.
  int currentFrame() const;

  // Shows frame n (1..frameCount()). The picture is the same whichever frame it came from: it is
  // the state reached by playing the main timeline from frame 1 up to n, one frame at a time,
  // with sprites and actions running but the main timeline's own stops and jumps ignored.
  // Returns false, changing nothing, when n is out of range or nothing is loaded.
  bool gotoFrame(int n);
  // One tick of ordinary playback: the main timeline advances unless stopped (looping at its
  // end), sprites advance, actions run. Returns whether the main timeline's frame changed.
  bool nextFrame();
  bool playing() const;

  Failure resize(int width, int height);
  int width() const;
  int height() const;
  // The smallest row stride render() accepts: width * 3 bytes.
  std::size_t rowStride() const;
  // Draws the current frame into pixels: height rows of width 3-byte pixels, `stride` bytes
  // apart, in the given byte order. Fails (drawing nothing) for a stride below rowStride(), a
  // null buffer or no movie.
  Failure render(std::uint8_t* pixels, std::size_t stride, PixelOrder order = PixelOrder::RGB);

  // Receives the movie's trace() output, one line per call, as UTF-8.
  void setTraceHandler(std::function<void(const std::string&)> handler);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace flash
