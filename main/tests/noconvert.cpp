// A library that loads but is no module: it has no DoConvert.
extern "C" __attribute__((visibility("default"))) int GetFunctionID() {
  return 99;
}
