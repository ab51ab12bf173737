#include "ringtone/fault.h"

#include "platform/gbk.h"

namespace hv::tunecast {

// GBK trail bytes lie in 0x40-0xFE, so a "%" in the GBK text is always a placeholder's.
std::string Status::fill(Fault fault, std::initializer_list<fault_text::Value> values) {
  const std::string text = T(faultTemplate(fault));
  std::string out;
  auto next = values.begin();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == 's' || text[i + 1] == 'd') &&
        next != values.end()) {
      out += (next++)->text;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace hv::tunecast
