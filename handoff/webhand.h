#pragma once
// libWebhand.so: the web hand-off component. The service's web site (through the cookie channel or
// a ".hdv" file) names content to fetch; the component downloads it over HTTP into the user's
// temporary folder and opens it in the module that handles it, by starting Handvane with the
// file, which a running Handvane takes over.
#include "include/handvane/export.h"

extern "C" {
// The user's proxy for the downloads (type 0 none, 1 SOCKS4, 2 SOCKS5); until called, none.
HV_EXPORT void HANDOFF_SetProxy(int type, const char* host, int port, const char* user,
                                const char* password);
// Fetches address and opens the file; identifier goes with the request; mode is 2. 0 when the
// file was downloaded and handed to Handvane, negative otherwise (the web site's hand-offs are
// never reported to the user).
HV_EXPORT int HANDOFF_Open(const char* address, const char* identifier, int mode);
}
