// Patchrun: installs an update that Handvane has downloaded. Takes no arguments.
#include <QApplication>

#include "ui/views/views.h"
#include "updater/client/patchclient.h"
#include "updater/patchrun.h"
#include "updater/qt/progressview.h"
#include "utils/function.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  hv::ui::qt::installSuiteUi();
  hv::patchrun::registerProgressView();
  hv::patchrun::UpdateClient client{
      UPDATE_Initialize,     UPDATE_CheckUpdateLocal,  UPDATE_GetUpdateItemCount,
      UPDATE_GetUpdateItem,  UPDATE_ExecuteUpdateItem, UPDATE_SetUpdateItem,
      UPDATE_FinishedUpdate,
  };
  return hv::patchrun::runPatchrun(client, [] { CFunction::DoMessageLoop(); });
}
