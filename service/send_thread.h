#pragma once
// One send: assembles the whole message packet in memory, obtains a ticket from the send server
// and uploads the packet, showing its progress, then posts the result to the caller's window.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "include/handvane/records.h"
#include "service/progress_dialog.h"
#include "service/session.h"

class CDataStream;

namespace hv::svc {

// The result codes posted to the caller. 0 and the server's own statuses pass through as they
// come; the negative codes are local.
enum class SendFailure : int {
  StreamOrTicket = -1,  // packet stream could not be opened, or the ticket exchange failed
  Cancelled = -2,
  NoConnection = -3,
  HeaderWrite = -5,
  OpenContent = -6,
  PlaceholderWrite = -7,
  CountRead = -8,
  TextRead = -9,  // also a text longer than 160 bytes
  TextWrite = -10,
  SizeWrite = -11,
  PieceCopy = -12,
  SizeMismatch = -13,
  DescriptorWrite = -14,
  UploadHeadSend = -15,
  PieceSend = -16,
  ReplyLength = -17,   // no reply length, or one other than 12
  ReplyCommand = -18,  // no reply command, or another command
  ReplyStatus = -19,
};
const char* describe(SendFailure f);

// What an entry point copies for its send.
struct SendRequest {
  SendNotice notice{};
  std::vector<uint8_t> header;  // exactly the size its N and attachment type call for
  bool contentInMemory = false;
  std::vector<uint8_t> content;
  std::string contentPath;
};

// Header bytes a MessageHeader block needs (from its N and attachment type); 0 for an unknown
// attachment type.
size_t headerSizeOf(const uint8_t* header);

class CSendMessageThread {
 public:
  CSendMessageThread(SendRequest request, SendCredentials credentials);

  // Runs the send on a detached thread that owns it. False when no thread could be started.
  static bool start(std::unique_ptr<CSendMessageThread> send);
  // Sends whose thread has not finished yet, in this process.
  static int running();

  // The whole send; posts the result and returns it.
  int run();

  // Assembles the packet (the first stage of run()); 0 or a SendFailure code.
  int buildPacket(SendProgressDialog& dialog);
  const std::vector<uint8_t>& packet() const { return packet_; }

 private:
  int copyStream(CDataStream& from, long size, SendProgressDialog* progress,
                 SendProgressDialog& dialog);
  int obtainTicket(CNetkit& socket, std::array<uint8_t, kTicketWidth>& ticket);
  int upload(CNetkit& socket, const std::array<uint8_t, kTicketWidth>& ticket,
             SendProgressDialog& dialog);
  int send();

  SendRequest request_;
  SendCredentials credentials_;
  std::vector<uint8_t> packet_;
  std::shared_ptr<SendProgressDialog> dialog_;
};

}  // namespace hv::svc
