#pragma once
// Svclink: the suite's client of the delivery service. One session per process, driven in the
// order NET_UserLogout, NET_Initialize, NET_RegionRecognize, NET_UserAuthentication; then any
// number of sends, each in its own thread, whose result is posted to the notice's window.
//
// Results: 0 for success, the service's own non-zero status passed through, -1 for a local
// failure. Strings are NUL-terminated GBK, copied before the call returns.
#include <cstdint>

#include "include/handvane/export.h"
#include "include/handvane/records.h"

// Stores the proxy settings (type 0 direct, 1 SOCKS4, 2 SOCKS5, 3 HTTP CONNECT; any other type
// makes every request fail). 0, or -1 when the session's kernel objects could not be created.
HV_EXTERN_C int NET_Initialize(const char* proxyHost, int32_t proxyPort, const char* proxyUser,
                               const char* proxyPassword, int32_t proxyType);
// Asks the region server which authentication and send servers serve the user. Needs a session
// that is initialized and not yet past the region query. A user id over 19 bytes is refused.
HV_EXTERN_C int NET_RegionRecognize(const char* userId, const char* regionHost, int32_t regionPort);
// Proves the password to the authentication server; the user id must be the one recognised.
HV_EXTERN_C int NET_UserAuthentication(const char* userId, const char* password);
// Ends the session (proxy settings and servers are kept). Always 0.
HV_EXTERN_C int NET_UserLogout();

// Starts a send of the content in the file at contentPath (read when the send runs: the file
// must stay until the result arrives). header is a MessageHeader of 132 + 20N (attachment type
// 0), 176 + 20N (type 2) or 432 + 20N (type 1) bytes. 0 when the send was started; -1 when the
// session is not authenticated, an argument is unusable or the thread could not be started.
// The result code is posted as notice->message to notice->window with notice->wparam.
HV_EXTERN_C int NET_SendMessage(const hv::SendNotice* notice, const void* header,
                                const char* contentPath);
// As NET_SendMessage with the content in memory (copied before the call returns).
HV_EXTERN_C int NET_SendMessageContent(const hv::SendNotice* notice, const void* header,
                                       const void* content, int32_t contentLength);
// Sends receiver a text message asking for his phone model, from the session's user.
HV_EXTERN_C int NET_SendMobileTypeQuerySMS(const hv::SendNotice* notice, const char* receiver);
