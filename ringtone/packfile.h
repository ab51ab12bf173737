#pragma once
// The packed message file: a little-endian 32-bit count of short messages, then for each its
// 32-bit length, its user data and one 0x00 byte.
#include <string_view>
#include <vector>

#include "ringtone/fault.h"
#include "ringtone/nokia.h"

namespace hv::tunecast {

// `streams` null is "no byte streams"; an empty list is an invalid count.
Status writePackedFile(std::string_view path, const std::vector<ByteStream>* streams);

}  // namespace hv::tunecast
