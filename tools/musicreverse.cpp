// The RTTTL to MIDI converter: musicreverse <in.txt> <out.mid>
// Writes a standard MIDI file (format 0, one track) that plays the RTTTL tune. An RTTTL text that
// cannot be read ends it with status 1 and no output; a wrong command line with status 2.
#include <cstdio>
#include <string>

#include "ringtone/song.h"
#include "tools/melody.h"
#include "tools/programio.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: musicreverse <in.txt> <out.mid>\n");
    return 2;
  }
  std::string in = argv[1], out = argv[2];
  // RTTTL tunes are short; anything past a megabyte is not one.
  auto bytes = hv::tools::readBytes(in, 1u << 20);
  if (!bytes) {
    std::fprintf(stderr, "musicreverse: cannot read %s\n", in.c_str());
    return 1;
  }
  hv::tunecast::Song song;
  auto status = hv::tunecast::parseRtttl(std::string(bytes->begin(), bytes->end()), song);
  if (!status.ok()) {
    std::fprintf(stderr, "musicreverse: %s is not an RTTTL tune\n", in.c_str());
    return 1;
  }
  auto midi = hv::midi::write(hv::melody::midiOf(song));
  if (!hv::tools::writeComplete(out, midi.data(), midi.size())) {
    std::fprintf(stderr, "musicreverse: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}
