#pragma once
// The picture formats by name, and the encoding of a picture into the short messages of one.
#include <cstdint>
#include <mutex>
#include <random>
#include <string_view>
#include <variant>
#include <vector>

#include "encoder/message.h"
#include "encoder/picture.h"

namespace hv::logopack {

enum class EncodeError {
  UnknownFormat,  // no format of that name (names are compared case-sensitively)
  BadSize,        // the picture's size does not suit the format, or its messages would be malformed
  CannotCreate,   // no output file could be named or created
  CannotWrite,    // the output file could not be written completely
};
std::string_view errorText(EncodeError error);
// The result code of the exported entry point: -1, -2 or -3.
int resultCode(EncodeError error);

// Reference numbers that tie the messages of one picture together.
class ReferenceSource {
 public:
  virtual ~ReferenceSource() = default;
  // A number from 0 to `maximum` inclusive.
  virtual uint32_t next(uint32_t maximum) = 0;
};

// Uniform numbers from a generator seeded by the system's entropy source; safe to share between
// threads.
class RandomReferences : public ReferenceSource {
 public:
  RandomReferences();
  uint32_t next(uint32_t maximum) override;

 private:
  std::mutex mutex_;
  std::mt19937 engine_;
};

// The source the exported entry point uses, one per process.
ReferenceSource& processReferences();

// The messages of `picture` in the named format, in sending order, or why there are none.
// A picture without pixels suits no format.
std::variant<std::vector<Record>, EncodeError> encode(std::string_view format,
                                                      const Picture& picture,
                                                      ReferenceSource& references);

}  // namespace hv::logopack
