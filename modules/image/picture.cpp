#include "modules/image/picture.h"

#include <algorithm>
#include <mutex>

#include "ui/pictures/pictures.h"

namespace hv::pictport {

namespace {

void initMagick() {
  static std::once_flag once;
  std::call_once(once, [] {
    Magick::InitializeMagick(nullptr);
    limitResources();
  });
}

Magick::Color toColor(Rgb c) {
  return Magick::ColorRGB(c.r / 255.0, c.g / 255.0, c.b / 255.0);
}

Rgb fromColor(const Magick::Color& c) {
  const Magick::ColorRGB rgb(c);
  auto q = [](double v) { return uint8_t(std::clamp(int(v * 255.0 + 0.5), 0, 255)); };
  return {q(rgb.red()), q(rgb.green()), q(rgb.blue())};
}

int greyOf(const uint8_t* p) {
  return (299 * p[0] + 587 * p[1] + 114 * p[2]) / 1000;
}

Magick::Image imageFromRgb(int w, int h, const uint8_t* rgb) {
  Magick::Image img(size_t(w), size_t(h), "RGB", Magick::CharPixel, rgb);
  img.type(Magick::TrueColorType);
  return img;
}

bool isGreyColour(const Magick::Color& c) {
  const Rgb rgb = fromColor(c);
  return rgb.r == rgb.g && rgb.g == rgb.b;
}

SourceKind kindOf(Magick::Image& img, std::array<Rgb, 2>& palette) {
  if (img.classType() == MagickCore::PseudoClass && img.colorMapSize() > 0) {
    const size_t n = img.colorMapSize();
    if (n <= 2) {
      palette[0] = fromColor(img.colorMap(0));
      palette[1] = n == 2 ? fromColor(img.colorMap(1)) : palette[0];
      return SourceKind::Bilevel;
    }
    for (size_t i = 0; i < n; ++i) {
      if (!isGreyColour(img.colorMap(i))) return SourceKind::Colour;
    }
    return SourceKind::Grey;
  }
  if (img.colorSpace() == MagickCore::GRAYColorspace) {
    // A grey file without a palette: two-level ones (1-bit PNGs) count as black and white.
    if (img.depth() == 1) {
      palette = {kBlack, kWhite};
      return SourceKind::Bilevel;
    }
    return SourceKind::Grey;
  }
  return SourceKind::Colour;
}

}  // namespace

void limitResources() {
  static std::once_flag once;
  std::call_once(once, [] {
    Magick::ResourceLimits::width(kMaxSide);
    Magick::ResourceLimits::height(kMaxSide);
    Magick::ResourceLimits::area(MagickCore::MagickSizeType(kMaxPixels));
    Magick::ResourceLimits::memory(512ull << 20);
    Magick::ResourceLimits::map(512ull << 20);
    Magick::ResourceLimits::disk(0);  // never spill a picture to a temporary file
    // The pictures are small; on a loaded machine OpenMP threads only wait for each other.
    Magick::ResourceLimits::thread(1);
  });
}

Picture::Picture(Magick::Image image, int bits)
    : image_(std::move(image)), empty_(image_.columns() == 0 || image_.rows() == 0), bits_(bits) {}

Picture Picture::filled(int w, int h, Rgb colour) {
  initMagick();
  if (w <= 0 || h <= 0) return {};
  Magick::Image img(Magick::Geometry(size_t(w), size_t(h)), toColor(colour));
  img.type(Magick::TrueColorType);
  return Picture(std::move(img), 24);
}

Picture Picture::fromRgb(int w, int h, const uint8_t* rgb) {
  initMagick();
  if (w <= 0 || h <= 0) return {};
  return Picture(imageFromRgb(w, h, rgb), 24);
}

Rgb Picture::pixel(int x, int y) const {
  uint8_t p[3] = {0, 0, 0};
  Magick::Image copy = image_;
  copy.write(x, y, 1, 1, "RGB", Magick::CharPixel, p);
  return {p[0], p[1], p[2]};
}

std::vector<uint8_t> Picture::rgb() const {
  std::vector<uint8_t> out(size_t(width()) * size_t(height()) * 3);
  if (out.empty()) return out;
  Magick::Image copy = image_;
  copy.write(0, 0, size_t(width()), size_t(height()), "RGB", Magick::CharPixel, out.data());
  return out;
}

Picture Picture::cropped(const Rect& r) const {
  const Rect c{std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, width()),
               std::min(r.bottom, height())};
  if (c.empty()) return {};
  Magick::Image img = image_;
  img.crop(Magick::Geometry(size_t(c.width()), size_t(c.height()), c.left, c.top));
  img.page(Magick::Geometry(0, 0, 0, 0));
  Picture out(std::move(img), bits_);
  out.palette_ = palette_;
  return out;
}

