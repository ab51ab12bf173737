#pragma once
// What a recipient's phone would show for a received message, worked out from the stored bytes
// alone: texts (numbered parts joined), Nokia Smart Messaging logos, icons, picture messages,
// screensavers and ringing tones, EMS pictures and iMelody tones (3GPP TS 23.040), Siemens
// "//SEO" objects, Alcatel column bitmaps, the Motorola strip picture, and colour pictures and GIF
// animations carried whole. Bytes that none of these explain come back as undecodable, with the
// reason. No decoder trusts a length it reads: every read is checked against the bytes there are.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace hv::phone {

using Bytes = std::vector<uint8_t>;

// A black-and-white picture; ink holds width x height values, row by row from the top,
// 1 for ink (dark) and 0 for paper.
struct Bitmap {
  int width = 0, height = 0;
  std::vector<uint8_t> ink;
  bool inkAt(int x, int y) const { return ink[size_t(y) * size_t(width) + size_t(x)] != 0; }
};

// One note of a ringing tone, in the terms of an RTTTL text: name "P" (pause), "C", "C#", ...
// "A#", "B"; octave as RTTTL counts it (A of octave 5 is 880 Hz); duration 1 (whole) to 32;
// special "." dotted, ";" double-dotted, "&" two thirds, or empty.
struct Note {
  std::string name;
  int octave = 5;
  int duration = 4;
  std::string special;
  double frequency() const;  // 0 for a pause
  // Length at `bpm` quarter notes per minute.
  int milliseconds(int bpm) const;
  bool operator==(const Note&) const = default;
};

struct Melody {
  int bpm = 63;
  std::vector<Note> notes;
  std::string source;  // the iMelody text; empty for a Nokia tone
};

enum class Kind {
  Text,
  FlashText,
  OperatorLogo,
  CallerIcon,
  PictureMessage,
  Screensaver,
  EmsPicture,
  SiemensPicture,
  AlcatelPicture,
  MotorolaPicture,
  NokiaRingtone,
  IMelody,
  ColourPicture,  // a JPEG, PNG, BMP or still GIF shown as it came
  Animation,      // a GIF of several frames
  Undecodable,
};
// The Chinese name shown for a kind.
const char* kindName(Kind k);

struct Item {
  Kind kind = Kind::Undecodable;
  std::string text;     // UTF-8: the text, a picture message's caption, the operator (MCC/MNC)
  Bitmap bitmap;        // the picture kinds
  Melody melody;        // the ringing tones
  std::string mime;     // ColourPicture and Animation: the content's type
  Bytes raw;            // ColourPicture and Animation: the file; Undecodable: the bytes
  std::string problem;  // Undecodable: why
};

// The stored message as the service received it.
struct Received {
  std::string serviceCode, contentClass, contentKind, contentType;
  std::vector<std::string> texts;    // the "SMS" path: texts or binary user data, as sent
  Bytes content;                     // other service codes
  std::vector<Bytes> shortMessages;  // other service codes: the content as a packed message file
};

std::vector<Item> decode(const Received& message);

// The decoders below work on the user data of binary short messages, in sending order, and are
// what decode() uses. Each gives nullopt when the bytes are not its format.
// Concatenated messages are put together by their reference; a series with a part missing or
// twice is undecodable.
std::vector<Item> decodeBinary(const std::vector<Bytes>& userData);

// Smart Messaging OTA bitmap: 00, width, height, 01, then width x height bits, rows not padded.
std::optional<Bitmap> decodeOtaBitmap(std::span<const uint8_t> data, size_t* used = nullptr);
// A one-bit Windows BMP file (bottom-up or top-down rows, two-colour palette); dark palette
// colours are ink.
std::optional<Bitmap> decodeBmp1(std::span<const uint8_t> file);
// Alcatel column bitmap object: width, height, then per column ceil(height/8) bytes.
std::optional<Bitmap> decodeColumnBitmap(std::span<const uint8_t> object);
// A Smart Messaging ringing-tone body (after the user-data header).
std::optional<Melody> decodeNokiaRingtone(std::span<const uint8_t> body, std::string* problem);
// An iMelody text (or the BEAT and MELODY lines of one).
std::optional<Melody> decodeIMelody(std::string_view text, std::string* problem);

// Joins the texts of a numbered series: a leading "(u/n)" and the LF after it are dropped from
// each part when every part carries the prefix of its own place in a series of that many.
std::string joinNumbered(const std::vector<std::string>& parts);

}  // namespace hv::phone
