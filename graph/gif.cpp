#include "graph/gif.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/fs.h"

namespace graph {

const char* errorText(GifError error) {
  switch (error) {
    case GifError::None:
      return "no error";
    case GifError::BadSize:
      return "the picture size or pixel buffer is unusable";
    case GifError::EncodeFailed:
      return "the GIF encoder failed";
    case GifError::FrameTooLarge:
      return "a single frame makes a file over the size limit";
    case GifError::TooLarge:
      return "the file would be over the size limit";
    case GifError::Refused:
      return "the writing was stopped before a file";
    case GifError::WriteFailed:
      return "a GIF file could not be written";
    case GifError::NoFrames:
      return "there are no frames to write";
    case GifError::ReadFailed:
      return "the GIF file could not be read";
  }
  return "unknown GIF error";
}

const std::array<std::uint8_t, 768>& fixedPalette() {
  static const std::array<std::uint8_t, 768> table = [] {
    static constexpr std::uint8_t rg[8] = {0, 36, 73, 109, 146, 182, 219, 255};
    static constexpr std::uint8_t b[4] = {0, 85, 170, 255};
    std::array<std::uint8_t, 768> t{};
    for (int r = 0; r < 8; ++r) {
      for (int g = 0; g < 8; ++g) {
        for (int bl = 0; bl < 4; ++bl) {
          const int i = (r << 5) | (g << 2) | bl;
          t[size_t(i) * 3] = rg[r];
          t[size_t(i) * 3 + 1] = rg[g];
          t[size_t(i) * 3 + 2] = b[bl];
        }
      }
    }
    return t;
  }();
  return table;
}

std::vector<std::uint8_t> reduceToPalette(const std::uint8_t* pixels, int width, int height) {
  std::vector<std::uint8_t> out;
  if (!pixels || width <= 0 || height <= 0) return out;
  const size_t n = size_t(width) * size_t(height);
  out.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const std::uint8_t* p = pixels + i * 3;
    out[i] = paletteIndex(p[0], p[1], p[2]);
  }
  return out;
}

namespace {

constexpr int kMaxSide = 65535;  // GIF's 16-bit screen fields

int appendToVector(GifFileType* gif, const GifByteType* data, int length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
  out->insert(out->end(), data, data + length);
  return length;
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int err = 0;
    if (gif) EGifCloseFile(gif, &err);
  }
};

struct MapFree {
  void operator()(ColorMapObject* m) const { GifFreeMapObject(m); }
};

std::unique_ptr<ColorMapObject, MapFree> paletteMap() {
  std::unique_ptr<ColorMapObject, MapFree> map(GifMakeMapObject(256, nullptr));
  if (!map) return map;
  const auto& p = fixedPalette();
  for (int i = 0; i < 256; ++i) {
    map->Colors[i].Red = p[size_t(i) * 3];
    map->Colors[i].Green = p[size_t(i) * 3 + 1];
    map->Colors[i].Blue = p[size_t(i) * 3 + 2];
  }
  return map;
}

// A whole one-frame GIF89a in memory: header, control extension, image, trailer. With indices
// null, the file holds only the header and the trailer.
GifError encodeFile(const std::uint8_t* indices, int width, int height, int delayMs,
                    std::vector<std::uint8_t>& out) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
    return GifError::BadSize;
  }
  out.clear();
  auto map = paletteMap();
  if (!map) return GifError::EncodeFailed;
  int err = 0;
  GifFileType* raw = EGifOpen(&out, appendToVector, &err);
  if (!raw) return GifError::EncodeFailed;
  // Closing writes the trailer; a failure there is a failure of the file.
  EGifSetGifVersion(raw, true);
  if (EGifPutScreenDesc(raw, width, height, 8, 0, map.get()) == GIF_ERROR) {
    EGifCloseFile(raw, &err);
    return GifError::EncodeFailed;
  }
  if (indices) {
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;  // 0: the decoder is told nothing
    gcb.UserInputFlag = false;
    gcb.DelayTime = std::clamp(delayMs / 10, 0, 65535);
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType ext[4];
    EGifGCBToExtension(&gcb, ext);
    ext[3] = 0;  // no transparent colour: the unused index byte is written as 0
    bool ok = EGifPutExtension(raw, GRAPHICS_EXT_FUNC_CODE, 4, ext) != GIF_ERROR &&
              EGifPutImageDesc(raw, 0, 0, width, height, false, nullptr) != GIF_ERROR;
    for (int y = 0; ok && y < height; ++y) {
      ok = EGifPutLine(raw, const_cast<GifPixelType*>(indices + size_t(y) * size_t(width)),
                       width) != GIF_ERROR;
    }
    if (!ok) {
      EGifCloseFile(raw, &err);
      return GifError::EncodeFailed;
    }
  }
  if (EGifCloseFile(raw, &err) == GIF_ERROR) return GifError::EncodeFailed;
  return GifError::None;
}

}  // namespace

