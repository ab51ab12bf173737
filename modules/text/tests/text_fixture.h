#pragma once
// The text dialog driven headless: a controller with the scripted backend against the real
// service, sign-in and the user's real files.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "modules/kit/tests/module_fixture.h"
#include "modules/text/text_dialog.h"
#include "platform/gbk.h"
#include "tables/friends/buddystore.h"

namespace hv::textport::testing {

using modkit::testing::kPassword;
using modkit::testing::kUser;

class TextFixture : public modkit::testing::ModuleFixture {
 protected:
  // A dialog as DoConvert would start it, with onInit run.
  std::unique_ptr<TextDialog> open(const std::string& receiver = "", const std::string& file = "",
                                   const std::string& tag = "") {
    auto d = std::make_unique<TextDialog>(modkit::ConvertArgs{receiver, file, tag});
    d->onInit();
    return d;
  }
  static void type(TextDialog& d, int id, const std::string& text) {
    d.setText(id, text);
    d.onChange(id);
  }
  static void click(TextDialog& d, int id, int checked) {
    d.setChecked(id, checked);
    d.onCommand(id);
  }
  // Adds a friend to the signed-in user's table.
  void addFriend(const std::string& name, const std::string& number) {
    FriendsTable* t = FLOpen(kUser);
    ASSERT_NE(t, nullptr);
    FriendRecord f{};
    copyField(f.name, name);
    copyField(f.mobilenum, number);
    EXPECT_GE(FLAddInfo(t, &f), 0);
    FLClose(t);
  }
  // The boxes shown so far, as UTF-8, and forgotten.
  std::vector<std::string> takeBoxes() {
    auto texts = backend_->boxTexts();
    backend_->clearBoxes();
    return texts;
  }
  // How show-message prints the texts of a stored message.
  static std::string shownTexts(const std::vector<std::string>& gbkTexts) {
    std::string out;
    for (size_t i = 0; i < gbkTexts.size(); ++i) {
      out += "text " + std::to_string(i + 1) + " (" + std::to_string(gbkTexts[i].size()) +
             " bytes): " + gbkToUtf8Escaped(gbkTexts[i]) + "\n";
    }
    return out;
  }
};

}  // namespace hv::textport::testing
