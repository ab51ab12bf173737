#pragma once
// hvsend's command line: a command word, options ("--name value", "--name=value" or a flag) and
// plain arguments, checked against what each command takes.
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace hv::hvsend {

struct Args {
  std::string command;  // "text", "picture", ... ("" with --help alone)
  std::string sub;      // friends: "list", "add", "change", "delete"
  std::map<std::string, std::vector<std::string>> options;  // every value given, in order
  std::vector<std::string> plain;

  bool has(const std::string& name) const { return options.count(name) > 0; }
  // The last value given, or fallback.
  std::string value(const std::string& name, const std::string& fallback = {}) const;
  std::vector<std::string> values(const std::string& name) const;
};

struct ParseResult {
  std::optional<Args> args;
  std::string error;  // English, for the usage line
};

// The commands and the options each takes (flags take no value).
ParseResult parse(const std::vector<std::string>& argv);

// A decimal integer within [low, high], or nullopt.
std::optional<int> integer(const std::string& text, int low, int high);

}  // namespace hv::hvsend