GifError encodeHeader(int width, int height, std::vector<std::uint8_t>& out) {
  std::vector<std::uint8_t> file;
  const GifError e = encodeFile(nullptr, width, height, 0, file);
  if (e != GifError::None) return e;
  if (file.size() != kHeaderBytes + kTrailerBytes) return GifError::EncodeFailed;
  out.assign(file.begin(), file.begin() + kHeaderBytes);
  return GifError::None;
}

GifError encodeIndexedFrame(const std::uint8_t* indices, int width, int height, int delayMs,
                            EncodedFrame& out) {
  if (!indices) return GifError::BadSize;
  std::vector<std::uint8_t> file;
  const GifError e = encodeFile(indices, width, height, delayMs, file);
  if (e != GifError::None) return e;
  constexpr size_t fixed = kHeaderBytes + kControlBytes + kTrailerBytes;
  if (file.size() <= fixed) return GifError::EncodeFailed;
  std::copy_n(file.begin() + kHeaderBytes, kControlBytes, out.control.begin());
  out.image.assign(file.begin() + kHeaderBytes + kControlBytes, file.end() - kTrailerBytes);
  out.delayMs = delayMs;
  return GifError::None;
}

GifError encodeFrame(const std::uint8_t* pixels, int width, int height, int delayMs,
                     EncodedFrame& out) {
  if (!pixels || width <= 0 || height <= 0) return GifError::BadSize;
  const auto indices = reduceToPalette(pixels, width, height);
  return encodeIndexedFrame(indices.data(), width, height, delayMs, out);
}

std::vector<std::uint8_t> assemble(const std::vector<std::uint8_t>& header,
                                   const std::vector<const EncodedFrame*>& frames) {
  std::vector<std::uint8_t> out(header);
  for (const EncodedFrame* f : frames) {
    out.insert(out.end(), f->control.begin(), f->control.end());
    out.insert(out.end(), f->image.begin(), f->image.end());
  }
  out.push_back(0x3B);
  return out;
}

Plan planFiles(const std::vector<std::size_t>& encodedSizes, std::size_t limit) {
  Plan plan;
  PlannedFile current;
  std::size_t running = kHeaderBytes;
  for (std::size_t i = 0; i < encodedSizes.size(); ++i) {
    const std::size_t grown = encodedSizes[i] + kControlBytes;
    const std::size_t alone = kHeaderBytes + grown;
    if (alone + kTrailerBytes > limit) {
      plan.error = GifError::FrameTooLarge;
      plan.tooLarge = i;
      plan.files.clear();
      return plan;
    }
    if (current.count > 0 && running + grown + kTrailerBytes > limit) {
      current.bytes = running + kTrailerBytes;
      plan.files.push_back(current);
      current = PlannedFile{i, 0, 0};
      running = kHeaderBytes;
    }
    if (current.count == 0) current.first = i;
    running += grown;
    ++current.count;
  }
  if (current.count > 0) {
    current.bytes = running + kTrailerBytes;
    plan.files.push_back(current);
  }
  return plan;
}

GifWriter::GifWriter(int width, int height, std::size_t limit)
    : width_(width), height_(height), limit_(limit) {}

std::string GifWriter::fileName(int n) {
  char name[32];
  std::snprintf(name, sizeof name, "%04d.GIF", n);
  return name;
}

