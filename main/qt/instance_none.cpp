// Built while the single-instance channel is not part of the build: every start is the first.
#include "main/qt/linked.h"

namespace hv::launcher {

InstanceStart acquireInstance() {
  return InstanceStart::First;
}
bool handOverToRunningInstance(const std::string&, std::string&) {
  return false;
}
void registerInstanceWindow(MainWindow&) {}
void releaseInstance() {}

}  // namespace hv::launcher
