#include "modules/image/panel.h"

#include <charconv>

#include "platform/fs.h"
#include "platform/gbk.h"

namespace hv::pictport {

namespace {

// Text values are read as the platform's profile reader fills a 260-character buffer.
constexpr size_t kTextBuffer = 260;

std::vector<std::string_view> split(std::string_view s, char sep) {
  std::vector<std::string_view> out;
  size_t start = 0;
  while (true) {
    const size_t at = s.find(sep, start);
    out.push_back(s.substr(start, at == std::string_view::npos ? at : at - start));
    if (at == std::string_view::npos) break;
    start = at + 1;
  }
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::optional<int> integer(std::string_view s) {
  s = trim(s);
  int v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return v;
}

// "n,id,(left,top,width,height)"
bool parseGeometry(std::string_view g, PanelControl& c) {
  g = trim(g);
  const size_t open = g.find('(');
  if (open == std::string_view::npos || g.back() != ')') return false;
  const auto head = split(g.substr(0, open), ',');
  const auto box = split(g.substr(open + 1, g.size() - open - 2), ',');
  if (head.size() != 3 || !trim(head[2]).empty() || box.size() != 4) return false;
  auto unused = integer(head[0]);
  auto id = integer(head[1]);
  std::optional<int> v[4];
  for (int i = 0; i < 4; ++i) v[i] = integer(box[i]);
  if (!unused || !id || !v[0] || !v[1] || !v[2] || !v[3] || *v[2] < 0 || *v[3] < 0) return false;
  c.id = *id;
  c.keepsPlace = *v[1] == -1;
  c.rect = {*v[0], *v[1], *v[0] + *v[2], *v[1] + *v[3]};
  return true;
}

std::string fileOrNull(std::string_view name, std::string_view dir) {
  name = trim(name);
  if (name.empty() || name == "null") return {};
  return std::string(dir) + std::string(name);
}

}  // namespace

std::optional<PanelControl> parseControl(std::string_view description,
                                         std::string_view pictureDir) {
  const size_t semi = description.find(';');
  if (semi == std::string_view::npos) return std::nullopt;
  PanelControl c;
  c.kind = std::string(trim(description.substr(0, semi)));
  const auto params = split(description.substr(semi + 1), ';');
  if (!parseGeometry(params[0], c)) return std::nullopt;
  if (c.kind == "button") {
    if (params.size() != 4) return std::nullopt;
    c.normalBitmap = fileOrNull(params[1], pictureDir);
    c.secondBitmap = fileOrNull(params[2], pictureDir);
    const std::string_view tip = trim(params[3]);
    if (tip != "null") c.tooltip = std::string(tip);
  } else if (c.kind == "edit") {
    if (params.size() != 1) return std::nullopt;
  } else if (c.kind == "transstatic") {
    if (params.size() > 2) return std::nullopt;
    if (params.size() == 2 && !trim(params[1]).empty()) {
      const auto rgb = split(params[1], ',');
      if (rgb.size() != 3) return std::nullopt;
      std::optional<int> v[3] = {integer(rgb[0]), integer(rgb[1]), integer(rgb[2])};
      for (auto& x : v) {
        if (!x || *x < 0 || *x > 255) return std::nullopt;
      }
      c.textColour = Rgb{uint8_t(*v[0]), uint8_t(*v[1]), uint8_t(*v[2])};
    }
  } else {
    return std::nullopt;
  }
  return c;
}

std::optional<std::string> PanelLayout::text(std::string_view section, std::string_view key) {
  std::string v = profile_.get(section, key).value_or("");
  v = std::string(gbkCut(v, kTextBuffer - 1));
  if (v.empty()) {
    if (report_) report_(path_ + std::string(section) + std::string(key));
    return std::nullopt;
  }
  return v;
}

int PanelLayout::number(std::string_view section, std::string_view key) const {
  auto v = profile_.get(section, key);
  if (!v) return -1;
  // Windows rules: leading blanks, an optional sign, digits; no digits reads 0.
  std::string_view s = trim(*v);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  long n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') break;
    n = std::min(n * 10 + (c - '0'), 1L << 30);
  }
  return int(negative ? -n : n);
}

bool PanelLayout::readControls(std::string_view section, std::vector<PanelControl>& out) {
  const int count = number(section, "controlnum");
  for (int i = 1; i <= count; ++i) {
    auto desc = text(section, "control" + std::to_string(i));
    if (!desc) return false;
    auto c = parseControl(*desc, dir_);
    if (!c) return false;
    out.push_back(std::move(*c));
  }
  return true;
}

bool PanelLayout::load(std::string_view iniPath, Report report) {
  return loadText(fs::readFile(fs::resolveOrKeep(iniPath)).value_or(""), iniPath,
                  std::move(report));
}

bool PanelLayout::loadText(std::string_view iniText, std::string_view iniPath, Report report) {
  path_ = std::string(iniPath);
  dir_ = fs::directoryOf(iniPath);
  report_ = std::move(report);
  pictures_.clear();
  controls_.clear();
  states_.clear();
  profile_ = Profile::parse(iniText);
  origin_ = {number("ALL", "x"), number("ALL", "y")};
  const int pics = number("ALL", "picnum");
  for (int i = 1; i <= pics; ++i) {
    auto desc = text("ALL", "pic" + std::to_string(i));
    if (!desc) return false;
    const auto parts = split(*desc, ',');
    if (parts.size() != 4) return false;
    auto id = integer(parts[0]), left = integer(parts[1]), top = integer(parts[2]);
    if (!id || !left || !top) return false;
    auto opened = openPicture(fs::resolveOrKeep(dir_ + std::string(trim(parts[3]))));
    if (!opened) return false;
    pictures_.push_back({*id, {*left, *top}, std::move(opened->picture)});
  }
  return readControls("ALL", controls_);
}

const PanelPicture* PanelLayout::picture(int id) const {
  for (const auto& p : pictures_) {
    if (p.id == id) return &p;
  }
  return nullptr;
}

const PanelControl* PanelLayout::control(int id) const {
  for (const auto& c : controls_) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

const PanelState& PanelLayout::state(const std::string& name) {
  auto it = states_.find(name);
  if (it != states_.end()) return it->second;
  PanelState s;
  s.background = number(name, "backgroudpic");
  readControls(name, s.controls);
  return states_.emplace(name, std::move(s)).first->second;
}

std::optional<PanelStates::Change> PanelStates::show(PanelLayout& layout, std::string name) {
  if (name == current_) return std::nullopt;
  Change change;
  if (!current_.empty()) {
    for (const auto& c : layout.state(current_).controls) change.hide.push_back(c.id);
  }
  previous_ = current_;
  current_ = name;
  const PanelState& s = layout.state(name);
  change.background = s.background;
  const Point o = layout.origin();
  for (PanelControl c : s.controls) {
    c.rect = {c.rect.left + o.x, c.rect.top + o.y, c.rect.right + o.x, c.rect.bottom + o.y};
    change.show.push_back(std::move(c));
  }
  return change;
}

}  // namespace hv::pictport
