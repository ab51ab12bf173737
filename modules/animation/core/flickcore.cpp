#include "modules/animation/core/flickcore.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace hv::flick {

const char* errorText(MovieError e) {
  switch (e) {
    case MovieError::None:
      return "no error";
    case MovieError::Unreadable:
      return "the file cannot be read as an SWF file";
    case MovieError::BadSignature:
      return "the file starts with neither FWS nor CWS";
  }
  return "unknown movie error";
}

const char* errorText(RenderError e) {
  switch (e) {
    case RenderError::None:
      return "no error";
    case RenderError::BadArguments:
      return "the output size or the step is not positive";
    case RenderError::Compressed:
      return "a compressed movie of version 5 or lower";
    case RenderError::LoadFailed:
      return "the engine could not load the movie";
    case RenderError::NoFrames:
      return "the first frame does not exist";
    case RenderError::Stopped:
      return "the rendering was stopped";
    case RenderError::RenderFailed:
      return "a frame could not be drawn";
  }
  return "unknown render error";
}

int Movie::rate() const {
  if (!engineRules()) return kAssumedRate;
  const int whole = header.frameRate >> 8;
  return whole > 0 ? whole : kAssumedRate;
}

int Movie::width() const {
  const int w = header.stageWidth();
  return w > 0 && height() > 0 && header.stageHeight() > 0 ? w : 640;
}

int Movie::height() const {
  const int w = header.stageWidth(), h = header.stageHeight();
  return w > 0 && h > 0 ? h : 480;
}

namespace {

MovieError fromFailure(const flash::Failure& f) {
  if (f.ok()) return MovieError::None;
  return f.error == flash::Error::BadSignature ? MovieError::BadSignature : MovieError::Unreadable;
}

bool signatureOk(const flash::Header& h) {
  return (h.signature[0] == 'F' || h.signature[0] == 'C') && h.signature[1] == 'W' &&
         h.signature[2] == 'S';
}

}  // namespace

MovieError openMovie(const std::string& path, Movie& movie) {
  movie = {};
  flash::Header h;
  if (MovieError e = fromFailure(flash::readHeader(path, h)); e != MovieError::None) return e;
  if (!signatureOk(h)) return MovieError::BadSignature;
  movie.path = path;
  movie.header = h;
  return MovieError::None;
}

MovieError openMovie(const std::uint8_t* data, std::size_t size, Movie& movie) {
  movie = {};
  flash::Header h;
  if (MovieError e = fromFailure(flash::readHeader(data, size, h)); e != MovieError::None) {
    return e;
  }
  if (!signatureOk(h)) return MovieError::BadSignature;
  movie.header = h;
  return MovieError::None;
}

int sampleStep(int quality) {
  quality = std::clamp(quality, 1, 100);
  return int(std::lround(100.0 / quality));
}

int frameDelayMs(int step, int rate) {
  return rate > 0 ? step * 1000 / rate : 0;
}

namespace {

bool drawInto(flash::Player& player, Frame& frame) {
  frame.width = player.width();
  frame.height = player.height();
  frame.pixels.assign(player.rowStride() * size_t(player.height()), 0);
  return player.render(frame.pixels.data(), player.rowStride(), flash::PixelOrder::BGR).ok();
}

}  // namespace

RenderError render(const Movie& movie, int first, int last, int step, int width, int height,
                   const RenderCallbacks& cb, std::vector<Frame>& frames) {
  frames.clear();
  if (width <= 0 || height <= 0 || step <= 0 || first < 0) return RenderError::BadArguments;
  if (movie.engineRules() && movie.header.compressed()) return RenderError::Compressed;
  const int delay = frameDelayMs(step, movie.rate());
  flash::Player player(width, height);
  if (!player.load(movie.path).ok()) return RenderError::LoadFailed;
  const int count = player.frameCount();
  const int lastFrame = (last < 0 || last + 1 > count) ? count : last + 1;  // from 1
  const int expected = lastFrame >= first + 1 ? (lastFrame - 1 - first) / step + 2 : 1;
  if (cb.begin && !cb.begin(expected)) return RenderError::Stopped;
  RenderError result = RenderError::None;
  if (!player.gotoFrame(first + 1)) {
    result = RenderError::NoFrames;
  } else {
    for (;;) {
      Frame f;
      f.number = player.currentFrame();
      f.delayMs = delay;
      if (!drawInto(player, f)) {
        result = RenderError::RenderFailed;
        break;
      }
      frames.push_back(std::move(f));
      int w = player.width(), h = player.height();
      if (cb.frame && !cb.frame(frames.back(), w, h)) {
        result = RenderError::Stopped;
        break;
      }
      if ((w != player.width() || h != player.height()) && !player.resize(w, h).ok()) {
        result = RenderError::RenderFailed;
        break;
      }
      const int now = player.currentFrame();
      const int next = now + step;
      if (next > lastFrame || !player.gotoFrame(next) || player.currentFrame() <= now) break;
    }
  }
  if (cb.end) cb.end();
  if (result != RenderError::None && result != RenderError::Stopped) frames.clear();
  return result;
}

