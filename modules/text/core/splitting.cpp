#include "modules/text/core/splitting.h"

#include <cstdio>

namespace hv::textport {

namespace {

constexpr unsigned char kCR = 0x0D;
constexpr unsigned char kLF = 0x0A;

bool pairLead(unsigned char c) {
  return c >= 0xA0;
}
bool gbkLowLead(unsigned char c) {
  return c >= 0x81 && c <= 0x9F;
}
bool gbkTrail(unsigned char c) {
  return c >= 0x40 && c <= 0xFE && c != 0x7F;
}

// One character of a text as the counting sees it.
struct Char {
  size_t length;  // bytes
  int units;      // 0 for a CR
};

Char charAt(std::string_view s, size_t i, Mode mode) {
  const auto c = static_cast<unsigned char>(s[i]);
  const int single = mode == Mode::Wide ? 2 : 1;
  if (c == kCR) return {1, 0};
  // A lead byte before a CR, a LF or another control byte stands alone, so that no line break
  // is swallowed by a damaged character.
  if (pairLead(c)) {
    const bool paired = i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x40;
    return {paired ? size_t(2) : size_t(1), 2};
  }
  if (gbkLowLead(c) && i + 1 < s.size() && gbkTrail(static_cast<unsigned char>(s[i + 1]))) {
    return {2, 2 * single};
  }
  return {1, single};
}

int ceilDiv(int a, int b) {
  return (a + b - 1) / b;
}

// Copies characters from text at pos into out until the text ends or the next character would
// pass `room` units; CRs are skipped. The units are those of the copied bytes as they stand
// without their CRs, since dropping a CR can pair a lone lead byte with the byte after it.
// Returns the position after the last byte consumed.
size_t takeChunk(std::string_view text, size_t pos, int room, Mode mode, std::string& out) {
  std::string piece;
  while (pos < text.size()) {
    const Char c = charAt(text, pos, mode);
    if (c.units == 0) {
      pos += c.length;
      continue;
    }
    std::string next = piece;
    next.append(text.substr(pos, c.length));
    if (units(next, mode) > room) break;
    piece = std::move(next);
    pos += c.length;
  }
  out += piece;
  return pos;
}

// The messages for n, and whether they took the whole text.
bool build(std::string_view text, const Options& o, Mode mode, int b, int n,
           std::vector<std::string>& messages) {
  messages.clear();
  size_t pos = 0;
  for (int u = 1; u <= n; ++u) {
    std::string m;
    int room = b;
    if (o.numbering && n > 1) {
      m = numberingPrefix(u, n);
      room -= units(m, mode);
    }
    if (o.signing) m += o.signature;
    if (o.numbering || o.signing) m += char(kLF);
    pos = takeChunk(text, pos, room, mode, m);
    messages.push_back(std::move(m));
  }
  // Only CRs may be left over.
  while (pos < text.size() && static_cast<unsigned char>(text[pos]) == kCR) ++pos;
  return pos >= text.size();
}

}  // namespace

bool isWide(std::string_view gbk) {
  for (char c : gbk) {
    if (pairLead(static_cast<unsigned char>(c))) return true;
  }
  return false;
}

Mode modeOf(std::string_view text, const Options& options) {
  return isWide(text) || (options.signing && isWide(options.signature)) ? Mode::Wide : Mode::Narrow;
}

int units(std::string_view gbk, Mode mode) {
  int n = 0;
  for (size_t i = 0; i < gbk.size();) {
    const Char c = charAt(gbk, i, mode);
    n += c.units;
    i += c.length;
  }
  return n;
}

std::string numberingPrefix(int u, int n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "(%d/%d)", u, n);
  return buf;
}

int prefixUnits(int n, Mode mode) {
  int total = 0;
  for (int u = 1; u <= n; ++u) total += units(numberingPrefix(u, n), mode);
  return total;
}

int capacity(Mode mode, const Options& options) {
  int b = mode == Mode::Wide ? kWideUnits : kNarrowUnits;
  if (options.signing) b -= units(options.signature, mode);
  if (options.numbering || options.signing) b -= units("\n", mode);
  return b;
}

int messageCount(std::string_view text, const Options& options) {
  const Mode mode = modeOf(text, options);
  const int b = capacity(mode, options);
  const int t = units(text, mode);
  if (t == 0 || b <= 0) return 0;
  int n = ceilDiv(t, b);
  if (!options.numbering || n <= 1) return n;
  // n only grows; the prefixes of more messages never take fewer units.
  while (true) {
    const int m = ceilDiv(t + prefixUnits(n, mode), b);
    if (m <= n) return n;
    ++n;
  }
}

int textLimit(Mode mode, const Options& options) {
  return kMaxMessages * capacity(mode, options) - prefixUnits(kMaxMessages, mode);
}

std::optional<std::string> cutToLimit(std::string_view text, const Options& options) {
  const Mode mode = modeOf(text, options);
  const int limit = textLimit(mode, options);
  if (units(text, mode) <= limit) return std::nullopt;
  std::string kept;
  takeChunk(text, 0, limit, mode, kept);
  return kept;
}

Split split(std::string_view text, const Options& options) {
  Split s;
  s.mode = modeOf(text, options);
  s.capacity = capacity(s.mode, options);
  int n = messageCount(text, options);
  if (n == 0) return s;
  // One more message at a time; the text's bytes bound the count, so this ends.
  while (!build(text, options, s.mode, s.capacity, n, s.messages) && size_t(n) <= text.size()) {
    ++n;
  }
  return s;
}

std::vector<std::string> recipients(std::string_view receiver, std::string_view cc) {
  std::vector<std::string> out;
  if (!receiver.empty()) out.emplace_back(receiver);
  auto contribute = [&](std::string_view token) {
    if (token.empty()) return;
    const size_t open = token.find('<');
    const size_t close = open == std::string_view::npos ? open : token.find('>', open + 1);
    if (close != std::string_view::npos && close > open + 1) {
      out.emplace_back(token.substr(open + 1, close - open - 1));
    } else {
      out.emplace_back(token);
    }
  };
  size_t start = 0;
  for (size_t i = 0; i < cc.size(); ++i) {
    if (cc[i] != ';' && cc[i] != '\r') continue;
    contribute(cc.substr(start, i - start));
    start = i + 1;
    if (start < cc.size() && cc[start] == '\n') {
      ++start;
      ++i;
    }
  }
  contribute(cc.substr(start));
  return out;
}

}  // namespace hv::textport
