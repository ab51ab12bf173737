// The single-instance channel through Onlyone: a later start hands its command line to the
// running launcher window, which carries it out before the later start ends.
#include "instance/onlyone.h"
#include "main/qt/linked.h"
#include "main/qt/window.h"
#include "platform/gbk.h"

namespace hv::launcher {

namespace {
SH_HANDLE channel = nullptr;
}

InstanceStart acquireInstance() {
  switch (SH_GetSharedMemoryHandle("MyProgramName", &channel)) {
    case 0:
      return InstanceStart::First;
    case 1:
      return InstanceStart::Later;
    default:
      return InstanceStart::Failed;
  }
}

bool handOverToRunningInstance(const std::string& commandLine, std::string& why) {
  // The terminating NUL is counted: an empty command line is the one NUL byte.
  const int r = SH_SendData(channel, commandLine.c_str(), int(commandLine.size() + 1));
  if (r == 0) return true;
  why = r == -2 ? T("Lumoi 已经在运行，但没有响应。请稍后再试，或结束它后重新启动。")
                : T("不能把命令交给正在运行的 Lumoi：") +
                      std::string(hv::onlyone::errorText(hv::onlyone::lastError()));
  return false;
}

void registerInstanceWindow(MainWindow& window) {
  hv::onlyone::ReceiverHooks hooks;
  hooks.activate = [&window](bool showAndRestore) { window.bringForward(showAndRestore); };
  hooks.commandLine = [&window](std::string_view bytes) {
    window.handOver(std::string(bytes.substr(0, bytes.find('\0'))));
  };
  window.setMessageFilter([hooks](const WindowMessage& m) { return onlyone::dispatch(m, hooks); });
  SH_SetWindowHandle(channel, window.receiverId());
}

void releaseInstance() {
  if (channel) hv::onlyone::closeHandle(channel);
  channel = nullptr;
}

}  // namespace hv::launcher
