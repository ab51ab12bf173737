// Any bytes as a text, a signature and options: the split never loses, repeats or splits a
// character, no message passes its capacity or 160 bytes, the cut keeps to the limit, and the
// cc field always parses.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "modules/text/core/splitting.h"

using namespace hv::textport;

namespace {

void require(bool ok) {
  if (!ok) std::abort();
}

std::string withoutCr(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c != '\r') out += c;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t flags = data[0];
  const size_t sigLength = std::min<size_t>(data[1] % (kSignatureBytes + 1), size - 2);
  Options o{(flags & 1) != 0, (flags & 2) != 0,
            std::string(reinterpret_cast<const char*>(data + 2), sigLength)};
  // The signature box and the settings reader let no control character into a signature.
  for (char& c : o.signature) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  const std::string input(reinterpret_cast<const char*>(data + 2 + sigLength),
                          size - 2 - sigLength);
  const std::string text = cutToLimit(input, o).value_or(input);
  const Mode mode = modeOf(text, o);
  require(units(text, mode) <= textLimit(mode, o) || modeOf(input, o) != mode);

  const Split s = split(text, o);
  require(s.count() >= messageCount(text, o));
  std::string carried;
  for (int u = 1; u <= s.count(); ++u) {
    const std::string& m = s.messages[size_t(u - 1)];
    require(units(m, s.mode) <= (s.mode == Mode::Wide ? kWideUnits : kNarrowUnits));
    require(m.size() <= size_t(kNarrowUnits));
    size_t head = 0;
    if (o.numbering && s.count() > 1) head += numberingPrefix(u, s.count()).size();
    if (o.signing) head += o.signature.size();
    if (o.numbering || o.signing) ++head;
    require(m.size() >= head);
    carried += m.substr(head);
  }
  require(carried == withoutCr(text));

  const auto to = recipients(o.signature, input);
  require(to.size() <= input.size() + 1);
  return 0;
}
