// A test module: DoConvert appends "receiver<TAB>file<TAB>tag<LF>" to $HV_TESTPORT_LOG and
// returns 0, as a module whose dialog thread started does.
#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) int DoConvert(const char* receiver,
                                                                const char* file, const char* tag) {
  const char* log = std::getenv("HV_TESTPORT_LOG");
  if (!log) return -1;
  FILE* f = std::fopen(log, "ab");
  if (!f) return -1;
  std::fprintf(f, "%s\t%s\t%s\n", receiver, file, tag);
  std::fclose(f);
  return 0;
}

extern "C" __attribute__((visibility("default"))) int GetFunctionID() {
  return 2;
}
