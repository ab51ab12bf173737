#include "ui/pictures/pictures.h"

#include <Magick++.h>

#include <QImage>
#include <algorithm>
#include <mutex>
#include <set>

#include "platform/fs.h"
#include "ui/UI/image.h"

namespace {

void initMagick() {
  static std::once_flag once;
  std::call_once(once, [] { Magick::InitializeMagick(nullptr); });
}

const char* coderForExtension(std::string ext) {
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == "jpg" || ext == "jpeg") return "JPEG";
  if (ext == "png") return "PNG";
  if (ext == "bmp") return "BMP3";  // the Windows 3 layout every reader understands
  if (ext == "gif") return "GIF";
  return nullptr;
}

bool readInto(Magick::Image& image, std::string_view path, int atLeastWidth = 0,
              int atLeastHeight = 0) {
  auto bytes = hv::fs::readFile(path);
  if (!bytes) return false;
  const char* coder = hv::ui::pictureFormat(*bytes);
  if (!coder) return false;
  initMagick();
  try {
    Magick::Image loaded;
    loaded.quiet(true);
    loaded.magick(coder);
    const Magick::Blob blob(bytes->data(), bytes->size());
    if (atLeastWidth > 0 && atLeastHeight > 0 && std::string_view(coder) == "JPEG") {
      // Only ever a reduction: libjpeg would also scale a small photo up to the size asked for.
      Magick::Image header;
      header.quiet(true);
      header.magick(coder);
      header.ping(blob);
      if (header.columns() >= size_t(atLeastWidth) * 2 &&
          header.rows() >= size_t(atLeastHeight) * 2) {
        loaded.defineValue("jpeg", "size",
                           std::to_string(atLeastWidth) + "x" + std::to_string(atLeastHeight));
      }
    }
    loaded.read(blob);
    if (loaded.columns() == 0 || loaded.rows() == 0) return false;
    image = loaded;
    return true;
  } catch (const Magick::Exception&) {
    return false;
  }
}

}  // namespace

QImage ToQImage(const Magick::Image& image) {
  const size_t w = image.columns();
  const size_t h = image.rows();
  if (w == 0 || h == 0) return {};
  QImage out(static_cast<int>(w), static_cast<int>(h), QImage::Format_RGBA8888);
  try {
    Magick::Image copy = image;
    for (size_t y = 0; y < h; ++y) {
      copy.write(0, static_cast<ssize_t>(y), w, 1, "RGBA", Magick::CharPixel,
                 out.scanLine(static_cast<int>(y)));
    }
  } catch (const Magick::Exception&) {
    return {};
  }
  return out;
}

int LoadImage(Magick::Image& image, std::string_view path) {
  return readInto(image, path) ? 1 : 0;
}

int LoadImage(Magick::Image& image, std::string_view path, int atLeastWidth, int atLeastHeight) {
  return readInto(image, path, atLeastWidth, atLeastHeight) ? 1 : 0;
}

int SaveImage(Magick::Image& image, std::string_view path) {
  const char* coder = coderForExtension(hv::fs::extensionOf(path));
  if (!coder || image.columns() == 0) return 0;
  initMagick();
  try {
    Magick::Image copy = image;
    copy.magick(coder);
    Magick::Blob blob;
    copy.write(&blob);
    const std::string_view bytes(static_cast<const char*>(blob.data()), blob.length());
    return hv::fs::writeFileAtomic(path, bytes) ? 1 : 0;
  } catch (const Magick::Exception&) {
    return 0;
  }
}

QSize GetBmpSize(const Magick::Image& image) {
  return {static_cast<int>(image.columns()), static_cast<int>(image.rows())};
}

CQuantizer::CQuantizer(unsigned colours, unsigned bits)
    : colours_(std::max(colours, 1u)), bits_(std::clamp(bits, 1u, 8u)) {}

bool CQuantizer::ProcessImage(const Magick::Image& dib) {
  palette_.clear();
  if (dib.columns() == 0 || dib.rows() == 0) return false;
  initMagick();
  try {
    Magick::Image work = dib;
    work.type(Magick::TrueColorType);
    work.quantizeColors(colours_);
    work.quantizeTreeDepth(bits_);
    work.quantizeDither(false);  // the palette is wanted, not a dithered picture
    work.quantize();
    const size_t w = work.columns();
    const size_t h = work.rows();
    std::vector<uint8_t> rgb(w * h * 3);
    work.write(0, 0, w, h, "RGB", Magick::CharPixel, rgb.data());
    std::set<uint32_t> seen;
    for (size_t i = 0; i < w * h && palette_.size() < colours_; ++i) {
      const uint8_t r = rgb[i * 3], g = rgb[i * 3 + 1], b = rgb[i * 3 + 2];
      if (seen.insert((uint32_t{r} << 16) | (uint32_t{g} << 8) | b).second) {
        palette_.push_back(PaletteEntry{b, g, r, 0});
      }
    }
  } catch (const Magick::Exception&) {
    palette_.clear();
    return false;
  }
  return !palette_.empty();
}

void CQuantizer::SetColorTable(PaletteEntry* table) const {
  std::copy(palette_.begin(), palette_.end(), table);
}
