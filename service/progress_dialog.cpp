#include "service/progress_dialog.h"

#include "platform/gbk.h"

namespace hv::svc {

SendProgressDialog::SendProgressDialog() : DialogController(kTemplate, T("发送消息")) {
  setText(kStaticLabel, T("当前状态："));
  setText(kCancel, T("取消发送"));
}

void SendProgressDialog::onInit() {
  setRange(0, 0);
  setPosition(0);
  setStatus("");
}

void SendProgressDialog::onCommand(int id) {
  if (id == kCancel) cancelled_ = true;
}

bool SendProgressDialog::onClose() {
  cancelled_ = true;
  return DialogController::onClose();
}

void SendProgressDialog::setRange(int low, int high) {
  setItems(kProgress, {std::to_string(low), std::to_string(high)});
}

}  // namespace hv::svc
