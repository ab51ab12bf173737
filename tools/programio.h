#pragma once
// File handling shared by the converter programs: whole-file reads with a size limit, and writes
// that appear under their name only when complete (a reader polling for the file never sees half
// of it).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hv::tools {

std::optional<std::vector<uint8_t>> readBytes(const std::string& path, size_t limit);
bool writeComplete(const std::string& path, const void* data, size_t size);

}  // namespace hv::tools
