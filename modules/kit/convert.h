#pragma once
// The plug-in entry of a conversion module. DoConvert(receiver, file, tag) starts the module's
// dialog and returns at once; every module forwards its DoConvert to convert() with a factory
// for its own dialog controller.
//
// Qt keeps every widget on the GUI thread, so a module's user-interface thread is a logical one:
// the dialog is scheduled on the user-interface thread of the process's UI backend and shown
// there as a top-level window of its own. It blocks no other window (the launcher, other module
// dialogs and the send progress dialog stay usable), as a dialog run modally on a thread of its
// own blocked nothing outside that thread. Any number of module dialogs may be open at once.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "include/handvane/export.h"
#include "ui/core/ui.h"

namespace hv::modkit {

// The three strings of a DoConvert call, copied.
struct ConvertArgs {
  std::string receiver;  // an initial recipient text
  std::string file;      // the path of a file to open in the module
  std::string tag;       // the launch tag (the main program's " -U:" value)
};

// Builds the dialog of one DoConvert call, on the user-interface thread.
using DialogFactory = std::function<std::shared_ptr<ui::DialogController>(const ConvertArgs&)>;

// Copies the strings (a null pointer reads as empty), schedules the factory's dialog on the
// user-interface thread and returns at once: 0, or failureCode when the request could not be
// taken (the module's own code: -1 for the text module, -2 for the image and animation modules).
HV_EXPORT int convert(const char* receiver, const char* file, const char* tag,
                      DialogFactory factory, int failureCode);
// convert(), telling the user "创建线程失败" under caption (GBK) when the dialog could not be
// started.
HV_EXPORT int convertOrTell(const char* receiver, const char* file, const char* tag,
                            DialogFactory factory, int failureCode, std::string_view caption);

// The folder of the loaded library that holds address (a function of the module's own), ending
// in "/" (GBK): a module's tables and helper programs lie beside it. The program's folder when the
// library cannot be told.
HV_EXPORT std::string libraryDirectory(const void* address);

// Dialogs of convert() calls that are scheduled or shown and have not ended yet, in this
// process. A host that runs modules alone (hv-modhost) ends when this falls back to 0.
HV_EXPORT int openDialogs();
// convert() calls taken so far in this process.
HV_EXPORT int startedDialogs();

}  // namespace hv::modkit
