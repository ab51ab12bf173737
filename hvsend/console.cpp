#include "hvsend/console.h"

#include <algorithm>
#include <cstdio>

#include "platform/gbk.h"
#include "platform/messages.h"

namespace hv::hvsend {

namespace {

// The send progress dialog's status text and progress bar.
constexpr int kProgressTemplate = 5000, kStatus = 5000, kBar = 5001;

std::string shown(std::string_view gbk) {
  std::string s = gbkToUtf8Escaped(gbk);
  std::replace(s.begin(), s.end(), '\r', ' ');
  std::replace(s.begin(), s.end(), '\n', ' ');
  return s;
}

}  // namespace

void progress(bool enabled, const std::string& utf8) {
  if (enabled) std::fprintf(stderr, "hvsend: %s\n", utf8.c_str());
}

ui::Answer ConsoleBackend::messageBox(std::string_view text, std::string_view caption,
                                      ui::Icon icon, ui::Buttons buttons) {
  const std::string line = shown(caption) + ": " + shown(text);
  {
    std::lock_guard lock(mutex_);
    said_.push_back(line);
  }
  ui::Answer a = ui::Answer::Ok;
  if (buttons == ui::Buttons::YesNo) a = yes_ ? ui::Answer::Yes : ui::Answer::No;
  if (buttons == ui::Buttons::OkCancel) a = yes_ ? ui::Answer::Ok : ui::Answer::Cancel;
  const char* answer = buttons == ui::Buttons::Ok ? "" : (yes_ ? " [yes]" : " [no]");
  (void)icon;
  std::fprintf(stderr, "hvsend: %s%s\n", line.c_str(), answer);
  return a;
}

int ConsoleBackend::runModal(ui::DialogController& dialog) {
  // No dialog runs here: the user gives what a dialog would ask for on the command line.
  std::fprintf(stderr, "hvsend: %s needs a window; cancelled\n", shown(dialog.title()).c_str());
  return ui::kIdCancel;
}

void ConsoleBackend::showModeless(std::shared_ptr<ui::DialogController> dialog) {
  if (dialog->templateId() == kProgressTemplate) {
    auto* d = dialog.get();
    auto last = std::make_shared<std::string>();
    auto lastPercent = std::make_shared<int>(-1);
    const bool on = progress_;
    dialog->setObserver([d, last, lastPercent, on](int id) {
      if (!on) return;
      if (id == kStatus) {
        const std::string s = d->text(kStatus);
        if (!s.empty() && s != *last) {
          *last = s;
          std::fprintf(stderr, "hvsend: %s\n", shown(s).c_str());
        }
      } else if (id == kBar) {
        const auto range = d->items(kBar);
        const int high = range.size() == 2 ? std::max(1, std::atoi(range[1].c_str())) : 100;
        const int percent = std::clamp(d->selection(kBar) * 100 / high, 0, 100);
        if (percent / 25 != *lastPercent / 25 || percent == 100) {
          if (percent != *lastPercent) std::fprintf(stderr, "hvsend: %d%%\n", percent);
          *lastPercent = percent;
        }
      }
    });
  }
  dialog->onInit();
  std::lock_guard lock(mutex_);
  open_.push_back(std::move(dialog));
}

void ConsoleBackend::close(ui::DialogController& dialog) {
  dialog.setObserver(nullptr);
  std::lock_guard lock(mutex_);
  open_.erase(
      std::remove_if(open_.begin(), open_.end(), [&](const auto& d) { return d.get() == &dialog; }),
      open_.end());
}

void ConsoleBackend::schedule(std::function<void()> task) {
  auto t = std::make_shared<std::function<void()>>(std::move(task));
  currentExecutor()->post([t] { (*t)(); });
}

std::vector<std::string> ConsoleBackend::said() const {
  std::lock_guard lock(mutex_);
  return said_;
}

}  // namespace hv::hvsend