GifError GifWriter::encodeAll(const std::vector<Frame>& frames, const Callbacks* callbacks,
                              std::vector<EncodedFrame>& encoded) const {
  encoded.clear();
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (callbacks && callbacks->includeFrame && !callbacks->includeFrame(i)) continue;
    EncodedFrame f;
    const GifError e = encodeFrame(frames[i].pixels, width_, height_, frames[i].delayMs, f);
    if (e != GifError::None) return e;
    encoded.push_back(std::move(f));
  }
  return encoded.empty() ? GifError::NoFrames : GifError::None;
}

namespace {

std::vector<std::size_t> sizesOf(const std::vector<EncodedFrame>& encoded) {
  std::vector<std::size_t> sizes;
  sizes.reserve(encoded.size());
  for (const auto& f : encoded) sizes.push_back(f.image.size());
  return sizes;
}

std::vector<const EncodedFrame*> framesOf(const std::vector<EncodedFrame>& encoded,
                                          const PlannedFile& file) {
  std::vector<const EncodedFrame*> out;
  for (std::size_t k = 0; k < file.count; ++k) out.push_back(&encoded[file.first + k]);
  return out;
}

}  // namespace

GifError GifWriter::build(const std::vector<Frame>& frames,
                          std::vector<std::vector<std::uint8_t>>& files) const {
  files.clear();
  std::vector<EncodedFrame> encoded;
  if (GifError e = encodeAll(frames, nullptr, encoded); e != GifError::None) return e;
  const Plan plan = planFiles(sizesOf(encoded), limit_);
  if (plan.error != GifError::None) return plan.error;
  std::vector<std::uint8_t> header;
  if (GifError e = encodeHeader(width_, height_, header); e != GifError::None) return e;
  for (const auto& file : plan.files) files.push_back(assemble(header, framesOf(encoded, file)));
  return GifError::None;
}

GifError GifWriter::write(const std::string& directory, const std::vector<Frame>& frames,
                          const Callbacks& callbacks) const {
  std::vector<EncodedFrame> encoded;
  if (GifError e = encodeAll(frames, &callbacks, encoded); e != GifError::None) return e;
  const Plan plan = planFiles(sizesOf(encoded), limit_);
  if (plan.error != GifError::None) return plan.error;
  std::vector<std::uint8_t> header;
  if (GifError e = encodeHeader(width_, height_, header); e != GifError::None) return e;
  std::string dir = directory;
  if (dir.empty() || dir.back() != '/') dir += '/';
  int counter = 0;
  for (const auto& file : plan.files) {
    const std::string path = dir + fileName(counter);
    if (callbacks.beforeWrite && !callbacks.beforeWrite(path)) return GifError::Refused;
    const auto bytes = assemble(header, framesOf(encoded, file));
    if (!hv::fs::writeFileAtomic(
            path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))) {
      return GifError::WriteFailed;
    }
    if (callbacks.written) {
      callbacks.written(path, int(file.count), bytes.size(), encoded[file.first].delayMs);
    }
    ++counter;
  }
  return GifError::None;
}

GifError GifWriter::comic(const std::vector<const std::uint8_t*>& pictures,
                          std::vector<std::uint8_t>& out) const {
  out.clear();
  if (pictures.empty()) return GifError::NoFrames;
  std::vector<EncodedFrame> encoded(pictures.size());
  std::size_t total = kHeaderBytes + kTrailerBytes;
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    if (GifError e = encodeFrame(pictures[i], width_, height_, 1000, encoded[i]);
        e != GifError::None) {
      return e;
    }
    total += kControlBytes + encoded[i].image.size();
  }
  if (total > limit_) return GifError::TooLarge;
  std::vector<std::uint8_t> header;
  if (GifError e = encodeHeader(width_, height_, header); e != GifError::None) return e;
  std::vector<const EncodedFrame*> all;
  for (const auto& f : encoded) all.push_back(&f);
  out = assemble(header, all);
  return GifError::None;
}

// ---- reading back ----

