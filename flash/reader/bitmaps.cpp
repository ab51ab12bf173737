// Bitmap characters decoded with Debian's libraries: libjpeg (DefineBits with JPEGTables,
// DefineBitsJPEG2 and 3), libpng and giflib (images that SWF 8 allows in the JPEG tags) and
// zlib (DefineBitsLossless 1 and 2, the alpha plane of DefineBitsJPEG3). All end up as
// premultiplied RGBA.
// clang-format off
#include <cstdio>  // jpeglib.h needs FILE declared first
#include <jpeglib.h>
// clang-format on
#include <gif_lib.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>

#include "flash/reader/parse.h"

namespace flash::swf {
namespace {

// Takes a bitmap's pixels out of the movie's allowance, or fails when it does not fit.
void reserve(Reader& at, int width, int height, const BitmapLimits& limits) {
  if (width <= 0 || height <= 0 || width > limits.side || height > limits.side)
    at.fail(Error::TooLarge);
  std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
  if (bytes > *limits.bytesLeft) at.fail(Error::TooLarge);
  *limits.bytesLeft -= bytes;
}

// Inflates up to `want` bytes; returns how many came out (the rest of out stays as it was).
std::size_t inflateInto(const std::uint8_t* data, std::size_t size, std::uint8_t* out,
                        std::size_t want) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return 0;
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(std::min<std::size_t>(size, 0x7fffffff));
  std::size_t done = 0;
  while (done < want) {
    std::size_t chunk = std::min<std::size_t>(want - done, 1u << 30);
    z.next_out = out + done;
    z.avail_out = static_cast<uInt>(chunk);
    int rc = inflate(&z, Z_NO_FLUSH);
    done += chunk - z.avail_out;
    if (rc != Z_OK) break;
  }
  inflateEnd(&z);
  return done;
}

// Flash writes JPEG streams with an extra EOI and SOI between the tables and the image (and
// sometimes at the very start); libjpeg reads them once those pairs are gone. Entropy-coded
// data never holds FF D9, so the pairs are found reliably.
std::vector<std::uint8_t> withoutStrayMarkers(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> out;
  out.reserve(size);
  for (std::size_t i = 0; i < size;) {
    if (i + 4 <= size && data[i] == 0xff && data[i + 1] == 0xd9 && data[i + 2] == 0xff &&
        data[i + 3] == 0xd8) {
      i += 4;
      continue;
    }
    out.push_back(data[i++]);
  }
  return out;
}

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void jpegFail(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

void jpegQuiet(j_common_ptr, int) {}

struct JpegResult {
  int width = 0, height = 0;
  bool ok = false;
};

// Decodes into out as RGBA (alpha 255). Kept free of objects with destructors between setjmp
// and the libjpeg calls that may jump back.
JpegResult decodeJpeg(const std::vector<std::uint8_t>& tables,
                      const std::vector<std::uint8_t>& image, Reader& at,
                      const BitmapLimits& limits, std::vector<std::uint8_t>& out) {
  JpegResult result;
  jpeg_decompress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = jpegFail;
  err.mgr.emit_message = jpegQuiet;
  volatile bool tooLarge = false;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    if (tooLarge) at.fail(Error::TooLarge);
    return result;
  }
  jpeg_create_decompress(&cinfo);
  if (tables.size() > 4) {
    jpeg_mem_src(&cinfo, tables.data(), static_cast<unsigned long>(tables.size()));
    jpeg_read_header(&cinfo, FALSE);
  }
  jpeg_mem_src(&cinfo, image.data(), static_cast<unsigned long>(image.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  int w = int(cinfo.image_width), h = int(cinfo.image_height);
  std::size_t bytes = std::size_t(w) * std::size_t(h) * 4;
  if (w <= 0 || h <= 0 || w > limits.side || h > limits.side || bytes > *limits.bytesLeft) {
    tooLarge = true;
    std::longjmp(err.jump, 1);
  }
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 3) std::longjmp(err.jump, 1);
  out.assign(bytes, 255);
  // libjpeg's own pool: freed by jpeg_destroy_decompress on every path.
  JSAMPARRAY rows = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                               JDIMENSION(w) * 3, 1);
  JSAMPROW row = rows[0];
  while (cinfo.output_scanline < cinfo.output_height) {
    std::size_t y = cinfo.output_scanline;
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) break;
    std::uint8_t* dst = out.data() + y * std::size_t(w) * 4;
    for (int x = 0; x < w; ++x) std::memcpy(dst + x * 4, row + x * 3, 3);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  *limits.bytesLeft -= bytes;
  result.width = w;
  result.height = h;
  result.ok = true;
  return result;
}

Bitmap decodePng(Reader& at, const std::uint8_t* data, std::size_t size,
                 const BitmapLimits& limits) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) at.fail(Error::BadImage);
  int w = int(image.width), h = int(image.height);
  if (w > limits.side || h > limits.side) {
    png_image_free(&image);
    at.fail(Error::TooLarge);
  }
  reserve(at, w, h, limits);
  image.format = PNG_FORMAT_RGBA;
  Bitmap b;
  b.width = w;
  b.height = h;
  b.rgba.resize(std::size_t(w) * std::size_t(h) * 4);
  if (!png_image_finish_read(&image, nullptr, b.rgba.data(), 0, nullptr)) {
    png_image_free(&image);
    at.fail(Error::BadImage);
  }
  for (std::size_t i = 0; i < b.rgba.size(); i += 4) {
    unsigned a = b.rgba[i + 3];
    for (int c = 0; c < 3; ++c) b.rgba[i + c] = std::uint8_t((b.rgba[i + c] * a + 127) / 255);
  }
  return b;
}

