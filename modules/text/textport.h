#pragma once
// Textport ("Lumo字"): the text module. The main program loads it by path and calls DoConvert,
// which opens the text dialog and returns at once; any number of dialogs may be open.
#include "include/handvane/export.h"

// The three strings are the initial recipient, a text file to load and the launch tag; null reads
// as empty. 0 when the dialog was started, -1 when not.
HV_EXTERN_C int DoConvert(const char* receiver, const char* textFile, const char* tag);
// The module's number: 2.
HV_EXTERN_C int GetFunctionID();
