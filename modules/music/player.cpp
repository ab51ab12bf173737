#include "modules/music/player.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "modules/music/core/tone.h"
#include "platform/fs.h"
#include "platform/kernel.h"

namespace hv::ringport {

namespace {

bool onPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string d; std::getline(dirs, d, ':');) {
    if (!d.empty() && access((d + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

}  // namespace

const char* describe(PlayError error) {
  switch (error) {
    case PlayError::None:
      return "played";
    case PlayError::NoFile:
      return "the sound file could not be written";
    case PlayError::NoPlayer:
      return "no sound player is installed";
    case PlayError::NotStarted:
      return "the sound player could not be started";
  }
  return "unknown";
}

std::vector<std::string> playerCommand(const Player& player) {
  if (!player.command.empty()) return player.command;
  if (const char* env = std::getenv("HV_TONE_PLAYER"); env && *env) {
    std::vector<std::string> words;
    std::istringstream in(env);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
  }
  for (const char* p : {"pw-play", "paplay", "aplay"}) {
    if (onPath(p)) return {p};
  }
  return {};
}

PlayResult play(const Player& player, const std::vector<int16_t>& samples, int rate) {
  PlayResult r;
  auto file = fs::createTempFile({}, "tone", ".wav");
  if (!file || !fs::writeFileAtomic(*file, wavBytes(samples, rate))) {
    r.error = PlayError::NoFile;
    return r;
  }
  r.wavPath = *file;
  auto argv = playerCommand(player);
  if (argv.empty() || !onPath(argv.front())) {
    r.error = PlayError::NoPlayer;
    return r;
  }
  argv.push_back(*file);
  if (!Process::start(argv)) r.error = PlayError::NotStarted;
  return r;
}

}  // namespace hv::ringport
