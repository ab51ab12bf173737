#pragma once
// The two libraries beside the UI: the single-instance channel (Onlyone, linked) and the friends
// dialog (Buddyedit, loaded when first opened). Each is reached through this header only, so that
// the program builds (with the feature off) while one of them is not part of the build.
#include <functional>
#include <string>

namespace hv::launcher {

class MainWindow;

enum class InstanceStart { First, Later, Failed };

// Asks the channel "MyProgramName" whether an instance runs.
InstanceStart acquireInstance();
// A later start: hands commandLine over to the running instance and waits until it was carried
// out; false (with a reason in `why`, GBK) when that instance does not answer.
bool handOverToRunningInstance(const std::string& commandLine, std::string& why);
// The first instance: registers the window that receives later starts' command lines.
void registerInstanceWindow(MainWindow& window);
// Gives up the channel at the end of the run.
void releaseInstance();

// The friends dialog's entry point; empty when the program has none.
std::function<int(const char*)> friendsDialogEntry();

}  // namespace hv::launcher
