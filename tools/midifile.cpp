#include "tools/midifile.h"

#include <optional>

namespace hv::midi {
namespace {

uint32_t be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

class TrackReader {
 public:
  TrackReader(std::span<const uint8_t> bytes, size_t base) : in_(bytes), base_(base) {}

  std::optional<ReadFailure> readAll(Track& track) {
    uint8_t running = 0;
    uint64_t tick = 0;
    bool ended = false;
    while (pos_ < in_.size()) {
      if (ended) return fail(Error::EventsAfterEnd);
      auto delta = quantity();
      if (!delta) return failure_;
      tick += *delta;
      if (tick > UINT32_MAX) return fail(Error::TooLong);
      if (pos_ >= in_.size()) return fail(Error::Truncated);
      Event e;
      e.tick = uint32_t(tick);
      uint8_t b = in_[pos_];
      if (b < 0x80) {
        if (!running) return fail(Error::NoRunningStatus);
        e.status = running;
      } else {
        e.status = b;
        ++pos_;
      }
      if (e.status < 0xF0) {
        running = e.status;
        size_t n = (e.kind() == 0xC0 || e.kind() == 0xD0) ? 1 : 2;
        if (pos_ + n > in_.size()) return fail(Error::Truncated);
        for (size_t i = 0; i < n; ++i) {
          if (in_[pos_] >= 0x80) return fail(Error::BadData);
          e.data.push_back(in_[pos_++]);
        }
      } else if (e.status == 0xF0 || e.status == 0xF7 || e.status == 0xFF) {
        // System exclusive and meta events cancel running status.
        running = 0;
        if (e.status == 0xFF) {
          if (pos_ >= in_.size()) return fail(Error::Truncated);
          e.metaType = in_[pos_++];
        }
        auto length = quantity();
        if (!length) return failure_;
        if (*length > in_.size() - pos_) return fail(Error::Truncated);
        e.data.assign(in_.begin() + long(pos_), in_.begin() + long(pos_ + *length));
        pos_ += *length;
        if (e.status == 0xFF) {
          if ((e.metaType == kMetaEndOfTrack && !e.data.empty()) ||
              (e.metaType == kMetaTempo && e.data.size() != 3))
            return fail(Error::BadMeta);
          if (e.metaType == kMetaEndOfTrack) ended = true;
        }
      } else {
        return fail(Error::BadStatus);
      }
      track.events.push_back(std::move(e));
    }
    if (!ended) return fail(Error::NoEndOfTrack);
    return std::nullopt;
  }

 private:
  std::optional<uint32_t> quantity() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      if (pos_ >= in_.size()) {
        failure_ = ReadFailure{Error::Truncated, base_ + pos_};
        return std::nullopt;
      }
      uint8_t b = in_[pos_++];
      v = v << 7 | (b & 0x7F);
      if (!(b & 0x80)) return v;
    }
    failure_ = ReadFailure{Error::BadQuantity, base_ + pos_};
    return std::nullopt;
  }
  ReadFailure fail(Error e) { return ReadFailure{e, base_ + pos_}; }

  std::span<const uint8_t> in_;
  size_t base_;
  size_t pos_ = 0;
  ReadFailure failure_{Error::Truncated, 0};
};

void putQuantity(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t groups[5];
  int n = 0;
  do {
    groups[n++] = uint8_t(v & 0x7F);
    v >>= 7;
  } while (v && n < 5);
  while (n-- > 0) out.push_back(uint8_t(groups[n] | (n ? 0x80 : 0)));
}

void putBe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

}  // namespace

std::string_view errorText(Error error) {
  switch (error) {
    case Error::NoHeader:
      return "not a standard MIDI file (no MThd header)";
    case Error::BadFormat:
      return "unsupported MIDI file format";
    case Error::BadDivision:
      return "invalid time division";
    case Error::Truncated:
      return "file cut short";
    case Error::TrackCount:
      return "fewer tracks than the header announces";
    case Error::BadQuantity:
      return "variable-length number longer than 4 bytes";
    case Error::NoRunningStatus:
      return "data byte without a running status";
    case Error::BadStatus:
      return "system common or real-time status in a file";
    case Error::BadData:
      return "channel message data byte out of range";
    case Error::BadMeta:
      return "meta event of a wrong length";
    case Error::NoEndOfTrack:
      return "track without an end-of-track event";
    case Error::EventsAfterEnd:
      return "events after the end of a track";
    case Error::TooLong:
      return "file or track too long";
  }
  return "unknown error";
}

