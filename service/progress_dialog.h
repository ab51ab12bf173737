#pragma once
// The small modeless dialog a send shows while it works: a status line, a progress bar and a
// cancel button. The send thread updates it; the view (on the user-interface thread) reads it
// through the controller. Exported from libSvclink, so that views and the gallery drive the
// same controller. The progress bar follows the binding's convention: position in the
// control's selection, range in its items {"low", "high"}.
#include <atomic>
#include <string>

#include "include/handvane/export.h"
#include "ui/core/ui.h"

namespace hv::svc {

class HV_EXPORT SendProgressDialog : public ui::DialogController {
 public:
  static constexpr int kTemplate = 5000;
  static constexpr int kStaticLabel = 0xFFFF;  // the unnamed static "当前状态："
  static constexpr int kStatus = 5000;
  static constexpr int kProgress = 5001;
  static constexpr int kCancel = 5002;

  SendProgressDialog();

  void onInit() override;
  void onCommand(int id) override;
  bool onClose() override;

  void setStatus(std::string text) { setText(kStatus, std::move(text)); }
  void setRange(int low, int high);
  void setPosition(int position) { setSelection(kProgress, position); }
  bool cancelled() const { return cancelled_.load(); }

 private:
  std::atomic<bool> cancelled_{false};
};

}  // namespace hv::svc
