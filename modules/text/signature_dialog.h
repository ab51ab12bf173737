#pragma once
// The signature dialog "设置签名": the label "输入你的签名：", one edit box that takes at most 20
// bytes, "确定" and "取消". It starts with the current signature; "确定" gives the edited text,
// "取消" and closing the window give an empty text.
#include <string>

#include "ui/core/ui.h"

namespace hv::textport {

class SignatureDialog : public ui::DialogController {
 public:
  static constexpr int kTemplate = 15101;
  static constexpr int kPrompt = 1101, kEdit = 1102, kOk = ui::kIdOk, kCancel = ui::kIdCancel;

  explicit SignatureDialog(std::string current);

  void onInit() override;
  void onChange(int id) override;
  void onCommand(int id) override;
  bool onClose() override;

  // The dialog's outcome (GBK, at most 20 bytes).
  const std::string& signature() const { return signature_; }

 private:
  std::string current_;
  std::string signature_;
};

}  // namespace hv::textport
