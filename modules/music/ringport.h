#pragma once
// libRingport.so, the music module ("Lumo音"). DoConvert(receiver, file, tag) opens the music
// dialog with the MIDI file given (when not empty) and returns at once: 0, or -3 when the dialog
// could not be started. GetFunctionID() answers 8.
#include "include/handvane/export.h"

HV_EXTERN_C int DoConvert(const char* receiver, const char* midiFile, const char* tag);
HV_EXTERN_C int GetFunctionID();
