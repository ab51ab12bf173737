#pragma once
// The conversion driver: runs the outside converter programs in a private work directory and
// turns their output into ringtone files.
//
// The forward converter is named by the caller; its command line is
// "<converter> -channel <channel> <in.mid> <out.txt>" (an empty channel means every channel). The
// reverse converter is the file "musicreverse" beside it: "<musicreverse> <in.txt> <out.mid>".
// Each writes its output file into its current directory; the driver looks for that file once at
// once and then once a second, ten times.
#include <chrono>
#include <ctime>
#include <string>
#include <string_view>

#include "ringtone/fault.h"
#include "ringtone/song.h"

namespace hv::tunecast {

// " 1" to "16" for a MIDI channel, "" for any other value.
std::string channelArgument(int channel);
// "<temp>MyTool<year><month><day><hour><minute><second>/" in UTC, numbers unpadded.
std::string workDirectoryName(const std::string& tempPath, std::time_t now);
std::string forwardCommandLine(const std::string& toolStem, int channel, const std::string& midi,
                               const std::string& rtttl);
std::string reverseCommandLine(const std::string& toolStem, const std::string& rtttl,
                               const std::string& midi);

// How long the driver looks for a converter's output: one look at once, then one after each
// further interval, `checks` times.
struct RunLimits {
  int checks = 10;
  std::chrono::milliseconds interval{1000};
};

// MIDI file to song through the forward converter.
Status forwardConvert(const std::string& midiPath, const std::string& converterPath, int channel,
                      Song& song, const RunLimits& limits = {});

// Writes "<midi>retring.txt" with the first `notes` notes and makes "<midi>retring.mid" from it
// with "musicreverse".
Status makePreview(const std::string& midiPath, const std::string& converterPath, const Song& song,
                   size_t notes, const RunLimits& limits = {});

// Encodes the song and writes the packed message file. `fitted` receives the number of notes that
// went into the messages. A cut tune gives the ExceedNumber warning with the file written.
Status nokiaToFile(Song& song, int tempoShift, int tempoOff, int maxMessages,
                   const std::string& path, size_t& fitted);
Status iMelodyToFile(Song& song, int tempoShift, int maxMessages, std::string_view phoneModel,
                     const std::string& path, size_t& fitted);

// The whole MIDI2NokShort / MIDI2IMelodyShort run; the Status is the caller's text.
Status midiToNokia(const std::string& midiPath, const std::string& converterPath, int channel,
                   int tempoOff, int tempoShift, int maxMessages, const RunLimits& limits = {});
Status midiToIMelody(const std::string& midiPath, const std::string& converterPath, int channel,
                     int tempoShift, int maxMessages, std::string_view phoneModel,
                     const RunLimits& limits = {});

}  // namespace hv::tunecast
