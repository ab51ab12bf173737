#pragma once
// libPatchclient.so: the update client. Handvane checks for and downloads updates with it; Patchrun
// installs what was downloaded. Item buffers are the 1032-byte record of record.h.
#include "include/handvane/export.h"

extern "C" {
// 0 when the installation was found and is ready; an installation left half-updated by an
// interrupted run is first put back as it was.
HV_EXPORT int UPDATE_Initialize();
// Asks the web site: negative when there was no usable answer, 1 when a newer version must be
// fetched by hand, 2 when a newer version can be installed, 0 when this one is current.
HV_EXPORT int UPDATE_CheckUpdate();
// 0 when the newer version found by UPDATE_CheckUpdate is prepared for downloading.
HV_EXPORT int UPDATE_CreateUpdateProcess();
// Items of the prepared update, or -1 when none is prepared.
HV_EXPORT int UPDATE_GetUpdateItemCount();
// Non-zero when item index was copied into item.
HV_EXPORT int UPDATE_GetUpdateItem(int index, void* item);
// 0 when the item was downloaded into the staging folder and verified.
HV_EXPORT int UPDATE_DownloadUpdateItem(void* item, void* reserved1, void* reserved2);
// Records the item's new state; 0, or -1 for a record that is not this update's.
HV_EXPORT int UPDATE_SetUpdateItem(int index, void* item);
// 0 when a downloaded, verified update waits to be installed.
HV_EXPORT int UPDATE_CheckUpdateLocal();
// 0 when the item was installed. On failure everything installed so far is put back.
HV_EXPORT int UPDATE_ExecuteUpdateItem(void* item);
// Concludes the installation: the new version is recorded, the replaced files are dropped.
HV_EXPORT int UPDATE_FinishedUpdate();
// The installed version ("1.2") into buffer; its length, or -1 when it does not fit.
HV_EXPORT int UPDATE_GetVersion(char* buffer, int size);
}
