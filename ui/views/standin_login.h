#pragma once
// A stand-in controller of the login dialog's template (9000) for showing the view where no
// service is wanted (the gallery, the view tests): the control ids and the behaviour of the
// dialog's proxy controls and buttons, without the service behind "登录". Header only; the real
// controller lives in libSignon.
#include <string>

#include "platform/gbk.h"
#include "ui/core/ui.h"

namespace hv::ui::qt {

class LoginStandin : public DialogController {
 public:
  explicit LoginStandin(std::string proxyType)
      : DialogController(9000, T("用户登录")), type_(proxyType) {}

  void onInit() override {
    setItems(9001, {"13800138000", "13900139000"});
    setSelection(9001, 1);
    setText(9001, "13900139000");
    setText(9011, "127.0.0.1");
    setText(9012, "1080");
    apply(type_);
  }

  void onCommand(int id) override {
    switch (id) {
      case 9016:
        if (checked(9016) && type_.empty()) type_ = "SOCK4";
        apply(checked(9016) ? type_ : "");
        break;
      case 9009:
        apply("SOCK4");
        break;
      case 9010:
        apply("SOCK5");
        break;
      case 9004:
        if (text(9001).empty()) {
          messageBox(T("请首先输入用户手机号！"), T("用户登录"), Icon::Information);
        } else {
          endDialog(0);
        }
        break;
      case 9008:
        endDialog(1);
        break;
      case 9007:
        endDialog(-1);
        break;
      default:
        break;
    }
  }

  bool onClose() override {
    endDialog(-1);
    return true;
  }

  void apply(const std::string& type) {
    const bool four = type == "SOCK4", five = type == "SOCK5";
    if (four || five) type_ = type;
    setChecked(9016, four || five);
    setChecked(9009, four);
    setChecked(9010, five);
    for (int id : {9009, 9010, 9011, 9012}) setEnabled(id, four || five);
    for (int id : {9013, 9014}) setEnabled(id, five);
  }

 private:
  std::string type_;
};

}  // namespace hv::ui::qt
