#pragma once
// hvsend's user interface: message boxes become lines on stderr (answered "yes" only with
// --yes), the send progress dialog becomes progress lines on stderr, and no dialog runs (a
// modal dialog, such as the login dialog, is cancelled).
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ui/core/ui.h"

namespace hv::hvsend {

class ConsoleBackend : public ui::Backend {
 public:
  ConsoleBackend(bool yes, bool progress) : yes_(yes), progress_(progress) {}

  ui::Answer messageBox(std::string_view text, std::string_view caption, ui::Icon icon,
                        ui::Buttons buttons) override;
  std::optional<std::string> openFile(std::string_view, std::string_view,
                                      std::string_view) override {
    return std::nullopt;
  }
  std::optional<std::string> saveFile(std::string_view, std::string_view,
                                      std::string_view) override {
    return std::nullopt;
  }
  int runModal(ui::DialogController& dialog) override;
  void showModeless(std::shared_ptr<ui::DialogController> dialog) override;
  void close(ui::DialogController& dialog) override;
  void schedule(std::function<void()> task) override;

  // The message boxes shown so far (UTF-8), for the --json result.
  std::vector<std::string> said() const;

 private:
  bool yes_;
  bool progress_;
  mutable std::mutex mutex_;
  std::vector<std::string> said_;
  std::vector<std::shared_ptr<ui::DialogController>> open_;
};

// Progress of long local work (conversion, packing) on stderr.
void progress(bool enabled, const std::string& utf8);

}  // namespace hv::hvsend
