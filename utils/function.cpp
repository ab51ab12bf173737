#include "utils/function.h"

#include "platform/fs.h"

std::string CFunction::GetExecutePath() {
  return hv::fs::suiteHome();
}

std::string CFunction::GetTempPathA() {
  return hv::fs::tempDirectory();
}

std::string CFunction::GetTempFile() {
  auto p = hv::fs::createTempFile();
  return p ? *p : std::string();
}

bool CFunction::DeletePath(std::string_view path) {
  return hv::fs::removeAll(path);
}

std::string CFunction::GetFilePath(std::string_view path) {
  return hv::fs::directoryOf(path);
}

std::string CFunction::GetFileExtend(std::string_view path) {
  return hv::fs::extensionOf(path);
}

void CFunction::DoMessageLoop(hv::WindowId) {
  hv::pumpMessages();
}

std::string CFunction::GetDBFConnectionString(std::string_view directory) {
  std::string dir(directory);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return "Driver=HandvaneDBF;DBQ=" + dir;
}
