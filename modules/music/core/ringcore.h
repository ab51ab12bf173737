#pragma once
// The music module's core: which ringtone format a phone model takes, the conversion of a MIDI
// file through Tunecast's exports into the short messages of a ringtone, and the request that
// carries them. No Qt and no ui/ here, so the dialog, hvsend and the tests share one
// implementation.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/records.h"
#include "ringtone/song.h"

namespace hv::ringport {

enum class Format { Nokia, IMelody };

// Nokia phones (a phone type beginning with "Nokia", any case) take Smart Messaging ringing
// tones; every other model takes iMelody in EMS messages.
Format formatForPhoneType(std::string_view phoneType);
// The content kind of the request and of the fee notice: "nokia_ringtone", "imelody_ringtone".
const char* contentKind(Format format);
// The model name Tunecast's iMelody split compares: "motorola_388", "motorola_c350", else the
// phone type in lower case.
std::string imelodyModelName(std::string_view phoneType);

// Why a conversion gave no ringtone.
enum class RingError {
  None,
  NoMidi,            // the MIDI file does not exist or cannot be read
  MidiTooLarge,      // over kMaxMidiBytes
  BadMidi,           // not a standard MIDI file the converter can read
  NoNotes,           // the chosen channel plays no note
  NoConverter,       // the converter programs are not installed
  WorkFolder,        // the private copy of the MIDI file could not be made
  ConversionFailed,  // Tunecast answered a text other than the cut warning
  NoMessages,        // the packed message file is missing, damaged or holds no message
};
// The user's text of an error (GBK); detail is Tunecast's own text, appended when not empty.
std::string describe(RingError error, std::string_view detail = {});

inline constexpr uint64_t kMaxMidiBytes = 16u << 20;
inline constexpr int kMaxMessages = 10;
// Tempo slider: 0..10, 5 keeps the tune's tempo (GetMIDIBeat's hint for a normal tempo).
inline constexpr int kTempoLow = 0, kTempoHigh = 10, kTempoMiddle = 5;
// iMelody moves the tempo in beats per minute: this many per slider step.
inline constexpr int kIMelodyBpmPerStep = 10;
// The tempo a Nokia phone plays a tone without a tempo instruction at.
inline constexpr uint16_t kNokiaDefaultTempo = 63;

struct ConvertRequest {
  std::string midiPath;       // GBK
  std::string converterPath;  // the forward converter ("midi2rtttl"); musicreverse beside it
  int channel = 0;            // 1-16, anything else: every channel
  Format format = Format::Nokia;
  int tempoPosition = kTempoMiddle;  // the slider
  bool tempoOff = false;             // Nokia: leave out the tempo instruction
  int maxMessages = 3;               // 1..kMaxMessages
  std::string phoneType;             // the model's phone type (iMelody's header choice)
};

struct Ringtone {
  Format format = Format::Nokia;
  std::vector<std::vector<uint8_t>> messages;  // the user data of each short message
  std::vector<uint8_t> packed;                 // Tunecast's packed message file, byte for byte
  tunecast::Song fitted;   // the notes that went into the messages, at the tempo they play at
  int neededMessages = 0;  // > 0 when the tune was cut: the messages the whole tune needed
  bool tempoOff = false;
  size_t fittedNotes() const { return fitted.notes.size(); }
};

struct ConvertResult {
  RingError error = RingError::None;
  std::string detail;  // Tunecast's text (GBK)
  std::optional<Ringtone> ringtone;
};

// What the converter will make of the file, found before it runs (a converter that gives no
// output is waited for ten seconds): None, NoMidi, MidiTooLarge, BadMidi or NoNotes.
RingError checkMidi(const std::string& midiPath, int channel);

// The tempo shift Tunecast gets for a slider position: table places for Nokia, beats per minute
// (kIMelodyBpmPerStep a step) for iMelody.
int tempoShift(Format format, int tempoPosition);

// The converter programs shipped beside the suite's programs: "<folder>midi2rtttl".
std::string converterIn(std::string_view folder);

// Copies the MIDI file into a private folder, converts it there with MIDI2NokShort or
// MIDI2IMelodyShort, reads the packed message file and the RTTTL of the notes that fitted, and
// removes the folder.
ConvertResult convert(const ConvertRequest& request);

// GetMIDIBeat's slider position for the tune (0, 5 or 10), or nullopt with the text.
struct BeatResult {
  std::optional<int> position;
  RingError error = RingError::None;
  std::string detail;
};
BeatResult beat(const std::string& midiPath, const std::string& converterPath, int channel);

// The request of a ringtone send: one recipient, attachment type 0; "SMS", "RING", the model's
// phone type, the content kind, "SHT". The content is the packed message file, which the service
// client carries as its text section (every message is at most 140 bytes).
struct RequestFields {
  std::string launchTag;  // cut to 10 bytes
  std::string recipient;
  std::string sender;
  std::string phoneType;
};
MessageHeader buildHeader(Format format, const RequestFields& fields);

}  // namespace hv::ringport