Picture Picture::resampled(int w, int h, Resample mode) const {
  if (empty() || w <= 0 || h <= 0) return {};
  Magick::Image img = image_;
  Magick::Geometry g{size_t(w), size_t(h)};
  g.aspect(true);  // exactly w x h
  if (mode == Resample::Fast) {
    img.sample(g);
    Picture out(std::move(img), bits_);
    out.palette_ = palette_;
    return out;
  }
  // Shrinking averages the pixels each new one covers; enlarging interpolates between them.
  const bool shrinks = int64_t(w) * h < int64_t(width()) * height();
  img.filterType(shrinks ? Magick::BoxFilter : Magick::TriangleFilter);
  img.type(Magick::TrueColorType);
  img.resize(g);
  return Picture(std::move(img), 24);
}

void Picture::paste(const Picture& p, int x, int y) {
  if (p.empty() || empty()) return;
  image_.composite(p.image_, x, y, Magick::CopyCompositeOp);
}

void Picture::threshold(int level) {
  if (empty()) return;
  std::vector<uint8_t> px = rgb();
  for (size_t i = 0; i < px.size(); i += 3) {
    const uint8_t v = greyOf(&px[i]) > level ? 255 : 0;
    px[i] = px[i + 1] = px[i + 2] = v;
  }
  image_ = imageFromRgb(width(), height(), px.data());
  bits_ = 1;
  palette_ = {kBlack, kWhite};
}

void Picture::grey() {
  if (empty()) return;
  std::vector<uint8_t> px = rgb();
  for (size_t i = 0; i < px.size(); i += 3) {
    const uint8_t v = uint8_t(greyOf(&px[i]));
    px[i] = px[i + 1] = px[i + 2] = v;
  }
  image_ = imageFromRgb(width(), height(), px.data());
  bits_ = 8;
}

void Picture::reduce(const std::vector<Rgb>& palette, int bits, bool diffuse) {
  if (empty() || palette.empty()) return;
  std::vector<uint8_t> row;
  for (Rgb c : palette) row.insert(row.end(), {c.r, c.g, c.b});
  Magick::Image map = imageFromRgb(int(palette.size()), 1, row.data());
  image_.quantizeDitherMethod(diffuse ? MagickCore::FloydSteinbergDitherMethod
                                      : MagickCore::NoDitherMethod);
  image_.quantizeDither(diffuse);
  image_.map(map, diffuse);
  // Keep the pixels as they are, whatever depth ImageMagick chose for the remapped image.
  image_.type(Magick::TrueColorType);
  bits_ = bits;
  if (bits == 1 && palette.size() == 2) palette_ = {palette[0], palette[1]};
}

void Picture::raise(int bits) {
  if (bits > bits_) bits_ = bits;
}

std::optional<std::string> Picture::encode(std::string_view format) const {
  if (empty()) return std::nullopt;
  try {
    Magick::Image img = image_;
    if (format == "GIF") {
      img.magick("GIF");
    } else {
      img.magick("JPEG");
      img.interlaceType(Magick::NoInterlace);
      img.quality(90);
    }
    Magick::Blob blob;
    img.write(&blob);
    if (blob.length() == 0) return std::nullopt;
    return std::string(static_cast<const char*>(blob.data()), blob.length());
  } catch (const Magick::Exception&) {
    return std::nullopt;
  }
}

std::optional<OpenedPicture> openPicture(std::string_view path) {
  initMagick();
  Magick::Image img;
  if (!LoadImage(img, path, kDecodeAtLeastWidth, kDecodeAtLeastHeight)) return std::nullopt;
  if (img.columns() == 0 || img.rows() == 0 || img.columns() > size_t(kMaxSide) ||
      img.rows() > size_t(kMaxSide)) {
    return std::nullopt;
  }
  OpenedPicture out;
  std::array<Rgb, 2> palette{kBlack, kWhite};
  try {
    out.kind = kindOf(img, palette);
    img.page(Magick::Geometry(0, 0, 0, 0));
    if (out.kind == SourceKind::Bilevel) {
      // Two colours, stored as they look; the palette says which is entry 0.
      img.type(Magick::TrueColorType);
      out.picture = Picture(std::move(img), 1);
      out.picture.setPalette(palette);
    } else {
      img.type(Magick::TrueColorType);
      out.picture = Picture(std::move(img), 24);
    }
  } catch (const Magick::Exception&) {
    return std::nullopt;
  }
  return out;
}

OpenedPicture capturedPicture(Picture picture) {
  return OpenedPicture{std::move(picture), SourceKind::Colour};
}

Picture workingPicture(const OpenedPicture& source, int w, int h) {
  const Picture& src = source.picture;
  if (src.empty()) return {};
  const bool bilevel = source.kind == SourceKind::Bilevel;
  if (src.width() > w || src.height() > h) {
    Picture copy = src;
    if (!bilevel) copy.raise(24);
    return copy;
  }
  Rgb fill = kWhite;
  if (bilevel) {
    const auto& pal = src.palette();
    fill = pal[0] == kBlack ? pal[1] : pal[0];
  }
  Picture canvas = Picture::filled(w, h, fill);
  canvas.paste(src, (w - src.width()) / 2, (h - src.height()) / 2);
  if (bilevel) {
    canvas = Picture(canvas.image(), 1);
    canvas.setPalette(src.palette());
  }
  return canvas;
}

}  // namespace hv::pictport
