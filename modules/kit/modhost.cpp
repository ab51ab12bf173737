// hv-modhost: runs one conversion module alone, as the main program would launch it.
//
//   hv-modhost LIBRARY [RECEIVER [FILE [TAG]]]
//
// Creates the Qt application with the suite's user interface, loads the module library by path,
// calls its DoConvert with the three strings (empty when not given) and runs until every dialog
// the module opened has closed. Exit status: 0 when the dialogs ran and closed, 2 for a wrong
// command line, 3 when the library or its DoConvert could not be found, 4 when DoConvert failed.
#include <dlfcn.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <string>

#include "modules/kit/convert.h"
#include "ui/views/views.h"

namespace {

using DoConvertFn = int(const char*, const char*, const char*);

int usage() {
  std::fputs("usage: hv-modhost LIBRARY [RECEIVER [FILE [TAG]]]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 5) return usage();
  QApplication app(argc, argv);
  // A module's windows come and go (message boxes, the progress dialog); the host ends when the
  // module's dialogs have, not when some window closed last.
  QApplication::setQuitOnLastWindowClosed(false);
  hv::ui::qt::installSuiteUi();

  // Kept loaded to the end, as the main program keeps its modules: their dialogs and the service
  // client's send threads run code of the library after DoConvert returned.
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!library) {
    std::fprintf(stderr, "hv-modhost: %s\n", dlerror());
    return 3;
  }
  auto doConvert = reinterpret_cast<DoConvertFn*>(dlsym(library, "DoConvert"));
  if (!doConvert) {
    std::fprintf(stderr, "hv-modhost: %s has no DoConvert\n", argv[1]);
    return 3;
  }
  auto arg = [&](int i) { return i < argc ? argv[i] : ""; };
  const int converted = doConvert(arg(2), arg(3), arg(4));
  if (converted != 0) {
    std::fprintf(stderr, "hv-modhost: DoConvert returned %d\n", converted);
    return 4;
  }

  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &app, [] {
    if (hv::modkit::openDialogs() == 0) QCoreApplication::quit();
  });
  watch.start(100);
  return QApplication::exec();
}