struct GifSource {
  const std::uint8_t* data;
  std::size_t size, pos;
};

int gifRead(GifFileType* gif, GifByteType* buf, int len) {
  auto* s = static_cast<GifSource*>(gif->UserData);
  std::size_t n = std::min<std::size_t>(std::size_t(len), s->size - s->pos);
  std::memcpy(buf, s->data + s->pos, n);
  s->pos += n;
  return int(n);
}

Bitmap decodeGif(Reader& at, const std::uint8_t* data, std::size_t size,
                 const BitmapLimits& limits) {
  GifSource src{data, size, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&src, gifRead, &error);
  if (!gif) at.fail(Error::BadImage);
  struct Closer {
    GifFileType* g;
    ~Closer() { DGifCloseFile(g, nullptr); }
  } closer{gif};
  if (gif->SWidth > limits.side || gif->SHeight > limits.side) at.fail(Error::TooLarge);
  if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) at.fail(Error::BadImage);
  const SavedImage& frame = gif->SavedImages[0];
  const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
  if (!map) at.fail(Error::BadImage);
  GraphicsControlBlock gcb{};
  gcb.TransparentColor = NO_TRANSPARENT_COLOR;
  DGifSavedExtensionToGCB(gif, 0, &gcb);
  int w = frame.ImageDesc.Width, h = frame.ImageDesc.Height;
  reserve(at, w, h, limits);
  Bitmap b;
  b.width = w;
  b.height = h;
  b.rgba.resize(std::size_t(w) * std::size_t(h) * 4);
  for (std::size_t i = 0; i < std::size_t(w) * std::size_t(h); ++i) {
    int index = frame.RasterBits[i];
    if (index == gcb.TransparentColor || index >= map->ColorCount) continue;
    const GifColorType& c = map->Colors[index];
    std::uint8_t* p = &b.rgba[i * 4];
    p[0] = c.Red;
    p[1] = c.Green;
    p[2] = c.Blue;
    p[3] = 255;
  }
  return b;
}

}  // namespace

