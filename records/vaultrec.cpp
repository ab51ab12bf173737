#include "records/vaultrec.h"

#include <memory>

#include "records/record_file.h"

using hv::records::RecordError;
using hv::records::RecordFile;

struct CryptFile {
  std::unique_ptr<RecordFile> file;
};

namespace {
std::span<const uint8_t> recordBytes(const CryptFile* h, const void* record) {
  return {static_cast<const uint8_t*>(record), h->file->plainSize()};
}
}  // namespace

HV_EXTERN_C int CRYPT_Create(const char* fileName, int plainSize) {
  if (!fileName || plainSize <= 0) return 0;
  return RecordFile::create(fileName, uint32_t(plainSize)) == RecordError::None ? 1 : 0;
}

HV_EXTERN_C CryptFile* CRYPT_Open(const char* fileName) {
  if (!fileName) return nullptr;
  auto h = std::make_unique<CryptFile>();
  if (RecordFile::open(fileName, h->file) != RecordError::None) return nullptr;
  return h.release();
}

HV_EXTERN_C void CRYPT_Close(CryptFile* file) {
  delete file;
}

HV_EXTERN_C int CRYPT_Delete(const char* fileName) {
  return fileName && RecordFile::remove(fileName) ? 1 : 0;
}

HV_EXTERN_C int CRYPT_GetRecordCount(CryptFile* file) {
  return file ? int(file->file->count()) : 0;
}

HV_EXTERN_C int CRYPT_AddRecord(CryptFile* file, const void* record) {
  if (!file || !record) return -1;
  uint32_t index = 0;
  return file->file->add(recordBytes(file, record), index) == RecordError::None ? int(index) : -1;
}

HV_EXTERN_C int CRYPT_DelRecord(CryptFile* file, int index) {
  if (!file || index < 0) return 0;
  return file->file->erase(uint32_t(index)) == RecordError::None ? 1 : 0;
}

HV_EXTERN_C int CRYPT_ModifyRecord(CryptFile* file, int index, const void* record) {
  if (!file || !record || index < 0) return 0;
  return file->file->modify(uint32_t(index), recordBytes(file, record)) == RecordError::None ? 1
                                                                                             : 0;
}

HV_EXTERN_C int CRYPT_ReadRecord(CryptFile* file, int index, void* out) {
  if (!file || !out || index < 0) return 0;
  std::span<uint8_t> plain(static_cast<uint8_t*>(out), file->file->plainSize());
  return file->file->read(uint32_t(index), plain) == RecordError::None ? 1 : 0;
}
