#include "ui/core/ui.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/gbk.h"
#include "platform/messages.h"

namespace {

using hv::ui::Answer;
using hv::ui::Buttons;
using hv::ui::Icon;

TEST(Filter, ParsesTheDesignsFilterStrings) {
  auto f = hv::ui::parseFilter("Pictures|*.jpg;*.png;*.bmp|All files|*.*||");
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].description, "Pictures");
  EXPECT_EQ(f[0].patterns, (std::vector<std::string>{"*.jpg", "*.png", "*.bmp"}));
  EXPECT_EQ(f[1].patterns, (std::vector<std::string>{"*.*"}));
  EXPECT_TRUE(hv::ui::parseFilter("").empty());
  EXPECT_EQ(hv::ui::parseFilter("Text|*.txt|").size(), 1u);
}

TEST(ScriptedBackend, RecordsBoxesAndAnswersFromTheScript) {
  auto b = std::make_shared<hv::ui::ScriptedBackend>();
  hv::ui::setBackend(b);
  b->answer(Answer::No);
  EXPECT_EQ(hv::ui::messageBox(hv::T("确定发送吗？"), hv::T("文字短消息"), Icon::Question,
                               Buttons::YesNo),
            Answer::No);
  // Without a scripted answer the first button is taken.
  EXPECT_EQ(hv::ui::messageBox("x", "c", Icon::Stop, Buttons::OkCancel), Answer::Ok);
  ASSERT_EQ(b->boxes().size(), 2u);
  EXPECT_EQ(b->boxes()[0].icon, Icon::Question);
  EXPECT_EQ(b->boxTexts()[0], "确定发送吗？");
  b->fileAnswer("/tmp/a.txt");
  EXPECT_EQ(hv::ui::backend().openFile("T|*.txt|", "", ""), "/tmp/a.txt");
  EXPECT_EQ(hv::ui::backend().openFile("T|*.txt|", "", ""), std::nullopt);
  hv::ui::setBackend(nullptr);
}

class Counter : public hv::ui::DialogController {
 public:
  Counter() : DialogController(4242, "counter") {}
  void onInit() override { setText(1, "0"); }
  void onCommand(int id) override {
    if (id == 2) setText(1, std::to_string(std::stoi(text(1)) + 1));
    if (id == hv::ui::kIdOk) endDialog(hv::ui::kIdOk);
  }
};

TEST(ScriptedBackend, PlaysModalDialogsThroughTheirController) {
  hv::ui::ScriptedBackend b;
  b.onDialog(4242, [](hv::ui::DialogController& d) {
    d.onCommand(2);
    d.onCommand(2);
    d.onCommand(hv::ui::kIdOk);
  });
  Counter c;
  EXPECT_EQ(b.runModal(c), hv::ui::kIdOk);
  EXPECT_EQ(c.text(1), "2");
  EXPECT_EQ(b.modalCount(4242), 1);

  Counter unscripted;
  hv::ui::ScriptedBackend empty;
  EXPECT_EQ(empty.runModal(unscripted), hv::ui::kIdCancel);
}

TEST(DialogController, WorkerThreadUpdatesReachTheObserver) {
  Counter c;
  std::vector<int> changed;
  std::mutex m;
  c.setObserver([&](int id) {
    std::lock_guard lock(m);
    changed.push_back(id);
  });
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i) c.setText(5000, "status " + std::to_string(i));
    c.setEnabled(5002, false);
  });
  worker.join();
  EXPECT_EQ(c.text(5000), "status 99");
  EXPECT_FALSE(c.enabled(5002));
  EXPECT_EQ(changed.size(), 101u);
  c.endDialog(7);
  c.endDialog(8);  // a dialog ends once
  EXPECT_EQ(c.result(), 7);
  EXPECT_EQ(changed.back(), -2);
}

TEST(ScriptedBackend, ScheduledTasksRunOnTheCallingThreadsQueue) {
  hv::ui::ScriptedBackend b;
  bool ran = false;
  b.schedule([&] { ran = true; });
  EXPECT_FALSE(ran);
  hv::pumpMessages();
  EXPECT_TRUE(ran);
}

}  // namespace
