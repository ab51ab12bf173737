#pragma once
// Typed failures of the ringtone converter. Each fault has one fixed text of the system (a printf
// template, UTF-8 in the sources, GBK at run time); a Status carries the fault and its filled-in
// text. The exported functions hand the text to their caller.
#include <string>
#include <string_view>

namespace hv::tunecast {

enum class Fault {
  None,
  // Reading RTTTL.
  RtttlNameInvalid,
  RtttlMissing,
  RtttlOpen,
  RtttlTooShort,
  RtttlPartsMissing,
  RtttlNoDefaults,
  RtttlBadDefaults,
  RtttlNoNotes,
  // Writing RTTTL.
  WriteNameInvalid,
  WriteNoSong,
  WriteNoNotes,
  WriteNothingToWrite,
  WriteCreate,
  // Packed message file and the encoders.
  NoStreams,
  BadStreamCount,
  PackNameInvalid,
  PackCreate,
  NoNokiaStreams,
  NoEmsStreams,
  ExceedNumber,
  // The conversion driver.
  MidiMissing,
  ToolMissing,
  ToolCopy,
  MidiCopy,
  ForwardRun,
  ReverseToolCopy,
  RtttlCopy,
  ReverseRun,
  ResultCopy,
};

// The printf template of a fault, as UTF-8 ("" for None).
std::string_view faultTemplate(Fault fault);

class Status {
 public:
  Status() = default;
  // The fault with its template filled from the arguments (GBK strings and ints, in order).
  template <typename... Args>
  static Status of(Fault fault, Args... args) {
    return Status(fault, formatV(fault, arg(args)...));
  }
  bool ok() const { return fault_ == Fault::None; }
  Fault fault() const { return fault_; }
  // GBK text; empty for success.
  const std::string& text() const { return text_; }

 private:
  Status(Fault fault, std::string text) : fault_(fault), text_(std::move(text)) {}
  static const char* arg(const std::string& s) { return s.c_str(); }
  static const char* arg(const char* s) { return s; }
  static int arg(int v) { return v; }
  static std::string formatV(Fault fault, ...);

  Fault fault_ = Fault::None;
  std::string text_;
};

}  // namespace hv::tunecast
