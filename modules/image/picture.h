#pragma once
// The pictures of the image module: a Magick++ image together with the colour depth it stands
// for (1 bit with a two-colour palette, 4 or 8 bits with a palette, 24 bits), and the operations
// the conversion pipeline is built from. No Qt here.
#include <Magick++.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hv::pictport {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};

struct Point {
  int x = 0, y = 0;
  bool operator==(const Point&) const = default;
};
struct Size {
  int w = 0, h = 0;
  bool operator==(const Size&) const = default;
};

// Rectangles in pixels: left and top inclusive, right and bottom exclusive.
struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool empty() const { return width() <= 0 || height() <= 0; }
  bool operator==(const Rect&) const = default;
};

// How a picture is resampled: Quality averages (the send picture), Fast takes the nearest pixel
// (the preview, redrawn while the frame is dragged).
enum class Resample { Quality = 0, Fast = 1 };

// What the opened file held: 1 a black-and-white (two-colour) picture, 2 a grey one, 3 anything
// else (screen captures are 3).
enum class SourceKind { Bilevel = 1, Grey = 2, Colour = 3 };

class Picture {
 public:
  Picture() = default;
  // A picture of w x h pixels of one colour, at 24 bits.
  static Picture filled(int w, int h, Rgb colour);
  // A 24-bit picture of w x h pixels from RGB bytes, rows from the top.
  static Picture fromRgb(int w, int h, const uint8_t* rgb);
  // Wraps an image as it is; bits as the pipeline counts them (1, 4, 8 or 24).
  Picture(Magick::Image image, int bits);

  bool empty() const { return width() == 0 || height() == 0; }
  int width() const { return empty_ ? 0 : int(image_.columns()); }
  int height() const { return empty_ ? 0 : int(image_.rows()); }
  int bits() const { return bits_; }
  // The two colours of a 1-bit picture (entry 0, entry 1).
  const std::array<Rgb, 2>& palette() const { return palette_; }
  void setPalette(const std::array<Rgb, 2>& p) { palette_ = p; }
  const Magick::Image& image() const { return image_; }

  Rgb pixel(int x, int y) const;
  // 24-bit pixels, rows from the top, no padding.
  std::vector<uint8_t> rgb() const;

  // The part inside r (clipped to the picture); empty when nothing is left.
  Picture cropped(const Rect& r) const;
  // Exactly w x h pixels. Fast keeps the colour depth; Quality gives 24 bits.
  Picture resampled(int w, int h, Resample mode) const;
  // Copies p onto this picture with its top-left corner at (x, y).
  void paste(const Picture& p, int x, int y);

  // Black where the grey value (299 R + 587 G + 114 B) / 1000 is at most level, else white;
  // 1 bit with the palette black, white.
  void threshold(int level);
  // Grey values of the same weights; 8 bits.
  void grey();
  // Each pixel becomes the nearest colour of the palette, spreading the error to the neighbours
  // (Floyd-Steinberg) when diffuse; bits is the depth the result counts as.
  void reduce(const std::vector<Rgb>& palette, int bits, bool diffuse);
  // Counts the picture at more bits; the pixels stay.
  void raise(int bits);

  // Encoded bytes: "GIF" or "JPEG" (baseline, never progressive); nullopt when encoding failed.
  std::optional<std::string> encode(std::string_view format) const;

 private:
  Magick::Image image_;
  bool empty_ = true;
  int bits_ = 24;
  std::array<Rgb, 2> palette_{kBlack, kWhite};
};

struct OpenedPicture {
  Picture picture;
  SourceKind kind = SourceKind::Colour;
};

// JPEG photos of at least twice this size are decoded at a reduced scale that still gives at
// least this many pixels: the framing control's area, more than any phone picture needs, at a
// fraction of a full decode's time.
inline constexpr int kDecodeAtLeastWidth = 424;
inline constexpr int kDecodeAtLeastHeight = 290;

// The largest picture the module opens, in either direction, and in pixels all told. Larger
// files (or files that claim to be) are refused before their pixels are decoded.
inline constexpr int kMaxSide = 8192;
inline constexpr int64_t kMaxPixels = 40'000'000;

// Sets ImageMagick's resource limits for this process (once); the module's pictures never need
// more.
void limitResources();

// Opens a JPEG, GIF, BMP or PNG file (by its contents) and tells its kind. nullopt when the file
// cannot be read or decoded.
std::optional<OpenedPicture> openPicture(std::string_view path);
// The same for a picture already in memory (a screen capture): kind 3 at 24 bits.
OpenedPicture capturedPicture(Picture picture);

// The working picture of a source for a picture type of w x h: a source no larger than that in
// both directions is centred on a canvas of exactly w x h (white, or for a 1-bit source the
// palette's non-black entry, staying 1 bit); a larger source is used as it is. Other sources
// than 1-bit ones count as 24 bits.
Picture workingPicture(const OpenedPicture& source, int w, int h);

}  // namespace hv::pictport
