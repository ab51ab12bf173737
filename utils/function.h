#pragma once
// The utility library's static helpers. Paths are GBK with "/" separators; folders end in "/".
#include <string>
#include <string_view>

#include "include/handvane/export.h"
#include "platform/messages.h"

class HV_EXPORT CFunction {
 public:
  // The suite's home (see platform/fs.h), ending in "/".
  static std::string GetExecutePath();
  // The user's private temporary folder, ending in "/"; "" when it cannot be used.
  static std::string GetTempPathA();
  // A fresh, empty, private temporary file; "" when none could be created.
  static std::string GetTempFile();
  // Removes a folder and its contents; false when something could not be removed.
  static bool DeletePath(std::string_view path);
  // The folder part, with its trailing "/".
  static std::string GetFilePath(std::string_view path);
  // The text after the last "." of the file name.
  static std::string GetFileExtend(std::string_view path);
  // Runs the calling thread's waiting messages, then returns. The window is not needed: messages
  // go to the thread that registered their receiver.
  static void DoMessageLoop(hv::WindowId window = 0);
  // The text that opens the dBase tables of a folder for the table layer.
  static std::string GetDBFConnectionString(std::string_view directory);
};
