#pragma once
// The request of a text send: the MessageHeader the service client forwards (attachment type 0,
// 132 + 20N bytes) and the TextBatch content block.
#include <cstdint>
#include <string>
#include <vector>

#include "include/handvane/records.h"

namespace hv::textport {

struct TextRequest {
  std::string tag;                      // launch tag; cut to 10 bytes
  std::vector<std::string> recipients;  // 1 to 10; each cut to 19 bytes
  std::string sender;                   // the signed-in user's id
  int capacity = 0;                     // units per message of the send
  bool flash = false;
};

// "SMS"; "TEXTA" for a capacity over 140 units, else "TEXTG"; "standard"; "sms_fireflag" for a
// flash message, else "sms_text"; "00000000"; "TXT"; attachment type 0.
MessageHeader buildHeader(const TextRequest& request);

// The content block: the message count, then each message's length, bytes and a NUL.
std::vector<uint8_t> buildContent(const std::vector<std::string>& messages);

}  // namespace hv::textport