Bitmap decodeImage(Reader& at, const std::uint8_t* data, std::size_t size,
                   const std::vector<std::uint8_t>* jpegTables, const std::uint8_t* alpha,
                   std::size_t alphaSize, const BitmapLimits& limits) {
  if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0)
    return decodePng(at, data, size, limits);
  if (size >= 6 && std::memcmp(data, "GIF8", 4) == 0) return decodeGif(at, data, size, limits);
  std::vector<std::uint8_t> tables;
  if (jpegTables) tables = withoutStrayMarkers(jpegTables->data(), jpegTables->size());
  std::vector<std::uint8_t> image = withoutStrayMarkers(data, size);
  Bitmap b;
  JpegResult r = decodeJpeg(tables, image, at, limits, b.rgba);
  if (!r.ok) at.fail(Error::BadImage);
  b.width = r.width;
  b.height = r.height;
  if (alpha && alphaSize > 0) {
    std::size_t pixels = std::size_t(b.width) * std::size_t(b.height);
    std::vector<std::uint8_t> plane(pixels, 255);
    inflateInto(alpha, alphaSize, plane.data(), pixels);
    // The authoring tool stores the JPEG's colours premultiplied by this alpha already; lossy
    // coding may leave a channel a little above its alpha, which is clamped.
    for (std::size_t i = 0; i < pixels; ++i) {
      std::uint8_t a = plane[i];
      std::uint8_t* p = &b.rgba[i * 4];
      for (int c = 0; c < 3; ++c) p[c] = std::min(p[c], a);
      p[3] = a;
    }
  }
  return b;
}

Bitmap readLossless(Reader& r, bool withAlpha, const BitmapLimits& limits) {
  int format = r.u8();
  int w = r.u16(), h = r.u16();
  if (format != 3 && format != 4 && format != 5) r.fail(Error::BadRecord);
  std::size_t colors = format == 3 ? std::size_t(r.u8()) + 1 : 0;
  reserve(r, w, h, limits);
  std::size_t entry = withAlpha ? 4 : 3;
  // Rows of colour-mapped and 15-bit pixels are padded to 32 bits.
  std::size_t rowBytes = format == 3   ? (std::size_t(w) + 3) & ~std::size_t(3)
                         : format == 4 ? (std::size_t(w) * 2 + 3) & ~std::size_t(3)
                                       : std::size_t(w) * 4;
  std::size_t tableBytes = colors * entry;
  std::vector<std::uint8_t> raw(tableBytes + rowBytes * std::size_t(h), 0);
  std::size_t got = inflateInto(r.here(), r.remaining(), raw.data(), raw.size());
  if (got == 0) r.fail(Error::BadImage);
  Bitmap b;
  b.width = w;
  b.height = h;
  b.rgba.resize(std::size_t(w) * std::size_t(h) * 4);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = raw.data() + tableBytes + std::size_t(y) * rowBytes;
    std::uint8_t* dst = b.rgba.data() + std::size_t(y) * std::size_t(w) * 4;
    for (int x = 0; x < w; ++x, dst += 4) {
      std::uint8_t rgba[4] = {0, 0, 0, 255};
      if (format == 3) {
        std::size_t index = row[x];
        if (index < colors) std::memcpy(rgba, raw.data() + index * entry, entry);
      } else if (format == 4) {
        unsigned v = unsigned(row[x * 2]) << 8 | row[x * 2 + 1];
        unsigned c5[3] = {(v >> 10) & 31, (v >> 5) & 31, v & 31};
        for (int c = 0; c < 3; ++c) rgba[c] = std::uint8_t(c5[c] << 3 | c5[c] >> 2);
      } else {
        const std::uint8_t* p = row + x * 4;
        rgba[0] = p[1];
        rgba[1] = p[2];
        rgba[2] = p[3];
        if (withAlpha) rgba[3] = p[0];
      }
      // Alpha bitmaps hold premultiplied colours; a colour above its alpha is clamped.
      for (int c = 0; c < 3; ++c) dst[c] = std::min(rgba[c], rgba[3]);
      dst[3] = rgba[3];
    }
  }
  return b;
}

}  // namespace flash::swf
