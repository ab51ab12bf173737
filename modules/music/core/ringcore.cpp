#include "modules/music/core/ringcore.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "include/handvane/gbkcut.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "ringtone/tunecast.h"
#include "service/protocol/packet.h"
#include "tools/melody.h"
#include "tools/midifile.h"

namespace hv::ringport {

namespace {

std::string cut(std::string_view s, size_t max) {
  return std::string(s.substr(0, gbkCutLength(s, max)));
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool startsNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && lower(s.substr(0, prefix.size())) == prefix;
}

// The messages the whole tune needed, from Tunecast's "exceed number:%d"; nullopt for another
// text.
std::optional<int> exceedNumber(std::string_view text) {
  if (!startsNoCase(text, "exceed number")) return std::nullopt;
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return 0;
  return std::atoi(std::string(text.substr(colon + 1)).c_str());
}

// Removes the folder however the conversion ends.
class Folder {
 public:
  explicit Folder(std::string path) : path_(std::move(path)) {}
  ~Folder() {
    if (!path_.empty()) fs::removeAll(path_);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

Format formatForPhoneType(std::string_view phoneType) {
  return startsNoCase(phoneType, "nokia") ? Format::Nokia : Format::IMelody;
}

const char* contentKind(Format format) {
  return format == Format::Nokia ? "nokia_ringtone" : "imelody_ringtone";
}

std::string imelodyModelName(std::string_view phoneType) {
  std::string name = lower(phoneType);
  if (name.rfind("motorola", 0) == 0 && name.size() > 8 && name[8] != '_') name.insert(8, "_");
  return name;
}

std::string describe(RingError error, std::string_view detail) {
  std::string text;
  switch (error) {
    case RingError::None:
      return {};
    case RingError::NoMidi:
      text = T("无法读取MIDI文件");
      break;
    case RingError::MidiTooLarge:
      text = T("MIDI文件太大");
      break;
    case RingError::BadMidi:
      text = T("不是有效的MIDI文件");
      break;
    case RingError::NoNotes:
      text = T("MIDI文件中没有音符");
      break;
    case RingError::NoConverter:
      text = T("请重新安装Lumo客户端程序！");
      break;
    case RingError::WorkFolder:
      text = T("无法建立临时文件");
      break;
    case RingError::ConversionFailed:
      text = T("铃声转换失败");
      break;
    case RingError::NoMessages:
      text = T("没有得到铃声短消息");
      break;
  }
  if (!detail.empty()) text += ": " + std::string(detail);
  return text;
}

int tempoShift(Format format, int tempoPosition) {
  const int step = std::clamp(tempoPosition, kTempoLow, kTempoHigh) - kTempoMiddle;
  return format == Format::Nokia ? step : step * kIMelodyBpmPerStep;
}

std::string converterIn(std::string_view folder) {
  std::string f(folder);
  if (!f.empty() && f.back() != '/') f += '/';
  return f + "midi2rtttl";
}

RingError checkMidi(const std::string& midiPath, int channel) {
  const auto size = fs::fileSize(midiPath);
  if (!size || fs::isDirectory(midiPath)) return RingError::NoMidi;
  if (*size > kMaxMidiBytes) return RingError::MidiTooLarge;
  const auto bytes = fs::readFile(midiPath);
  if (!bytes) return RingError::NoMidi;
  const auto file =
      midi::read(std::span(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()));
  const auto* parsed = std::get_if<midi::File>(&file);
  if (!parsed) return RingError::BadMidi;
  const auto song = melody::melodyOf(*parsed, channel >= 1 && channel <= 16 ? channel : 0);
  bool sounds = false;
  for (const auto& n : song ? song->notes : std::vector<tunecast::SongNote>{}) {
    sounds = sounds || n.note != "P";
  }
  return sounds ? RingError::None : RingError::NoNotes;
}

ConvertResult convert(const ConvertRequest& request) {
  ConvertResult r;
  if (const RingError e = checkMidi(request.midiPath, request.channel); e != RingError::None) {
    r.error = e;
    return r;
  }
  if (!fs::exists(request.converterPath) ||
      !fs::exists(fs::directoryOf(request.converterPath) + "/musicreverse")) {
    r.error = RingError::NoConverter;
    return r;
  }
  // Tunecast writes its files beside the MIDI file: a copy in a private folder keeps them out of
  // the user's folder (which may not even be writable).
  auto dir = fs::createTempDirectory({}, "ring");
  if (!dir) {
    r.error = RingError::WorkFolder;
    return r;
  }
  Folder work(*dir + "/");
  const std::string midi = work.path() + "tune.mid";
  if (!fs::copyFile(request.midiPath, midi, false)) {
    r.error = RingError::WorkFolder;
    return r;
  }

  std::vector<char> text(TUNECAST_RESULT_SIZE, 0);
  const int maxMessages = std::clamp(request.maxMessages, 1, kMaxMessages);
  const int shift = tempoShift(request.format, request.tempoPosition);
  int done = 0;
  if (request.format == Format::Nokia) {
    done = MIDI2NokShort(midi.c_str(), request.converterPath.c_str(), request.channel,
                         request.tempoOff ? 1 : 0, shift, maxMessages, text.data());
  } else {
    const std::string model = imelodyModelName(request.phoneType);
    done = MIDI2IMelodyShort(midi.c_str(), request.converterPath.c_str(), request.channel, 0, shift,
                             maxMessages, model.c_str(), text.data());
  }
  Ringtone tone;
  tone.format = request.format;
  tone.tempoOff = request.format == Format::Nokia && request.tempoOff;
  if (done != 1) {
    const std::string said(text.data());
    const auto needed = exceedNumber(said);
    if (!needed) {
      r.error = RingError::ConversionFailed;
      r.detail = said;
      return r;
    }
    tone.neededMessages = *needed;
  }
  const auto packed = fs::readFile(midi + ".sht");
  std::optional<std::vector<std::vector<uint8_t>>> messages;
  if (packed) {
    tone.packed.assign(packed->begin(), packed->end());
    messages = svc::decodePackedMessages(tone.packed);
  }
  if (!messages || messages->empty()) {
    r.error = RingError::NoMessages;
    return r;
  }
  tone.messages = std::move(*messages);
  if (const auto s = tunecast::readRtttl(midi + "retring.txt", tone.fitted); !s.ok()) {
    r.error = RingError::ConversionFailed;
    r.detail = s.text();
    return r;
  }
  r.ringtone = std::move(tone);
  return r;
}

BeatResult beat(const std::string& midiPath, const std::string& converterPath, int channel) {
  BeatResult r;
  if (const RingError e = checkMidi(midiPath, channel); e != RingError::None) {
    r.error = e;
    return r;
  }
  if (!fs::exists(converterPath)) {
    r.error = RingError::NoConverter;
    return r;
  }
  std::vector<char> text(TUNECAST_RESULT_SIZE, 0);
  int first = 0, second = 0, third = 0;
  if (GetMIDIBeat(midiPath.c_str(), converterPath.c_str(), channel, &first, &second, &third,
                  text.data()) != 1) {
    r.error = RingError::ConversionFailed;
    r.detail = text.data();
    return r;
  }
  r.position = std::clamp(first, kTempoLow, kTempoHigh);
  return r;
}

MessageHeader buildHeader(Format format, const RequestFields& fields) {
  MessageHeader h(1, 0);
  h.setLaunchTag(cut(fields.launchTag, 10));
  h.setServiceCode("SMS");
  h.setContentClass("RING");
  h.setRecipient(0, fields.recipient);
  h.setSender(cut(fields.sender, 20));
  h.setModel(fields.phoneType);
  h.setContentKind(contentKind(format));
  h.setContentType("SHT");
  return h;
}

}  // namespace hv::ringport
