#include "hvsend/args.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <set>

namespace hv::hvsend {

namespace {

// Options taking a value, and flags.
const std::set<std::string> kValued = {
    "to",     "user",   "password",   "model",   "type",  "threshold",    "signature", "quality",
    "proxy",  "region", "tag",        "channel", "tempo", "max-messages", "format",    "preview",
    "number", "name",   "phone-type", "out",     "mode",  "first",        "last",      "frames"};
const std::set<std::string> kFlags = {"flash", "no-numbering", "dry-run",   "json",       "help",
                                      "yes",   "remember",     "tempo-off", "no-progress"};
const std::set<std::string> kCommands = {"login",     "text",        "picture", "ringtone",
                                         "animation", "query-model", "friends", "models"};
const std::set<std::string> kFriendsSubs = {"list", "add", "change", "delete"};

}  // namespace

std::string Args::value(const std::string& name, const std::string& fallback) const {
  auto it = options.find(name);
  return it == options.end() || it->second.empty() ? fallback : it->second.back();
}

std::vector<std::string> Args::values(const std::string& name) const {
  auto it = options.find(name);
  return it == options.end() ? std::vector<std::string>{} : it->second;
}

std::optional<int> integer(const std::string& text, int low, int high) {
  if (text.empty() || text.size() > 11) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return std::nullopt;
  return int(v);
}

ParseResult parse(const std::vector<std::string>& argv) {
  ParseResult r;
  Args a;
  bool onlyPlain = false;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& w = argv[i];
    if (!onlyPlain && w == "--") {
      onlyPlain = true;
    } else if (!onlyPlain && w.size() > 2 && w.compare(0, 2, "--") == 0) {
      std::string name = w.substr(2), value;
      const size_t eq = name.find('=');
      const bool inlineValue = eq != std::string::npos;
      if (inlineValue) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
      }
      if (kFlags.count(name)) {
        if (inlineValue) {
          r.error = "option --" + name + " takes no value";
          return r;
        }
        a.options[name];
      } else if (kValued.count(name)) {
        if (!inlineValue) {
          if (i + 1 >= argv.size()) {
            r.error = "option --" + name + " needs a value";
            return r;
          }
          value = argv[++i];
        }
        a.options[name].push_back(value);
      } else {
        r.error = "unknown option --" + name;
        return r;
      }
    } else if (!onlyPlain && w == "-h") {
      a.options["help"];
    } else if (!onlyPlain && w.size() > 1 && w[0] == '-' && w != "-") {
      r.error = "unknown option " + w;
      return r;
    } else if (a.command.empty()) {
      if (!kCommands.count(w)) {
        r.error = "unknown command " + w;
        return r;
      }
      a.command = w;
    } else if (a.command == "friends" && a.sub.empty()) {
      if (!kFriendsSubs.count(w)) {
        r.error = "friends takes list, add, change or delete";
        return r;
      }
      a.sub = w;
    } else {
      a.plain.push_back(w);
    }
  }
  if (a.command.empty() && !a.has("help")) {
    r.error = "no command given";
    return r;
  }
  if (a.command == "friends" && a.sub.empty() && !a.has("help")) {
    r.error = "friends takes list, add, change or delete";
    return r;
  }
  r.args = std::move(a);
  return r;
}

}  // namespace hv::hvsend
