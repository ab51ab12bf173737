#include "updater/patchrun.h"

#include <cstdio>
#include <vector>

#include "platform/gbk.h"

namespace hv::patchrun {

ProgressDialog::ProgressDialog(UpdateClient client, std::function<void()> pump)
    : ui::DialogController(kProgressTemplate, T("正在进行Lumoi客户端程更新...")),
      client_(std::move(client)),
      pump_(std::move(pump)) {
  setText(kTextId, T("正在进行Lumoi的客户端更新..."));
  setText(kCounterId, "1/1");
  setText(kStatusId, "");
}

std::string ProgressDialog::aboutItemText() {
  return T("关于 Patchrun(&A)...");
}

void ProgressDialog::onInit() {
  timerRunning_ = true;
}

void ProgressDialog::onCommand(int id) {
  if (id == kAboutCommand) {
    ui::messageBox(T("Patchrun 1.0 版"), T("关于 Patchrun"), ui::Icon::Information);
  }
}

void ProgressDialog::onTimer() {
  if (!timerRunning_) return;
  timerRunning_ = false;
  run();
}

void ProgressDialog::run() {
  const int count = client_.getUpdateItemCount();
  // A negative count is an error of the client: nothing is installed and the dialog stays.
  if (count < 0) return;
  setItems(kProgressId, {"0", std::to_string(count > 0 ? count : 1)});
  setSelection(kProgressId, 0);
  std::vector<unsigned char> item(kItemBufferSize);
  for (int i = 0; i < count; ++i) {
    std::fill(item.begin(), item.end(), 0);
    if (client_.getUpdateItem(i, item.data()) == 0) {
      setText(kStatusId, T("更新过程出错！"));
      return;
    }
    if (client_.executeUpdateItem(item.data()) != 0) {
      setText(kStatusId, T("执行更新出错！"));
      return;
    }
    client_.setUpdateItem(i, item.data());
    char counter[32];
    std::snprintf(counter, sizeof counter, "%d/%d", i + 1, count);
    setText(kCounterId, counter);
    setSelection(kProgressId, i + 1);
    if (pump_) pump_();
  }
  client_.finishedUpdate();
  endDialog(ui::kIdOk);
}

int runPatchrun(const UpdateClient& client, std::function<void()> pump) {
  if (client.initialize() != 0) {
    ui::messageBox(T("对不起，Lumoi客户端程序没有正确安装，请下载安装新的版本！"), "Lumoi",
                   ui::Icon::Stop);
    return 1;
  }
  if (client.checkUpdateLocal() != 0) {
    ui::messageBox(T("对不起，没有检查到新的版本！"), "Lumoi", ui::Icon::Stop);
    return 1;
  }
  ProgressDialog dialog(client, std::move(pump));
  if (ui::backend().runModal(dialog) == ui::kIdOk) {
    ui::messageBox(T("更新完成，请重新启动Lumoi！"), T("Lumoi更新"), ui::Icon::Information);
    return 0;
  }
  return 1;
}

}  // namespace hv::patchrun
