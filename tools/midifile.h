#pragma once
// Standard MIDI Files (format 0 and 1), read strictly and written plainly. The reader checks every
// chunk length, variable-length quantity, event length and count against the bytes that are there,
// accepts running status for channel messages only, and fails with a typed error on anything else;
// it never reads past its input and runs in time linear in it.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

namespace hv::midi {

enum class Error {
  NoHeader,         // no "MThd" chunk of at least 6 bytes at the start
  BadFormat,        // format other than 0 and 1, or format 0 with more than one track
  BadDivision,      // zero ticks per quarter note, or an unknown SMPTE frame rate
  Truncated,        // a chunk, event or number runs past the end of its chunk or the file
  TrackCount,       // fewer "MTrk" chunks than the header announces
  BadQuantity,      // a variable-length quantity longer than 4 bytes
  NoRunningStatus,  // a data byte where a status byte is needed
  BadStatus,        // a system common or real-time status, which files do not carry
  BadData,          // a channel message data byte of 0x80 or more
  BadMeta,          // a meta event whose length its type does not allow
  NoEndOfTrack,     // a track that does not end with the end-of-track event
  EventsAfterEnd,   // bytes after the end-of-track event
  TooLong,          // a file larger than kMaxFileSize, or ticks beyond 32 bits
};
std::string_view errorText(Error error);

inline constexpr size_t kMaxFileSize = 16u << 20;

inline constexpr uint8_t kMetaTrackName = 0x03;
inline constexpr uint8_t kMetaEndOfTrack = 0x2F;
inline constexpr uint8_t kMetaTempo = 0x51;

struct Event {
  uint32_t tick = 0;  // absolute, from the start of the track
  // 0x80-0xEF channel message, 0xF0 or 0xF7 system exclusive, 0xFF meta event.
  uint8_t status = 0;
  uint8_t metaType = 0;       // for meta events
  std::vector<uint8_t> data;  // channel message data bytes, or the sysex/meta payload

  uint8_t channel() const { return status & 0x0F; }
  uint8_t kind() const { return status & 0xF0; }
};

struct Track {
  std::vector<Event> events;  // in file order; a read track ends with its end-of-track event
};

struct File {
  uint16_t format = 0;
  // Ticks per quarter note, or (bit 15 set) SMPTE frames per second and ticks per frame.
  uint16_t division = 96;
  std::vector<Track> tracks;
};

struct ReadFailure {
  Error error;
  size_t offset;  // where in the file it was found
};

std::variant<File, ReadFailure> read(std::span<const uint8_t> bytes);

// The file's bytes. Each track's events must be in tick order; an end-of-track event is added to a
// track that has none.
std::vector<uint8_t> write(const File& file);

// Microseconds per quarter note of a tempo meta event.
uint32_t tempoOf(const Event& event);
Event tempoEvent(uint32_t tick, uint32_t microsecondsPerQuarter);
Event noteEvent(uint32_t tick, bool on, uint8_t channel, uint8_t key, uint8_t velocity);
Event metaEvent(uint32_t tick, uint8_t type, std::vector<uint8_t> data);

}  // namespace hv::midi
