#pragma once
// Writing a whole file in one go: created (or truncated) with the given fopen mode, written and
// closed, with every step checked.
#include <cstddef>
#include <string_view>

namespace hv::tunecast {

bool writeWholeFile(std::string_view path, const void* data, size_t size, const char* mode);

}  // namespace hv::tunecast
