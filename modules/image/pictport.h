#pragma once
// Pictport, the image module ("Lumo图"): its plug-in entry points. Loaded by path; nothing links
// it.
#include "include/handvane/export.h"

// Opens the image dialog for a recipient text, a picture file to open and a launch tag (each may
// be empty) and returns at once: 0, or -2 (after telling the user "创建线程失败") when the
// dialog could not be started.
HV_EXTERN_C int DoConvert(const char* receiver, const char* pictureFile, const char* launchTag);
// The module's number: 4.
HV_EXTERN_C int GetFunctionID();
