#pragma once
// Patchrun, the update executor: the start-up checks and the progress dialog that installs a
// downloaded update item by item through the update client. Qt-free; the program binds the
// client's exported functions, tests a client of their own.
#include <functional>
#include <string>

#include "ui/core/ui.h"

namespace hv::patchrun {

// The update client's calls that Patchrun makes (patchclient.h).
struct UpdateClient {
  std::function<int()> initialize;
  std::function<int()> checkUpdateLocal;
  std::function<int()> getUpdateItemCount;
  std::function<int(int, void*)> getUpdateItem;
  std::function<int(void*)> executeUpdateItem;
  std::function<int(int, void*)> setUpdateItem;
  std::function<int()> finishedUpdate;
};

// The item buffer: at least the client's 1032-byte record.
inline constexpr size_t kItemBufferSize = 2048;

inline constexpr int kProgressTemplate = 15100;
inline constexpr int kTextId = 15101;      // "正在进行Lumoi的客户端更新..."
inline constexpr int kProgressId = 15102;  // items done, range 0..N
inline constexpr int kCounterId = 15103;   // "i/N"
inline constexpr int kStatusId = 15104;    // the error text after a failing item
inline constexpr int kAboutCommand = 16;

class ProgressDialog : public ui::DialogController {
 public:
  // pump processes pending window messages after each item (CFunction::DoMessageLoop).
  ProgressDialog(UpdateClient client, std::function<void()> pump);

  // The window menu's about item; empty when the string table has none.
  static std::string aboutItemText();

  void onInit() override;
  void onCommand(int id) override;
  // The 100 ms timer: the first tick runs the installation (later ticks do nothing).
  void onTimer();
  bool timerRunning() const { return timerRunning_; }

 private:
  void run();

  UpdateClient client_;
  std::function<void()> pump_;
  bool timerRunning_ = false;
};

// The whole program after the UI is set up: the checks, the dialog, the completion message.
// Returns the exit code.
int runPatchrun(const UpdateClient& client, std::function<void()> pump);

}  // namespace hv::patchrun
