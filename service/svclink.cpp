// The exported entry points of Svclink over the process's one ServiceSession.
#include "service/svclink.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/gbk.h"
#include "service/send_thread.h"
#include "service/session.h"

namespace hv::svc {
namespace {

// The send semaphore is shared by every process of the user. HANDVANE_SEND_SEMAPHORE names
// another one: test programs that run side by side take one each, so that a logout in one never
// waits for a drain in another.
std::string sendSemaphoreName() {
  const char* name = std::getenv("HANDVANE_SEND_SEMAPHORE");
  return name && *name ? name : ServiceSession::kSemaphoreName;
}

// Created on first use, alive until the library is unloaded.
ServiceSession& theSession() {
  static ServiceSession session(sendSemaphoreName());
  return session;
}

std::string text(const char* s) {
  return s ? std::string(s) : std::string();
}

// A header whose attachment type is not 0, 1 or 2 is refused.
bool copyHeader(const void* header, std::vector<uint8_t>& out) {
  if (!header) return false;
  auto bytes = static_cast<const uint8_t*>(header);
  size_t size = headerSizeOf(bytes);
  if (size == 0) return false;
  out.assign(bytes, bytes + size);
  return true;
}

int startSend(const SendNotice* notice, const void* header, SendRequest request) {
  if (theSession().state() != SessionState::Authenticated || !notice) return -1;
  if (!copyHeader(header, request.header)) return -1;
  // The send keeps what it read here, so a logout while it runs cannot change its user,
  // password or server half-way.
  auto credentials = theSession().sendCredentials();
  if (!credentials) return -1;
  request.notice = *notice;
  auto send = std::make_unique<CSendMessageThread>(std::move(request), std::move(*credentials));
  return CSendMessageThread::start(std::move(send)) ? 0 : -1;
}

}  // namespace
}  // namespace hv::svc

using namespace hv::svc;

HV_EXTERN_C int NET_Initialize(const char* proxyHost, int32_t proxyPort, const char* proxyUser,
                               const char* proxyPassword, int32_t proxyType) {
  return theSession().initialize(
      ProxySettings{text(proxyHost), proxyPort, text(proxyUser), text(proxyPassword), proxyType});
}

HV_EXTERN_C int NET_RegionRecognize(const char* userId, const char* regionHost,
                                    int32_t regionPort) {
  if (!userId) return -1;
  return theSession().regionRecognize(userId, text(regionHost), regionPort);
}

HV_EXTERN_C int NET_UserAuthentication(const char* userId, const char* password) {
  if (!userId) return -1;
  return theSession().authenticate(userId, text(password));
}

HV_EXTERN_C int NET_UserLogout() {
  return theSession().logout();
}

HV_EXTERN_C int NET_SendMessage(const hv::SendNotice* notice, const void* header,
                                const char* contentPath) {
  if (!contentPath) return -1;
  SendRequest request;
  request.contentPath = contentPath;
  return startSend(notice, header, std::move(request));
}

HV_EXTERN_C int NET_SendMessageContent(const hv::SendNotice* notice, const void* header,
                                       const void* content, int32_t contentLength) {
  if (!content || contentLength <= 0) return -1;
  SendRequest request;
  request.contentInMemory = true;
  auto bytes = static_cast<const uint8_t*>(content);
  request.content.assign(bytes, bytes + contentLength);
  return startSend(notice, header, std::move(request));
}

HV_EXTERN_C int NET_SendMobileTypeQuerySMS(const hv::SendNotice* notice, const char* receiver) {
  if (!receiver) return -1;
  std::string userId = theSession().userId();
  hv::MessageHeader header(1, 0);
  header.setServiceCode("SMS");
  header.setContentClass("TEXTG");
  header.setRecipient(0, receiver);
  header.setSender(userId);
  header.setModel("standard");
  header.setContentKind("sms_text");
  header.setContentType("TXT");
  // "Lumoi用户%s询问您的手机型号，请直接回复" with the user id in place of %s.
  std::string question = hv::T("Lumoi用户") + userId + hv::T("询问您的手机型号，请直接回复");
  auto batch = hv::encodeTextBatch({question});
  return NET_SendMessageContent(notice, header.data(), batch.data(), int32_t(batch.size()));
}
