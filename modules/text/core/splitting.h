#pragma once
// How a text becomes short messages. Everything here works on GBK bytes and knows nothing of the
// dialog, so the dialog, the tests and the fuzz target share one implementation.
//
// Capacity is counted in units. A string is wide when it holds a byte of 0xA0 or more (the GBK
// lead bytes 0x81-0x9F alone do not make it wide). A send is in wide mode when its text is wide,
// or when it is signed with a wide signature; one mode holds for every count of the send. In a
// mode, a CR counts 0 (the messages carry line breaks as LF alone), a character begun by a byte
// of 0xA0 or more counts 2, and any other byte counts 1 in narrow mode and 2 in wide mode. A
// message holds 140 units in wide mode and 160 in narrow mode, less the signature and one LF
// when the messages are numbered or signed.
//
// A GBK character led by 0x81-0x9F counts as its two bytes, and is never split between two
// messages, nor is any other two-byte character. A byte of 0xA0 or more before a control byte
// (a damaged character) counts 2 on its own.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hv::textport {

enum class Mode { Narrow, Wide };

inline constexpr int kWideUnits = 140;
inline constexpr int kNarrowUnits = 160;
inline constexpr int kMaxMessages = 10;
inline constexpr int kMaxRecipients = 10;
inline constexpr size_t kSignatureBytes = 20;

struct Options {
  bool numbering = true;  // "(u/n)" before each of several messages, then a LF
  bool signing = false;   // the signature before each message, then a LF
  std::string signature;  // GBK, at most kSignatureBytes, no control characters
};

bool isWide(std::string_view gbk);
Mode modeOf(std::string_view text, const Options& options);
int units(std::string_view gbk, Mode mode);

// "(u/n)".
std::string numberingPrefix(int u, int n);
// Units of the prefixes of messages 1 to n of n.
int prefixUnits(int n, Mode mode);

// Units one message holds for the text of the send (B).
int capacity(Mode mode, const Options& options);
// The message count by the counting rule: the text's units over the capacity, grown while the
// numbering prefixes do not fit (0 for a text without units).
int messageCount(std::string_view text, const Options& options);
// Units of text that ten messages carry: ten capacities less the ten prefixes of "(u/10)",
// whether numbering is on or not (narrow, no options: 1539; wide: 1278).
int textLimit(Mode mode, const Options& options);
// The text cut to the limit when it holds more units: characters are kept from the start, CRs
// dropped, until no further character fits. nullopt when the text is within the limit.
std::optional<std::string> cutToLimit(std::string_view text, const Options& options);

// The messages of a send, built in the mode of the send.
struct Split {
  Mode mode = Mode::Narrow;
  int capacity = 0;
  std::vector<std::string> messages;
  int count() const { return int(messages.size()); }
};
// Message u of n: the prefix "(u/n)" when numbering is on and n > 1, the signature when signing,
// a LF when numbering or signing, then the next characters of the text (CRs skipped) up to the
// capacity less the prefix. The count is messageCount(); should the last character still not fit
// (a two-byte character against an odd limit), one more message is taken, so nothing is lost.
Split split(std::string_view text, const Options& options);

// The recipients of a send: the receiver (when not empty), then the cc field cut into tokens at
// every ';' and CR (a LF right after such a separator skipped, empty tokens dropped, tokens not
// trimmed); a token "name<number>" gives the text between its first '<' and the first '>' after
// it when that is not empty, any other token itself. Duplicates are kept.
std::vector<std::string> recipients(std::string_view receiver, std::string_view cc);

}  // namespace hv::textport
