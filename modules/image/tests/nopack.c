/* A library without the packing entry point. */
__attribute__((visibility("default"))) int SomethingElse(void) {
  return 0;
}
