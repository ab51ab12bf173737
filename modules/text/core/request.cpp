#include "modules/text/core/request.h"

#include "modules/text/core/splitting.h"

namespace hv::textport {

MessageHeader buildHeader(const TextRequest& r) {
  MessageHeader h(r.recipients.size(), 0);
  h.setLaunchTag(r.tag);
  h.setServiceCode("SMS");
  // The class follows the capacity, not the text: a narrow text signed with 19 or 20 narrow
  // characters leaves at most 140 units and goes as "TEXTG".
  h.setContentClass(r.capacity > kWideUnits ? "TEXTA" : "TEXTG");
  for (size_t i = 0; i < r.recipients.size(); ++i) h.setRecipient(i, r.recipients[i]);
  h.setSender(r.sender);
  h.setModel("standard");
  h.setContentKind(r.flash ? "sms_fireflag" : "sms_text");
  h.setContentType("TXT");
  return h;
}

std::vector<uint8_t> buildContent(const std::vector<std::string>& messages) {
  return encodeTextBatch(messages);
}

}  // namespace hv::textport
