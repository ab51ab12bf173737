/* A packing library that misbehaves on purpose, chosen by the format name: it answers a size
 * refusal after creating its file, a code no packer uses, success without a file, success with a
 * path outside the folder it was given, or success with a real one-message file. */
#include <stdio.h>
#include <string.h>

__attribute__((visibility("default"))) int DoProcess(char* path, const char* format, int width,
                                                     int height, const unsigned char* pixels) {
  (void)width;
  (void)height;
  (void)pixels;
  char folder[200];
  snprintf(folder, sizeof folder, "%.199s", path);
  if (strcmp(format, "wrong_size") == 0) {
    snprintf(path, 260, "%.199s/QTXfake.tmp", folder);
    FILE* f = fopen(path, "wb");
    if (f) fclose(f);
    return -2;
  }
  if (strcmp(format, "garbage") == 0) return 7;
  if (strcmp(format, "nofile") == 0) {
    snprintf(path, 260, "%.199s/QTXnothing.tmp", folder);
    return 0;
  }
  if (strcmp(format, "elsewhere") == 0) {
    snprintf(path, 260, "%.199s/../keep.tmp", folder);
    return 0;
  }
  return -1;
}
