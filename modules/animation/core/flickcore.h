#pragma once
// The animation module's conversion core, free of Qt and ui/: reading an SWF file's header and
// deciding whether it can be converted, sampling by quality, rendering the sampled frames with
// our Flash engine, writing them as GIF files under the phone's size limit, building a comic,
// and the request header of a send. The dialog, the tests and the command line share it.
//
//   hv::flick::Movie movie;
//   if (auto e = hv::flick::openMovie(path, movie); e != MovieError::None) ... refusal ...
//   hv::flick::Target t{176, 208};
//   std::vector<hv::flick::Frame> frames;
//   hv::flick::render(movie, 0, last, sampleStep(quality), t.width, t.height, {}, frames);
//   std::vector<hv::flick::ResultFile> files;
//   hv::flick::writeResults(frames, t, tempDir, files);
//
// Frame marks are numbered from 0 (frame 0 is the movie's first frame), as the dialog's range
// bar counts them; the numbers handed to the frame callback count from 1.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "flash/flash.h"
#include "graph/gif.h"
#include "include/handvane/records.h"

namespace hv::flick {

enum class MovieError : int {
  None = 0,
  Unreadable,    // the file could not be read, or is no SWF at all
  BadSignature,  // neither "FWS" nor "CWS"
};
const char* errorText(MovieError e);

enum class RenderError : int {
  None = 0,
  BadArguments,  // width, height or step not positive
  Compressed,    // a file of version 5 or lower that is compressed ("CWS")
  LoadFailed,    // the engine could not load the movie
  NoFrames,      // the first frame could not be shown: nothing was rendered
  Stopped,       // the callback stopped the rendering (the frames so far are kept)
  RenderFailed,  // the engine failed to draw a frame (the frame table is emptied)
};
const char* errorText(RenderError e);

// The assumed rate of movies whose frames come through the control's rules (version 6 and
// later), and of version 5 movies that state a rate below 1 frame per second.
inline constexpr int kAssumedRate = 12;

struct Movie {
  std::string path;
  flash::Header header;
  // Version 5 and lower go through the engine's rules; 6 and later through the control's.
  bool engineRules() const { return header.version < 6; }
  // The whole frames per second used for frame delays: the integer part of the stated rate for
  // engine-rule movies (kAssumedRate when that is 0), kAssumedRate for the others.
  int rate() const;
  // The movie's own size in pixels (twips / 20), 640 x 480 where that gives 0.
  int width() const;
  int height() const;
};

// Reads the header; a refusal names why (the dialog shows its own text for either).
MovieError openMovie(const std::string& path, Movie& movie);
MovieError openMovie(const std::uint8_t* data, std::size_t size, Movie& movie);

// The step between sampled frames for a quality of 1..100: round(100 / quality) (quality is
// clamped to that range).
int sampleStep(int quality);
// Milliseconds per sampled frame: step * 1000 / rate.
int frameDelayMs(int step, int rate);

// A rendered frame: width x height pixels of 3 bytes (blue, green, red), rows from the top.
struct Frame {
  std::vector<std::uint8_t> pixels;
  int width = 0;
  int height = 0;
  int number = 0;  // the movie's frame number, from 1
  int delayMs = 0;
};

struct RenderCallbacks {
  // Before the first frame, with the number of frames expected; false stops.
  std::function<bool(int expected)> begin;
  // After each frame was appended; may change width and height for the frames that follow;
  // false stops.
  std::function<bool(const Frame& frame, int& width, int& height)> frame;
  std::function<void()> end;
};

// Renders frames first, first + step, ... up to and including last (marks from 0; last below 0
// or past the movie means its last frame) at width x height into frames (emptied first).
// Stopped keeps what was rendered; any failure empties it.
RenderError render(const Movie& movie, int first, int last, int step, int width, int height,
                   const RenderCallbacks& callbacks, std::vector<Frame>& frames);
// One frame (mark from 0) at width x height; NoFrames when it does not exist.
RenderError renderOne(const Movie& movie, int mark, int width, int height, Frame& frame);

// What a conversion aims at: the picture type's size and scale, and the limit of one file.
struct Target {
  int width = 0;
  int height = 0;
  int xscale = 100;
  int yscale = 100;
  std::size_t limit = graph::kPhoneLimit;
  // The preview size: width * xscale / 100 by height * yscale / 100 (at least 1 each).
  int previewWidth() const;
  int previewHeight() const;
};
Target targetOf(const IMAGETYPE_INFO& type);

// One GIF file written by a conversion.
struct ResultFile {
  int number = 0;  // the file's number: its name is "%04d.GIF" of it
  int frames = 0;
  std::size_t bytes = 0;
  std::string path;
};

// Writes the frames as "%04d.GIF" files into dir (ending in "/").
graph::GifError writeResults(const std::vector<Frame>& frames, const Target& target,
                             const std::string& dir, std::vector<ResultFile>& files);
// The comic of pictures of the target's size, in order; TooLarge over the limit.
graph::GifError buildComic(const std::vector<const Frame*>& pictures, const Target& target,
                           std::vector<std::uint8_t>& out);

// The request header of an animation send: empty launch tag, "WAP", "FLASH", one recipient,
// the sender, the phone model name, the picture type key, "00000000", "GIF", attachment type 0
// (152 bytes). Fields are cut to their widths.
MessageHeader requestHeader(std::string_view recipient, std::string_view sender,
                            std::string_view modelName, std::string_view typeKey);

// A 24-bit BMP file of a frame (bottom-up rows, each padded to 4 bytes).
std::vector<std::uint8_t> bmpFile(const Frame& frame);

}  // namespace hv::flick
