#pragma once
// Plays a rendered ringtone: the samples are written as a WAVE file in the private temporary
// folder and handed to a player program, the first of $HV_TONE_PLAYER, pw-play, paplay and aplay
// that is installed. Playing does not wait for the end.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hv::ringport {

struct Player {
  // The player's command; empty: look for one as above.
  std::vector<std::string> command;
};

enum class PlayError { None, NoFile, NoPlayer, NotStarted };
const char* describe(PlayError error);

struct PlayResult {
  PlayError error = PlayError::None;
  std::string wavPath;  // the file written (kept until the next play or the dialog's end)
};
PlayResult play(const Player& player, const std::vector<int16_t>& samples, int rate);

// The player program found for the given choice (empty when none is installed).
std::vector<std::string> playerCommand(const Player& player);

}  // namespace hv::ringport
