#pragma once
// The text dialog "Lumo字-Textport" as a controller: compose or load a text, choose up to ten
// recipients, send the text as numbered, signed short messages in one request, and offer to add
// the first recipient as a friend. Its Qt view binds widgets to these controls.
//
// Controls (id: kind, text):
//   1001 receiver box (editable combo box): items are the friends' names, sorted, then the
//        typing history; the text is the edit part; the selection the chosen entry
//   1002 cc field (multi-line edit)              1003 button "抄送好友"
//   1004 message text (multi-line edit; CR LF line breaks)
//   1005 check box "在每条短消息内容前面加入序号" (on at start)
//   1006 check box "短消息内容中加入签名"          1007 check box "闪电短信"
//   1008 button "发 送"     1009 the picture send button on the phone picture
//   1010 button "打 开"     1011 button "保 存"     1012 button "资费说明"
//   1013 label "%d个字符"   1014 label "拆分成 %d 条短消息发送"   1015 the fee label
//   1016 the dialog window itself: disabled while a send waits for its result
//   1017, 1018, 1019 the header's animation, image and music buttons
//
// Protocol for the view: set a check box's new state and send onCommand(id); set an edit's text
// (CR LF line breaks) or the receiver box's text and selection and send onChange(id).
#include <string>
#include <utility>
#include <vector>

#include "modules/kit/convert.h"
#include "modules/kit/receiverbox.h"
#include "modules/text/core/splitting.h"
#include "tables/fees/feeconfig.h"
#include "ui/core/ui.h"

class FriendsTable;

namespace hv::textport {

class TextDialog : public ui::DialogController {
 public:
  static constexpr int kTemplate = 15100;
  static constexpr int kReceiver = 1001, kCc = 1002, kCcButton = 1003, kText = 1004,
                       kNumbering = 1005, kSigning = 1006, kFlash = 1007, kSend = 1008,
                       kPictureSend = 1009, kOpen = 1010, kSave = 1011, kFeeInfo = 1012,
                       kLength = 1013, kCount = 1014, kFee = 1015, kWindow = 1016,
                       kHeaderFlash = 1017, kHeaderImage = 1018, kHeaderMusic = 1019;

  // The tool tips of the controls (GBK).
  static std::vector<std::pair<int, std::string>> toolTips();

  explicit TextDialog(modkit::ConvertArgs args);
  ~TextDialog() override;
  TextDialog(const TextDialog&) = delete;
  TextDialog& operator=(const TextDialog&) = delete;

  void onInit() override;
  void onCommand(int id) override;
  void onChange(int id) override;
  // Closing is refused while a send waits for its result.
  bool onClose() override;

  // The text should start selected (the prompt was put in).
  bool promptSelected() const { return promptSelected_; }
  const std::string& signature() const { return signature_; }
  Options options() const;
  // The result of the last send: 0 delivered, -100 not sent, else the failure posted.
  int lastResult() const { return result_; }
  bool sending() const { return sending_; }

 private:
  void loadUserData();
  void recalculate();
  void receiverChanged();
  std::vector<std::string> recipientList() const;
  void send();
  bool refuseBeforeSignIn(const std::string& text, const Split& s,
                          const std::vector<std::string>& to);
  void signingClicked();
  void ccClicked();
  void openText();
  void saveText();
  void appendStartFile();
  void refuse(const std::string& text);

  modkit::ConvertArgs args_;
  modkit::ReceiverBox receiver_;
  FriendsTable* friends_ = nullptr;
  CFeeConfig fee_;
  std::string signature_;
  bool promptSelected_ = false;
  bool sending_ = false;
  int result_ = -100;
};

}  // namespace hv::textport
