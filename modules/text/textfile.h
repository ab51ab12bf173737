#pragma once
// Reading and writing the message text as a file. The dialog's text is GBK with CR LF line
// breaks; a file is taken only when it is GBK text, so that what is shown, counted and sent is
// what the file holds.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace hv::textport {

enum class TextFileError {
  CannotOpen,   // missing, unreadable, a folder
  NotText,      // holds NUL bytes
  NotGbk,       // a byte sequence that is not GBK
  CannotWrite,  // the chosen file could not be written
};
// The message the user sees (GBK), naming the file.
std::string describe(TextFileError error, std::string_view path);

struct TextFile {
  std::optional<TextFileError> error;
  std::string text;        // CR LF line breaks
  bool truncated = false;  // the file holds more than was read
};

// Reads at most maxBytes from the start of the file, cut back to a character boundary; lone
// LFs and lone CRs become CR LF.
TextFile readTextFile(std::string_view path, size_t maxBytes);

// Replaces the file's contents with the text (atomically: a failed write leaves the old file).
std::optional<TextFileError> writeTextFile(std::string_view path, std::string_view text);

// Lone LFs and lone CRs as CR LF.
std::string withCrLf(std::string_view text);

}  // namespace hv::textport
