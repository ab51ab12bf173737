#pragma once
// Logopack turns a black-and-white picture into the binary short messages of a phone picture
// format and writes them as a packed message file. Loaded at run time by path; the one entry
// point is looked up by name.
#include "include/handvane/export.h"

// path    a buffer of 260 characters: on entry the folder for the file (one trailing "/" allowed),
//         on return the file's full path (unchanged when no name fits the buffer).
// format  the picture type name, compared case-sensitively.
// pixels  width x height pixels of 3 bytes, rows from the top; only the first byte is read.
// Returns 0 when written; -1 unknown format; -2 the picture does not suit the format (the file
// is left empty); -3 the file could not be created or written.
HV_EXTERN_C int DoProcess(char* path, const char* format, int width, int height,
                          const unsigned char* pixels);
