#include "modules/text/signature_dialog.h"

#include "modules/text/usersettings.h"
#include "platform/gbk.h"

namespace hv::textport {

SignatureDialog::SignatureDialog(std::string current)
    : DialogController(kTemplate, T("设置签名")), current_(signatureOf(current)) {
  setText(kPrompt, T("输入你的签名："));
  setText(kEdit, current_);
  setText(kOk, T("确定"));
  setText(kCancel, T("取消"));
}

void SignatureDialog::onInit() {
  setText(kEdit, current_);
}

void SignatureDialog::onChange(int id) {
  // The box takes no more than the signature's 20 bytes.
  if (id == kEdit) {
    const std::string typed = text(kEdit);
    if (std::string kept = signatureOf(typed); kept != typed) setText(kEdit, kept);
  }
}

void SignatureDialog::onCommand(int id) {
  if (id == kOk) {
    signature_ = signatureOf(text(kEdit));
    endDialog(kOk);
  } else if (id == kCancel) {
    signature_.clear();
    endDialog(kCancel);
  }
}

bool SignatureDialog::onClose() {
  signature_.clear();
  endDialog(kCancel);
  return true;
}

}  // namespace hv::textport