std::variant<File, ReadFailure> read(std::span<const uint8_t> in) {
  if (in.size() > kMaxFileSize) return ReadFailure{Error::TooLong, 0};
  if (in.size() < 14 || in[0] != 'M' || in[1] != 'T' || in[2] != 'h' || in[3] != 'd' ||
      be32(&in[4]) < 6)
    return ReadFailure{Error::NoHeader, 0};
  uint32_t headerLength = be32(&in[4]);
  if (headerLength > in.size() - 8) return ReadFailure{Error::Truncated, 4};
  File file;
  file.format = uint16_t(in[8] << 8 | in[9]);
  uint16_t tracks = uint16_t(in[10] << 8 | in[11]);
  file.division = uint16_t(in[12] << 8 | in[13]);
  if (file.format > 1 || (file.format == 0 && tracks != 1)) return ReadFailure{Error::BadFormat, 8};
  if (file.division & 0x8000) {
    int fps = -int8_t(file.division >> 8);
    if ((fps != 24 && fps != 25 && fps != 29 && fps != 30) || (file.division & 0xFF) == 0)
      return ReadFailure{Error::BadDivision, 12};
  } else if (file.division == 0) {
    return ReadFailure{Error::BadDivision, 12};
  }

  size_t pos = 8 + headerLength;
  while (file.tracks.size() < tracks) {
    if (in.size() - pos < 8) return ReadFailure{Error::TrackCount, pos};
    uint32_t length = be32(&in[pos + 4]);
    if (length > in.size() - pos - 8) return ReadFailure{Error::Truncated, pos + 4};
    bool isTrack = in[pos] == 'M' && in[pos + 1] == 'T' && in[pos + 2] == 'r' && in[pos + 3] == 'k';
    if (isTrack) {
      Track track;
      TrackReader reader(in.subspan(pos + 8, length), pos + 8);
      if (auto failure = reader.readAll(track)) return *failure;
      file.tracks.push_back(std::move(track));
    }
    // Chunks of other types are skipped, as the standard asks of readers.
    pos += 8 + length;
  }
  return file;
}

std::vector<uint8_t> write(const File& file) {
  std::vector<uint8_t> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
  out.push_back(uint8_t(file.format >> 8));
  out.push_back(uint8_t(file.format));
  out.push_back(uint8_t(file.tracks.size() >> 8));
  out.push_back(uint8_t(file.tracks.size()));
  out.push_back(uint8_t(file.division >> 8));
  out.push_back(uint8_t(file.division));
  for (const auto& track : file.tracks) {
    std::vector<uint8_t> body;
    uint32_t last = 0;
    bool ended = false;
    for (const auto& e : track.events) {
      if (ended) break;
      putQuantity(body, e.tick - last);
      last = e.tick;
      body.push_back(e.status);
      if (e.status == 0xFF) body.push_back(e.metaType);
      if (e.status >= 0xF0) putQuantity(body, uint32_t(e.data.size()));
      body.insert(body.end(), e.data.begin(), e.data.end());
      ended = e.status == 0xFF && e.metaType == kMetaEndOfTrack;
    }
    if (!ended) body.insert(body.end(), {0x00, 0xFF, kMetaEndOfTrack, 0x00});
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    putBe32(out, uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
  }
  return out;
}

uint32_t tempoOf(const Event& e) {
  if (e.data.size() != 3) return 500000;
  return uint32_t(e.data[0]) << 16 | uint32_t(e.data[1]) << 8 | e.data[2];
}

Event tempoEvent(uint32_t tick, uint32_t us) {
  return metaEvent(tick, kMetaTempo, {uint8_t(us >> 16), uint8_t(us >> 8), uint8_t(us)});
}

Event noteEvent(uint32_t tick, bool on, uint8_t channel, uint8_t key, uint8_t velocity) {
  Event e;
  e.tick = tick;
  e.status = uint8_t((on ? 0x90 : 0x80) | (channel & 0x0F));
  e.data = {uint8_t(key & 0x7F), uint8_t(velocity & 0x7F)};
  return e;
}

Event metaEvent(uint32_t tick, uint8_t type, std::vector<uint8_t> data) {
  Event e;
  e.tick = tick;
  e.status = 0xFF;
  e.metaType = type;
  e.data = std::move(data);
  return e;
}

}  // namespace hv::midi
