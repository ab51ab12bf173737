#pragma once
// The component's work, with its parts open to the tests.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/fetch.h"

namespace hv::handoff {

inline constexpr uint64_t kMaxDownloadBytes = 64ull * 1024 * 1024;

enum class HandoffError { None, BadMode, NotHttp, Download, NoFolder, Write, NoProgram, Start };
const char* handoffErrorText(HandoffError e);

// A safe local name for the address's file: its last path component reduced to letters,
// digits, '.' and '_' ('-' becomes '_'), at most 64 bytes, never starting with '.'; "download"
// when nothing is left.
std::string fileNameFor(std::string_view address);

// Downloads address into a new file in folder (the name from fileNameFor, made unique).
// The file's path, or nullopt with error set.
std::optional<std::string> download(const std::string& address, const net::FetchProxy& proxy,
                                    const std::string& folder, int timeoutMs, HandoffError& error);

// The program that opens files: $HANDVANE_PROGRAM, else "Handvane" beside this library.
std::string handvaneProgram();

}  // namespace hv::handoff
