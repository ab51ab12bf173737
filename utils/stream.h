#pragma once
// Byte streams over memory and files.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/export.h"

class HV_EXPORT CDataStream {
 public:
  virtual ~CDataStream() = default;
  // Appends one byte; 1 when written.
  int PutByte(uint8_t b) { return WriteData(&b, 1) == 1 ? 1 : 0; }
  // The count written; less than n when the stream failed.
  virtual int WriteData(const void* p, int n) = 0;
  // The count read; less than 1 at the end or on failure.
  virtual int ReadData(void* p, int n) = 0;
  virtual long GetSize() const = 0;
  virtual void CloseStream() = 0;
};

class HV_EXPORT CMemoryStream : public CDataStream {
 public:
  CMemoryStream() = default;
  ~CMemoryStream() override { CloseStream(); }
  // OpenStream(nullptr, 0) opens an empty growable buffer; OpenStream(block, size) a read stream
  // over a copy of the caller's block. 0 on success, -1 when size is negative or a block of
  // non-zero size is null.
  int OpenStream(const void* block, long size);
  int OpenStream() { return OpenStream(nullptr, 0); }
  int WriteData(const void* p, int n) override;
  int ReadData(void* p, int n) override;
  // The start of the bytes, valid until the next write.
  const uint8_t* GetHandle() const { return data_.data(); }
  long GetSize() const override { return long(data_.size()); }
  long GetPosition() const { return long(position_); }
  void CloseStream() override;

 private:
  std::vector<uint8_t> data_;
  size_t position_ = 0;
  bool open_ = false;
};

class HV_EXPORT CFileStream : public CDataStream {
 public:
  CFileStream() = default;
  ~CFileStream() override { CloseStream(); }
  CFileStream(const CFileStream&) = delete;
  CFileStream& operator=(const CFileStream&) = delete;
  // mode "rb" or "wb"; 0 on success, -1 on failure (any other mode included).
  int OpenStream(std::string_view fileName, const char* mode);
  int WriteData(const void* p, int n) override;
  int ReadData(void* p, int n) override;
  long GetSize() const override;
  // Pushes written bytes to the file; 0 on success, -1 on failure.
  int FlushData();
  void CloseStream() override;
  // True once a write or flush has failed; later writes write nothing.
  bool failed() const { return failed_; }

 private:
  FILE* file_ = nullptr;
  bool writing_ = false;
  bool failed_ = false;
};
