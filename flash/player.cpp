// The exported Player: loading, frame navigation and rendering on top of the reader.
#include <fstream>
#include <iterator>

#include "flash/flash.h"
#include "flash/reader/movie.h"
#include "flash/reader/stream.h"

namespace flash {

struct Player::Impl {
  int width, height;
  Limits limits;
  std::unique_ptr<swf::Movie> movie;
  int frame = 0;
  bool playing = true;
  swf::Rgba background{255, 255, 255, 255};
  std::function<void(const std::string&)> trace;

  int frameCount() const {
    if (!movie) return 0;
    return std::max<int>(1, int(movie->timeline.frames.size()));
  }
  void applyBackground(int upTo) {
    background = {255, 255, 255, 255};
    for (int f = 0; f < upTo && f < int(movie->timeline.frames.size()); ++f)
      for (const auto& p : movie->timeline.frames[std::size_t(f)])
        if (p.kind == swf::Placement::Kind::Background) background = p.color;
  }
};

Player::Player(int width, int height, Limits limits) : impl_(std::make_unique<Impl>()) {
  impl_->width = width;
  impl_->height = height;
  impl_->limits = limits;
}

Player::~Player() = default;

Failure Player::load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Failure{Error::CannotOpen};
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (in.bad()) return Failure{Error::CannotOpen};
  return load(bytes.data(), bytes.size());
}

Failure Player::load(const std::uint8_t* data, std::size_t size) {
  impl_->movie.reset();
  impl_->frame = 0;
  if (!data || size == 0) return Failure{Error::TooShort};
  try {
    impl_->movie = swf::readMovie(data, size, impl_->limits);
  } catch (const swf::ReadError& e) {
    return e.failure();
  } catch (const std::bad_alloc&) {
    return Failure{Error::TooLarge};
  }
  impl_->frame = 1;
  impl_->playing = true;
  impl_->applyBackground(1);
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
  return impl_->frameCount();
}

std::uint16_t Player::frameRate() const {
  return header().frameRate;
}

double Player::framesPerSecond() const {
  return header().frameRate / 256.0;
}

int Player::currentFrame() const {
  return impl_->frame;
}

bool Player::gotoFrame(int n) {
  if (!impl_->movie || n < 1 || n > frameCount()) return false;
  impl_->frame = n;
  impl_->applyBackground(n);
  return true;
}

bool Player::nextFrame() {
  if (!impl_->movie || !impl_->playing || frameCount() < 2) return false;
  impl_->frame = impl_->frame % frameCount() + 1;
  impl_->applyBackground(impl_->frame);
  return true;
}

bool Player::playing() const {
  return impl_->playing;
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
  if (!impl_->movie) return Failure{Error::NotLoaded};
  if (!pixels || impl_->width <= 0 || impl_->height <= 0 || stride < rowStride())
    return Failure{Error::BadArgument};
  swf::Rgba c = impl_->background;
  std::uint8_t first = order == PixelOrder::RGB ? c.r : c.b;
  std::uint8_t last = order == PixelOrder::RGB ? c.b : c.r;
  for (int y = 0; y < impl_->height; ++y) {
    std::uint8_t* row = pixels + std::size_t(y) * stride;
    for (int x = 0; x < impl_->width; ++x) {
      row[x * 3] = first;
      row[x * 3 + 1] = c.g;
      row[x * 3 + 2] = last;
    }
  }
  return {};
}

void Player::setTraceHandler(std::function<void(const std::string&)> handler) {
  impl_->trace = std::move(handler);
}

}  // namespace flash
