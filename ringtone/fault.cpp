#include "ringtone/fault.h"

#include <cstdarg>
#include <cstdio>

#include "platform/gbk.h"

namespace hv::tunecast {

std::string_view faultTemplate(Fault fault) {
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

// GBK trail bytes lie in 0x40-0xFE, so a GBK template holds no stray '%' and printf can fill it.
std::string Status::formatV(Fault fault, ...) {
  std::string tmpl = T(faultTemplate(fault));
  va_list a, b;
  va_start(a, fault);
  va_copy(b, a);
  int n = std::vsnprintf(nullptr, 0, tmpl.c_str(), a);
  va_end(a);
  std::string out;
  if (n > 0) {
    out.resize(size_t(n) + 1);
    std::vsnprintf(out.data(), out.size(), tmpl.c_str(), b);
    out.resize(size_t(n));
  }
  va_end(b);
  return out;
}

}  // namespace hv::tunecast
