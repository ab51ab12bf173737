#pragma once
// Typed failures of the ringtone converter. Each fault has one fixed text of the system (UTF-8 in
// the sources, GBK at run time) with "%s" and "%d" placeholders; a Status carries the fault and
// its filled-in text. The exported functions hand the text to their caller.
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

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

// The text of a fault, as UTF-8 ("" for None). "%s" stands for a text and "%d" for a number,
// filled in order by Status::of.
constexpr std::string_view faultTemplate(Fault fault) {
  switch (fault) {
    case Fault::None:
      return "";
    case Fault::RtttlNameInvalid:
      return "RTTL文件名无效";
    case Fault::RtttlMissing:
      return "RTTL文件不存在: %s";
    case Fault::RtttlOpen:
      return "不能打开RTTL文件: ";
    case Fault::RtttlTooShort:
      return "您截取部分包含内容太少";
    case Fault::RtttlPartsMissing:
      return "RTTL内容缺失:\n%s";
    case Fault::RtttlNoDefaults:
      return "无法解析DOB值:\n%s";
    case Fault::RtttlBadDefaults:
      return "解析DOB值出错";
    case Fault::RtttlNoNotes:
      return "无音符值";
    case Fault::WriteNameInvalid:
      return "待写RTTL文件名无效";
    case Fault::WriteNoSong:
      return "RTTL数据无效";
    case Fault::WriteNoNotes:
      return "RTTL数据中无音符号数据";
    case Fault::WriteNothingToWrite:
      return "没有音符写入短信";
    case Fault::WriteCreate:
      return "不能创建待写RTTL文件";
    case Fault::NoStreams:
      return "无字节流";
    case Fault::BadStreamCount:
      return "字节流数量无效";
    case Fault::PackNameInvalid:
      return "短消息文件名无效";
    case Fault::PackCreate:
      return "无法创建短消息文件";
    case Fault::NoNokiaStreams:
      return "无法得到简单铃声字节流";
    case Fault::NoEmsStreams:
      return "得到EMS字节流出错";
    case Fault::ExceedNumber:
      return "exceed number:%d";
    case Fault::MidiMissing:
      return "MIDI文件 %s 不存在";
    case Fault::ToolMissing:
      return "转换工具 %s 不存在";
    case Fault::ToolCopy:
      return "拷贝转换工具失败";
    case Fault::MidiCopy:
      return "考备MIDI文件到工作目录失败: %d";
    case Fault::ForwardRun:
      return "执行转换失败：%d new path=%s new midi name=%s new rttl name=%s new tool name=%s";
    case Fault::ReverseToolCopy:
      return "转换工具失败";
    case Fault::RtttlCopy:
      return "考备RTTL文件失败";
    case Fault::ReverseRun:
      return "执行转换失败：%d  path=%s mid name=%s rttl name=%s";
    case Fault::ResultCopy:
      return "拷贝MIDI结果失败：%d";
  }
  return "";
}

namespace fault_text {

// The kinds of the template's placeholders in order: 's' a text, 'd' a number.
constexpr size_t placeholderCount(std::string_view t) {
  size_t n = 0;
  for (size_t i = 0; i + 1 < t.size(); ++i)
    if (t[i] == '%' && (t[i + 1] == 's' || t[i + 1] == 'd')) ++n, ++i;
  return n;
}
constexpr char placeholderKind(std::string_view t, size_t index) {
  for (size_t i = 0, n = 0; i + 1 < t.size(); ++i)
    if (t[i] == '%' && (t[i + 1] == 's' || t[i + 1] == 'd')) {
      if (n++ == index) return t[i + 1];
      ++i;
    }
  return 0;
}
template <class A>
constexpr char kindOf() {
  if constexpr (std::is_same_v<A, bool> || std::is_same_v<A, char>)
    return '?';  // never a number by accident
  else if constexpr (std::is_integral_v<A>)
    return 'd';
  else if constexpr (std::is_convertible_v<const A&, std::string>)
    return 's';
  else
    return '?';
}
// Whether the arguments are as many as the placeholders and of their kinds.
template <Fault F, class... Args>
constexpr bool matches() {
  constexpr std::string_view t = faultTemplate(F);
  if (placeholderCount(t) != sizeof...(Args)) return false;
  size_t i = 0;
  bool ok = true;
  ((ok = ok && placeholderKind(t, i++) == kindOf<Args>()), ...);
  return ok;
}

// One filled-in value: GBK text, or a number written in decimal.
struct Value {
  Value(const std::string& s) : text(s) {}
  Value(long long n) : text(std::to_string(n)) {}
  std::string text;
};
template <class A>
Value valueOf(const A& a) {
  if constexpr (kindOf<A>() == 'd')
    return Value((long long)a);
  else
    return Value(std::string(a));
}

}  // namespace fault_text

class Status {
 public:
  Status() = default;
  // The fault with its text filled from the arguments (GBK strings and integers, in order). The
  // arguments are checked against the text's placeholders when the call is compiled.
  template <Fault F, class... Args>
  static Status of(const Args&... args) {
    static_assert(fault_text::matches<F, Args...>(),
                  "the arguments do not match the placeholders of the fault's text");
    return Status(F, fill(F, {fault_text::valueOf(args)...}));
  }
  bool ok() const { return fault_ == Fault::None; }
  Fault fault() const { return fault_; }
  // GBK text; empty for success.
  const std::string& text() const { return text_; }

 private:
  Status(Fault fault, std::string text) : fault_(fault), text_(std::move(text)) {}
  // The fault's text in GBK with each placeholder replaced by the next value.
  static std::string fill(Fault fault, std::initializer_list<fault_text::Value> values);

  Fault fault_ = Fault::None;
  std::string text_;
};

}  // namespace hv::tunecast
