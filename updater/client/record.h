#pragma once
// The 1032-byte update item record exchanged through the UPDATE_ functions. The caller zero-fills
// it before each read and relies on two fields: the local path of the downloaded file at 512
// and the done flag at 1028. The rest is this library's own; integers are little-endian.
#include <cstddef>
#include <cstdint>

namespace hv::update {

inline constexpr uint32_t kRecordMagic = 0x50555648;  // "HVUP"

struct UpdateItemRecord {
  uint32_t magic;      // kRecordMagic once filled by UPDATE_GetUpdateItem
  uint32_t index;      // the item's place in the manifest
  uint64_t size;       // bytes of the new file
  uint8_t sha256[32];  // its SHA-256
  char path[256];      // where it goes, relative to the installation
  uint8_t reserved[208];
  char localPath[512];  // the verified download in the staging folder, or empty
  uint32_t applied;     // 1 once UPDATE_ExecuteUpdateItem installed it
  uint32_t done;        // 1 once the download is staged and verified
};
static_assert(sizeof(UpdateItemRecord) == 1032);
static_assert(offsetof(UpdateItemRecord, localPath) == 512);
static_assert(offsetof(UpdateItemRecord, done) == 1028);

}  // namespace hv::update
