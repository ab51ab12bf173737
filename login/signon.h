#pragma once
// Signon: signs the user in to the delivery service, with or without the login dialog, and keeps
// the outcome in a process-wide state block that every module reads.
//
// The settings ("DATA/logincfg.dat" in the suite's home, an enciphered record file holding one
// 980-byte LoginSettings record) remember the users who signed in here, the last user id and
// password, the auto-login choice, the proxy and the region server. They are read at every call
// and written only after a successful sign-in.
#include "include/handvane/export.h"
#include "include/handvane/records.h"

// Signs in and returns the resulting state: 0 not signed in, 1 working without the service,
// 2 signed in. With an id and a password, or with neither while auto-login is on and a last id
// and password are remembered, it signs in silently (no dialog, nothing shown on failure);
// otherwise it shows the login dialog, preset with userId when one is given. Both may be null.
HV_EXTERN_C int LOGIN_Login(const char* userId, const char* password);
// Copies the 104-byte state block to out when out is not null; returns the state.
HV_EXTERN_C int LOGIN_GetState(hv::LoginState* out);
// Copies the remembered last user id into out (at most 39 bytes and a terminator; empty when the
// settings cannot be read); returns 0.
HV_EXTERN_C int LOGIN_GetLastUserId(char* out);
