#pragma once
// Flickport, the animation module's plug-in entry points.
#include "include/handvane/export.h"

// Opens the module's dialog (recipient, SWF file, launch tag); 0, or -2 when it cannot start.
HV_EXTERN_C int DoConvert(const char* receiver, const char* movieFile, const char* launchTag);
// 1.
HV_EXTERN_C int GetFunctionID();
