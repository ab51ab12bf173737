// The exported entry points: argument checks, the result rule and the result buffer.
#include "ringtone/tunecast.h"

#include <cstdlib>
#include <string>

#include "platform/gbk.h"
#include "ringtone/driver.h"

namespace {

using hv::tunecast::Status;

std::string text(const char* s) {
  return s ? std::string(s) : std::string();
}

int finish(const Status& status, char* result) {
  if (status.ok()) return 1;
  if (result) hv::copyToBuffer(result, TUNECAST_RESULT_SIZE, status.text());
  return 0;
}

}  // namespace

HV_EXTERN_C int MIDI2NokShort(const char* midiPath, const char* converterPath, int channel,
                              int tempoOff, int tempoShift, int maxMessages, char* result) {
  return finish(hv::tunecast::midiToNokia(text(midiPath), text(converterPath), channel, tempoOff,
                                          tempoShift, maxMessages),
                result);
}

HV_EXTERN_C int MIDI2IMelodyShort(const char* midiPath, const char* converterPath, int channel,
                                  int /*unused*/, int tempoShift, int maxMessages,
                                  const char* phoneModel, char* result) {
  return finish(hv::tunecast::midiToIMelody(text(midiPath), text(converterPath), channel,
                                            tempoShift, maxMessages, text(phoneModel)),
                result);
}

HV_EXTERN_C int GetMIDIBeat(const char* midiPath, const char* converterPath, int channel,
                            int* first, int* second, int* third, char* result) {
  hv::tunecast::Song song;
  Status status = hv::tunecast::forwardConvert(text(midiPath), text(converterPath), channel, song);
  if (!status.ok()) return finish(status, result);
  if (first) *first = song.tempo <= 24 ? 0 : song.tempo <= 900 ? 5 : 10;
  if (second) *second = 0;
  if (third) *third = 10;
  return 1;
}

HV_EXTERN_C int FreeString(char* string) {
  if (string && *string) std::free(string);
  return 0;
}
