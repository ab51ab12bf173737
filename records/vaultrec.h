#pragma once
// Vaultrec: files of fixed-size records kept enciphered on disk (see records/record_file.h for
// the layout). Records are addressed by a zero-based slot index; a slot is in use or marked
// deleted, and a deleted slot is reused by the next add. Every call tries its byte-range lock
// once and never waits: a header or slot that another opener holds locked makes the call fail,
// except that an add skips locked slots while looking for a deleted one.
//
// Results: 1 for success and 0 for failure, except CRYPT_Open (a handle or null),
// CRYPT_GetRecordCount (the number of slots) and CRYPT_AddRecord (the slot written, or -1).
// Records passed in and out are exactly the file's plain record size P; names are GBK paths.
#include "include/handvane/export.h"

struct CryptFile;

// 1 when a new file with a fresh header (and no records) was written; 0 when it exists already,
// cannot be created, or P is not between 1 and 16 MiB.
HV_EXTERN_C int CRYPT_Create(const char* fileName, int plainSize);
// The handle, owned by the caller until CRYPT_Close; null when the file is missing, cannot be
// opened for reading and writing, its header is locked, cut short, lacks the magic or carries
// sizes that do not belong together.
HV_EXTERN_C CryptFile* CRYPT_Open(const char* fileName);
// Closes the file and frees the handle; null is allowed.
HV_EXTERN_C void CRYPT_Close(CryptFile* file);
// 1 when the file was deleted.
HV_EXTERN_C int CRYPT_Delete(const char* fileName);
// The number of slots (in use or deleted); 0 for a null handle.
HV_EXTERN_C int CRYPT_GetRecordCount(CryptFile* file);
// Writes the record into the first deleted slot that is not locked, else appends a slot; the
// index of the slot written, or -1.
HV_EXTERN_C int CRYPT_AddRecord(CryptFile* file, const void* record);
// 1 when the slot was marked deleted (its stored bytes stay in place).
HV_EXTERN_C int CRYPT_DelRecord(CryptFile* file, int index);
// 1 when the existing slot was overwritten with the record and marked in use.
HV_EXTERN_C int CRYPT_ModifyRecord(CryptFile* file, int index, const void* record);
// 1 when the slot is in use and its record deciphered into out; 0, with out untouched, for a
// deleted slot, one that does not decipher, a locked one or an index past the end.
HV_EXTERN_C int CRYPT_ReadRecord(CryptFile* file, int index, void* out);