RenderError renderOne(const Movie& movie, int mark, int width, int height, Frame& frame) {
  if (width <= 0 || height <= 0 || mark < 0) return RenderError::BadArguments;
  flash::Player player(width, height);
  if (!player.load(movie.path).ok()) return RenderError::LoadFailed;
  if (!player.gotoFrame(mark + 1)) return RenderError::NoFrames;
  frame = {};
  frame.number = player.currentFrame();
  if (!drawInto(player, frame)) return RenderError::RenderFailed;
  return RenderError::None;
}

int Target::previewWidth() const {
  return std::max(1, width * xscale / 100);
}
int Target::previewHeight() const {
  return std::max(1, height * yscale / 100);
}

Target targetOf(const IMAGETYPE_INFO& type) {
  Target t;
  t.width = type.picwidth;
  t.height = type.picheight;
  t.xscale = type.xscale;
  t.yscale = type.yscale;
  return t;
}

graph::GifError writeResults(const std::vector<Frame>& frames, const Target& target,
                             const std::string& dir, std::vector<ResultFile>& files) {
  files.clear();
  std::vector<graph::GifWriter::Frame> in;
  for (const auto& f : frames) {
    if (f.width != target.width || f.height != target.height) return graph::GifError::BadSize;
    in.push_back({f.pixels.data(), f.delayMs});
  }
  graph::GifWriter::Callbacks cb;
  cb.written = [&](const std::string& path, int n, std::size_t bytes, int) {
    files.push_back({int(files.size()), n, bytes, path});
  };
  return graph::GifWriter(target.width, target.height, target.limit).write(dir, in, cb);
}

graph::GifError buildComic(const std::vector<const Frame*>& pictures, const Target& target,
                           std::vector<std::uint8_t>& out) {
  std::vector<const std::uint8_t*> in;
  for (const Frame* f : pictures) {
    if (!f || f->width != target.width || f->height != target.height) {
      return graph::GifError::BadSize;
    }
    in.push_back(f->pixels.data());
  }
  return graph::GifWriter(target.width, target.height, target.limit).comic(in, out);
}

MessageHeader requestHeader(std::string_view recipient, std::string_view sender,
                            std::string_view modelName, std::string_view typeKey) {
  MessageHeader h(1, 0);
  h.setServiceCode("WAP");
  h.setContentClass("FLASH");
  h.setRecipient(0, recipient);
  h.setSender(sender);
  h.setModel(modelName);
  h.setContentKind(typeKey);
  h.setContentType("GIF");
  return h;
}

std::vector<std::uint8_t> bmpFile(const Frame& frame) {
  const int w = frame.width, h = frame.height;
  const std::size_t row = (std::size_t(w) * 3 + 3) / 4 * 4;
  const std::size_t data = row * std::size_t(h);
  std::vector<std::uint8_t> out(54 + data, 0);
  auto u16 = [&](std::size_t at, std::uint32_t v) {
    out[at] = std::uint8_t(v);
    out[at + 1] = std::uint8_t(v >> 8);
  };
  auto u32 = [&](std::size_t at, std::uint32_t v) {
    u16(at, v & 0xFFFF);
    u16(at + 2, v >> 16);
  };
  out[0] = 'B';
  out[1] = 'M';
  u32(2, std::uint32_t(out.size()));
  u32(10, 54);
  u32(14, 40);
  u32(18, std::uint32_t(w));
  u32(22, std::uint32_t(h));
  u16(26, 1);
  u16(28, 24);
  u32(34, std::uint32_t(data));
  u32(38, 2835);  // 72 dpi
  u32(42, 2835);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* src = frame.pixels.data() + std::size_t(y) * std::size_t(w) * 3;
    std::memcpy(&out[54 + std::size_t(h - 1 - y) * row], src, std::size_t(w) * 3);
  }
  return out;
}

}  // namespace hv::flick
