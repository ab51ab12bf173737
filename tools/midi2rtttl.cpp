// The MIDI to RTTTL converter: midi2rtttl -channel [<1-16>] <in.mid> <out.txt>
// Writes the melody line of the channel (every channel when none is given) as RTTTL. A file that is
// not a well-formed standard MIDI file, or a channel without notes, ends it with status 1 and no
// output; a wrong command line with status 2.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/melody.h"
#include "tools/midifile.h"
#include "tools/programio.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: midi2rtttl -channel [<1-16>] <in.mid> <out.txt>\n");
  return 2;
}

bool parseChannel(const std::string& text, int& channel) {
  if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  channel = std::atoi(text.c_str());
  return channel >= 1 && channel <= 16;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc != 4 && argc != 5) || std::string(argv[1]) != "-channel") return usage();
  int channel = 0;
  if (argc == 5 && !parseChannel(argv[2], channel)) return usage();
  std::string in = argv[argc - 2], out = argv[argc - 1];

  auto bytes = hv::tools::readBytes(in, hv::midi::kMaxFileSize);
  if (!bytes) {
    std::fprintf(stderr, "midi2rtttl: cannot read %s\n", in.c_str());
    return 1;
  }
  auto parsed = hv::midi::read(*bytes);
  if (auto* failure = std::get_if<hv::midi::ReadFailure>(&parsed)) {
    std::fprintf(stderr, "midi2rtttl: %s: %s at byte %zu\n", in.c_str(),
                 std::string(hv::midi::errorText(failure->error)).c_str(), failure->offset);
    return 1;
  }
  auto song = hv::melody::melodyOf(std::get<hv::midi::File>(parsed), channel);
  if (!song) {
    std::fprintf(stderr, "midi2rtttl: %s: no notes to convert\n", in.c_str());
    return 1;
  }
  std::string text = hv::melody::shortestRtttl(*song);
  if (!hv::tools::writeComplete(out, text.data(), text.size())) {
    std::fprintf(stderr, "midi2rtttl: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}
