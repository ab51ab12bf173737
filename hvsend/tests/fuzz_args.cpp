// Any command line (NUL-separated words) through hvsend's parser: no crash, and what it takes
// holds a known command and only the values it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "hvsend/args.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words(1);
  for (size_t i = 0; i < size && words.size() < 64; ++i) {
    if (data[i] == 0)
      words.emplace_back();
    else
      words.back() += char(data[i]);
  }
  const auto r = hv::hvsend::parse(words);
  if (r.args.has_value() == !r.error.empty()) std::abort();
  if (r.args) {
    size_t values = r.args->plain.size();
    for (const auto& [name, v] : r.args->options) values += v.size();
    if (values > words.size()) std::abort();
  }
  return 0;
}
