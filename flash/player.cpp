// The exported Player: a movie read by the reader, played by the stage, drawn by the renderer.
#include <fstream>
#include <iterator>

#include "flash/flash.h"
#include "flash/player/stage.h"
#include "flash/reader/movie.h"
#include "flash/reader/stream.h"
#include "flash/render/renderer.h"

namespace flash {

struct Player::Impl {
  int width, height;
  Limits limits;
  std::unique_ptr<swf::Movie> movie;
  std::unique_ptr<player::Stage> stage;
  std::unique_ptr<render::Renderer> renderer;
  render::Canvas canvas;
  std::function<void(const std::string&)> trace;
  // True while the state is the one gotoFrame() defines: reached from the start through frames
  // 1, 2, ... without the main timeline being moved otherwise.
  bool replayState = false;

  void restart() {
    stage.reset();
    stage = std::make_unique<player::Stage>(*movie, limits, [this](const std::string& line) {
      if (trace) trace(line);
    });
    stage->start();
    replayState = !stage->rootNavigated();
  }
};

Player::Player(int width, int height, Limits limits) : impl_(std::make_unique<Impl>()) {
  impl_->width = width;
  impl_->height = height;
  impl_->limits = limits;
}

Player::~Player() {
  // The stage refers to the movie: it goes first.
  impl_->stage.reset();
  impl_->renderer.reset();
}

Failure Player::load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Failure{Error::CannotOpen};
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  in.seekg(0);
  // A compressed file cannot hold more than the uncompressed limit allows either.
  if (size < 0 || std::size_t(size) > impl_->limits.fileBytes) return Failure{Error::TooLarge};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), size);
  if (!in) return Failure{Error::CannotOpen};
  return load(bytes.data(), bytes.size());
}

Failure Player::load(const std::uint8_t* data, std::size_t size) {
  impl_->stage.reset();
  impl_->renderer.reset();
  impl_->movie.reset();
  if (!data || size == 0) return Failure{Error::TooShort};
  try {
    impl_->movie = swf::readMovie(data, size, impl_->limits);
  } catch (const swf::ReadError& e) {
    return e.failure();
  } catch (const std::bad_alloc&) {
    return Failure{Error::TooLarge};
  }
  impl_->renderer = std::make_unique<render::Renderer>(*impl_->movie);
  impl_->restart();
  return {};
}

bool Player::loaded() const {
  return impl_->movie != nullptr;
}

const Header& Player::header() const {
  static const Header none;
  return impl_->movie ? impl_->movie->header : none;
}

Failure Player::damage() const {
  return impl_->movie ? impl_->movie->damage : Failure{};
}

int Player::frameCount() const {
  return impl_->stage ? impl_->stage->root().frameCount() : 0;
}

std::uint16_t Player::frameRate() const {
  return header().frameRate;
}

double Player::framesPerSecond() const {
  return header().frameRate / 256.0;
}

int Player::currentFrame() const {
  return impl_->stage ? impl_->stage->root().frame : 0;
}

bool Player::gotoFrame(int n) {
  if (!impl_->stage || n < 1 || n > frameCount()) return false;
  if (!impl_->replayState || n < currentFrame()) impl_->restart();
  impl_->stage->replayTo(n);
  impl_->replayState = true;
  return true;
}

bool Player::nextFrame() {
  if (!impl_->stage) return false;
  int before = currentFrame();
  impl_->stage->tick();
  impl_->replayState = false;
  return currentFrame() != before;
}

bool Player::playing() const {
  return impl_->stage && impl_->stage->root().playing;
}

Failure Player::resize(int width, int height) {
  if (width <= 0 || height <= 0) return Failure{Error::BadArgument};
  impl_->width = width;
  impl_->height = height;
  return {};
}

int Player::width() const {
  return impl_->width;
}

int Player::height() const {
  return impl_->height;
}

std::size_t Player::rowStride() const {
  return std::size_t(std::max(impl_->width, 0)) * 3;
}

Failure Player::render(std::uint8_t* pixels, std::size_t stride, PixelOrder order) {
  if (!impl_->stage) return Failure{Error::NotLoaded};
  if (!pixels || impl_->width <= 0 || impl_->height <= 0 || stride < rowStride())
    return Failure{Error::BadArgument};
  render::Canvas& canvas = impl_->canvas;
  canvas.width = impl_->width;
  canvas.height = impl_->height;
  impl_->renderer->render(impl_->stage->root(), impl_->stage->background(), canvas);
  int r = order == PixelOrder::RGB ? 0 : 2, b = 2 - r;
  for (int y = 0; y < canvas.height; ++y) {
    const std::uint8_t* src = canvas.rgba.data() + std::size_t(y) * std::size_t(canvas.width) * 4;
    std::uint8_t* dst = pixels + std::size_t(y) * stride;
    for (int x = 0; x < canvas.width; ++x, src += 4, dst += 3) {
      dst[r] = src[0];
      dst[1] = src[1];
      dst[b] = src[2];
    }
  }
  return {};
}

void Player::setTraceHandler(std::function<void(const std::string&)> handler) {
  impl_->trace = std::move(handler);
}

}  // namespace flash
