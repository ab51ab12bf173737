#pragma once
// Tunecast: MIDI files to ringtone short messages. The MIDI file is turned into RTTTL by an
// outside converter program, encoded as a Nokia Smart Messaging ringing tone or as iMelody in EMS
// messages, and written as a packed message file beside the MIDI file ("<midi>.sht"), with a
// preview of the notes that fitted ("<midi>retring.txt" and "<midi>retring.mid").
//
// Strings are GBK. `result` may be null; otherwise it receives a NUL-terminated text of at most
// TUNECAST_RESULT_SIZE bytes including the terminator. Texts quote paths and converter output, so a
// longer one is cut there, on a character boundary: give a buffer of TUNECAST_RESULT_SIZE bytes.
#include "include/handvane/export.h"

#define TUNECAST_RESULT_SIZE 4096

// Nokia ringing tone. `tempoOff` non-zero leaves out the tempo instruction; `tempoShift` moves the
// tempo along the ringing tone's tempo table. Returns 1 when all went well and no text was written;
// otherwise writes the text and returns 0. "exceed number:<n>" is a warning: the files are
// complete, but the tune was cut to `maxMessages` messages.
HV_EXTERN_C int MIDI2NokShort(const char* midiPath, const char* converterPath, int channel,
                              int tempoOff, int tempoShift, int maxMessages, char* result);

// iMelody in EMS messages; `tempoShift` is added to the tempo in beats per minute. The phone model
// decides how a single cut message keeps its header lines. `unused` is ignored.
HV_EXTERN_C int MIDI2IMelodyShort(const char* midiPath, const char* converterPath, int channel,
                                  int unused, int tempoShift, int maxMessages,
                                  const char* phoneModel, char* result);

// Runs only the MIDI to RTTTL conversion and answers a tempo hint: *first 0 for a tempo up to 24,
// 5 up to 900, 10 above; *second 0 and *third 10. Returns 1, or 0 with a text.
HV_EXTERN_C int GetMIDIBeat(const char* midiPath, const char* converterPath, int channel,
                            int* first, int* second, int* third, char* result);

// Releases a string with free(); a null or empty string is left alone. Returns 0.
HV_EXTERN_C int FreeString(char* string);