namespace {

struct ReadSource {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
};

int readFromMemory(GifFileType* gif, GifByteType* buffer, int length) {
  auto* src = static_cast<ReadSource*>(gif->UserData);
  const std::size_t n =
      std::min<std::size_t>(std::size_t(std::max(length, 0)), src->size - src->at);
  std::memcpy(buffer, src->data + src->at, n);
  src->at += n;
  return int(n);
}

}  // namespace

GifError readGif(const std::uint8_t* data, std::size_t size, DecodedGif& out, int maxSide) {
  out = {};
  if (!data || size == 0) return GifError::ReadFailed;
  ReadSource src{data, size};
  int err = 0;
  GifFileType* gif = DGifOpen(&src, readFromMemory, &err);
  if (!gif) return GifError::ReadFailed;
  std::unique_ptr<GifFileType, void (*)(GifFileType*)> guard(gif, [](GifFileType* g) {
    int e = 0;
    DGifCloseFile(g, &e);
  });
  const int w = gif->SWidth, h = gif->SHeight;
  if (w <= 0 || h <= 0 || w > maxSide || h > maxSide) return GifError::ReadFailed;
  out.width = w;
  out.height = h;
  const std::size_t frameBytes = size_t(w) * size_t(h) * 3;
  constexpr std::size_t kMaxTotal = 256u << 20;  // all frames read back together
  std::vector<std::uint8_t> canvas(frameBytes, 0);
  GraphicsControlBlock gcb{};
  gcb.TransparentColor = NO_TRANSPARENT_COLOR;
  GifRecordType type = UNDEFINED_RECORD_TYPE;
  do {
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return GifError::ReadFailed;
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return GifError::ReadFailed;
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] == 4) {
        DGifExtensionToGCB(4, ext + 1, &gcb);
      }
      while (ext) {
        if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return GifError::ReadFailed;
      }
    } else if (type == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(gif) == GIF_ERROR) return GifError::ReadFailed;
      const GifImageDesc d = gif->Image;
      if (d.Width <= 0 || d.Height <= 0 || d.Width > maxSide || d.Height > maxSide) {
        return GifError::ReadFailed;
      }
      if ((out.frames.size() + 1) * frameBytes > kMaxTotal) return GifError::ReadFailed;
      std::vector<GifPixelType> raster(size_t(d.Width) * size_t(d.Height));
      // Interlaced images arrive in four passes of rows.
      std::vector<int> rows;
      if (d.Interlace) {
        for (int pass = 0; pass < 4; ++pass) {
          static constexpr int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
          for (int y = start[pass]; y < d.Height; y += step[pass]) rows.push_back(y);
        }
      } else {
        for (int y = 0; y < d.Height; ++y) rows.push_back(y);
      }
      for (int y : rows) {
        if (DGifGetLine(gif, &raster[size_t(y) * size_t(d.Width)], d.Width) == GIF_ERROR) {
          return GifError::ReadFailed;
        }
      }
      const ColorMapObject* map = gif->Image.ColorMap ? gif->Image.ColorMap : gif->SColorMap;
      if (!map) return GifError::ReadFailed;
      for (int y = 0; y < d.Height; ++y) {
        for (int x = 0; x < d.Width; ++x) {
          const int cx = d.Left + x, cy = d.Top + y;
          if (cx < 0 || cy < 0 || cx >= w || cy >= h) continue;
          const int index = raster[size_t(y) * size_t(d.Width) + size_t(x)];
          if (index == gcb.TransparentColor || index >= map->ColorCount) continue;
          std::uint8_t* p = &canvas[(size_t(cy) * size_t(w) + size_t(cx)) * 3];
          p[0] = map->Colors[index].Blue;
          p[1] = map->Colors[index].Green;
          p[2] = map->Colors[index].Red;
        }
      }
      out.frames.push_back(canvas);
      out.delaysMs.push_back(gcb.DelayTime * 10);
      gcb = GraphicsControlBlock{};
      gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    }
  } while (type != TERMINATE_RECORD_TYPE);
  return out.frames.empty() ? GifError::ReadFailed : GifError::None;
}

GifError readGif(const std::string& path, DecodedGif& out, int maxSide) {
  const auto bytes = hv::fs::readFile(path);
  if (!bytes) return GifError::ReadFailed;
  return readGif(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size(), out, maxSide);
}

}  // namespace graph
