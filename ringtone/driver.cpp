#include "ringtone/driver.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "platform/kernel.h"
#include "ringtone/imelody.h"
#include "ringtone/nokia.h"
#include "ringtone/packfile.h"
#include "utils/function.h"

namespace hv::tunecast {
namespace {

// Enough candidates for any number of runs that can share a folder at one time.
constexpr int kNameAttempts = 1000;

struct WorkDir {
  std::string path;       // ends in "/"
  bool borrowed = false;  // the converter's own folder: only our files are removed
  std::vector<std::string> files;

  void cleanUp() {
    if (borrowed) {
      for (const auto& f : files) fs::removeFile(path + f);
    } else {
      fs::removeAll(path);
    }
    files.clear();
  }
};

std::string stemOf(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// A folder made for this run only. When it cannot be made (a run in the same second has it, or
// the temporary folder is unusable) the converter's folder is borrowed.
WorkDir makeWorkDir(const std::string& converterDir) {
  WorkDir w;
  std::string temp = CFunction::GetTempPathA();
  if (!temp.empty()) {
    w.path = workDirectoryName(temp, std::time(nullptr));
    auto os = fs::osPath(w.path);
    if (os && ::mkdir(os->c_str(), 0700) == 0) return w;
  }
  w.path = converterDir.empty() ? "./" : converterDir;
  w.borrowed = true;
  return w;
}

// Takes a name no file has yet by creating it exclusively, so that two runs sharing a folder
// never pick the same one. `alsoFree` names a file that must not exist either (the output the run
// will wait for).
bool claim(WorkDir& w, const std::string& name, const std::string& alsoFree = {}) {
  if (!alsoFree.empty() && fs::exists(w.path + alsoFree)) return false;
  int fd = fs::open(w.path + name, O_CREAT | O_EXCL | O_WRONLY, 0600);
  if (fd < 0) return false;
  ::close(fd);
  w.files.push_back(name);
  if (!alsoFree.empty()) w.files.push_back(alsoFree);
  return true;
}

std::optional<std::string> claimToolName(WorkDir& w, const std::string& first) {
  if (claim(w, first)) return first;
  for (int i = 1; i < kNameAttempts; ++i) {
    std::string name = "tool" + std::to_string(i) + ".exe";
    if (claim(w, name)) return name;
  }
  return std::nullopt;
}

// "1.mid", then "11.mid", "12.mid", ...; the partner name (same stem, other extension) must be
// free too.
std::optional<std::string> claimStem(WorkDir& w, const std::string& ext,
                                     const std::string& partner) {
  for (int i = 0; i < kNameAttempts; ++i) {
    std::string stem = i == 0 ? "1" : "1" + std::to_string(i);
    if (claim(w, stem + ext, stem + partner)) return stem;
  }
  return std::nullopt;
}

void setMode(const std::string& path, mode_t mode) {
  if (auto os = fs::osPath(path)) ::chmod(os->c_str(), mode);
}

bool copyAs(const std::string& from, const std::string& to, mode_t mode) {
  if (!fs::copyFile(from, to, true)) return false;
  setMode(to, mode);
  return true;
}

// Starts the command line in the work folder and looks for its output: once at once, then after
// each further interval, `checks` times. The shell ending decides nothing by itself: a converter
// may hand its work to a process of its own and return at once. Once the output is there and the
// shell still runs, it is given the rest of the time to finish writing. After a failed run
// whatever still runs of it is stopped, so that nothing writes into a folder about to be removed.
bool runConverter(const WorkDir& w, const std::string& commandLine, const std::string& output,
                  const RunLimits& limits) {
  Process::Options options;
  options.workingDirectory = w.path;
  auto process = Process::startShell(commandLine, options);
  if (!process) return false;
  for (int look = 0;; ++look) {
    if (fs::exists(w.path + output)) {
      process->wait(limits.interval * (limits.checks - look + 1));
      return true;
    }
    if (look >= limits.checks) break;
    std::this_thread::sleep_for(limits.interval);
  }
  // The shell runs in a session of its own; its process group holds the converter too. It has not
  // been waited for, so its id cannot have been given to another process.
  ::kill(-process->pid(), SIGKILL);
  process->wait(std::chrono::milliseconds(2000));
  return false;
}

uint8_t randomReference() {
  std::random_device rd;
  return uint8_t(rd() & 0xFF);
}

}  // namespace

std::string channelArgument(int channel) {
  if (channel < 1 || channel > 16) return "";
  char buf[8];
  std::snprintf(buf, sizeof buf, "%2d", channel);
  return buf;
}

std::string workDirectoryName(const std::string& tempPath, std::time_t now) {
  std::tm t{};
  gmtime_r(&now, &t);
  return tempPath + "MyTool" + std::to_string(t.tm_year + 1900) + std::to_string(t.tm_mon + 1) +
         std::to_string(t.tm_mday) + std::to_string(t.tm_hour) + std::to_string(t.tm_min) +
         std::to_string(t.tm_sec) + "/";
}

// The converter copies are started from the work folder, where the process runs; "./" stands for
// the Windows interpreter's look in the current folder.
std::string forwardCommandLine(const std::string& toolStem, int channel, const std::string& midi,
                               const std::string& rtttl) {
  return "./" + toolStem + ".exe -channel " + channelArgument(channel) + " " + midi + " " + rtttl;
}

std::string reverseCommandLine(const std::string& toolStem, const std::string& rtttl,
                               const std::string& midi) {
  return "./" + toolStem + ".exe " + rtttl + " " + midi;
}

Status forwardConvert(const std::string& midiPath, const std::string& converterPath, int channel,
                      Song& song, const RunLimits& limits) {
  if (!fs::exists(midiPath)) return Status::of<Fault::MidiMissing>(midiPath);
  if (!fs::exists(converterPath)) return Status::of<Fault::ToolMissing>(converterPath);
  WorkDir w = makeWorkDir(fs::directoryOf(converterPath));
  auto tool = claimToolName(w, "tooltr.exe");
  if (!tool || !copyAs(converterPath, w.path + *tool, 0700)) {
    w.cleanUp();
    return Status::of<Fault::ToolCopy>();
  }
  auto stem = claimStem(w, ".mid", ".txt");
  if (!stem || !copyAs(midiPath, w.path + *stem + ".mid", 0600)) {
    w.cleanUp();
    return Status::of<Fault::MidiCopy>(1);
  }
  std::string midiName = *stem + ".mid", rtttlName = *stem + ".txt";
  std::string toolStem = stemOf(*tool);

  if (!runConverter(w, forwardCommandLine(toolStem, channel, midiName, rtttlName), rtttlName,
                    limits)) {
    w.cleanUp();
    return Status::of<Fault::ForwardRun>(1, w.path, midiName, rtttlName, toolStem);
  }
  Status read = readRtttl(w.path + rtttlName, song);
  w.cleanUp();
  return read;
}

Status makePreview(const std::string& midiPath, const std::string& converterPath, const Song& song,
                   size_t notes, const RunLimits& limits) {
  std::string previewText = midiPath + "retring.txt";
  Status written = writeRtttl(previewText, &song, int(std::min<size_t>(notes, 1u << 30)), 0);
  if (!written.ok()) return written;

  std::string toolDir = fs::directoryOf(converterPath);
  WorkDir w = makeWorkDir(toolDir);
  auto tool = claimToolName(w, "toolre.exe");
  if (!tool || !copyAs(toolDir + "musicreverse", w.path + *tool, 0700)) {
    w.cleanUp();
    return Status::of<Fault::ReverseToolCopy>();
  }
  auto stem = claimStem(w, ".txt", ".mid");
  if (!stem || !copyAs(previewText, w.path + *stem + ".txt", 0600)) {
    w.cleanUp();
    return Status::of<Fault::RtttlCopy>();
  }
  std::string rtttlName = *stem + ".txt", midiName = *stem + ".mid";
  if (!runConverter(w, reverseCommandLine(stemOf(*tool), rtttlName, midiName), midiName, limits)) {
    w.cleanUp();
    return Status::of<Fault::ReverseRun>(1, w.path, midiName, rtttlName);
  }
  bool copied = fs::copyFile(w.path + midiName, midiPath + "retring.mid", true);
  w.cleanUp();
  return copied ? Status{} : Status::of<Fault::ResultCopy>(0);
}

Status nokiaToFile(Song& song, int tempoShift, int tempoOff, int maxMessages,
                   const std::string& path, size_t& fitted) {
  NokiaRingtone tone = encodeNokia(song, tempoShift, tempoOff);
  SplitResult split = splitNokia(tone, maxMessages, song.notes.size(), randomReference());
  if (split.streams.empty()) return Status::of<Fault::NoNokiaStreams>();
  Status packed = writePackedFile(path, &split.streams);
  if (!packed.ok()) return packed;
  fitted = split.notesFitted;
  return split.overflow ? Status::of<Fault::ExceedNumber>(split.overflow) : Status{};
}

Status iMelodyToFile(Song& song, int tempoShift, int maxMessages, std::string_view phoneModel,
                     const std::string& path, size_t& fitted) {
  IMelody melody = buildIMelody(song, tempoShift);
  SplitResult split = splitIMelody(melody, maxMessages, phoneModel, randomReference());
  if (split.streams.empty()) return Status::of<Fault::NoEmsStreams>();
  Status packed = writePackedFile(path, &split.streams);
  if (!packed.ok()) return packed;
  fitted = split.notesFitted;
  return split.overflow ? Status::of<Fault::ExceedNumber>(split.overflow) : Status{};
}

namespace {

// Encoding, then the preview of what fitted. The song already holds the tempo that the encoding
// gave it, so the preview is written without a further shift.
template <typename Encode>
Status encodeAndPreview(const std::string& midiPath, const std::string& converterPath, int channel,
                        const RunLimits& limits, Encode encode) {
  Song song;
  Status forward = forwardConvert(midiPath, converterPath, channel, song, limits);
  if (!forward.ok()) return forward;
  size_t fitted = 0;
  Status encoded = encode(song, midiPath + ".sht", fitted);
  if (!encoded.ok() && encoded.fault() != Fault::ExceedNumber) return encoded;
  Status preview = makePreview(midiPath, converterPath, song, fitted, limits);
  return preview.ok() ? encoded : preview;
}

}  // namespace

Status midiToNokia(const std::string& midiPath, const std::string& converterPath, int channel,
                   int tempoOff, int tempoShift, int maxMessages, const RunLimits& limits) {
  return encodeAndPreview(midiPath, converterPath, channel, limits,
                          [&](Song& song, const std::string& path, size_t& fitted) {
                            return nokiaToFile(song, tempoShift, tempoOff, maxMessages, path,
                                               fitted);
                          });
}

Status midiToIMelody(const std::string& midiPath, const std::string& converterPath, int channel,
                     int tempoShift, int maxMessages, std::string_view phoneModel,
                     const RunLimits& limits) {
  return encodeAndPreview(midiPath, converterPath, channel, limits,
                          [&](Song& song, const std::string& path, size_t& fitted) {
                            return iMelodyToFile(song, tempoShift, maxMessages, phoneModel, path,
                                                 fitted);
                          });
}

}  // namespace hv::tunecast
