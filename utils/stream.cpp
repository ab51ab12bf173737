#include "utils/stream.h"

#include <cstring>
#include <new>

#include "platform/fs.h"

int CMemoryStream::OpenStream(const void* block, long size) {
  CloseStream();
  if (size < 0 || (size > 0 && !block)) return -1;
  try {
    auto b = static_cast<const uint8_t*>(block);
    data_.assign(b, b + size);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  position_ = 0;
  open_ = true;
  return 0;
}

int CMemoryStream::WriteData(const void* p, int n) {
  if (!open_ || n <= 0 || !p) return 0;
  try {
    auto b = static_cast<const uint8_t*>(p);
    data_.insert(data_.end(), b, b + n);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return n;
}

int CMemoryStream::ReadData(void* p, int n) {
  if (!open_ || n <= 0 || !p || position_ >= data_.size()) return 0;
  size_t count = std::min(size_t(n), data_.size() - position_);
  std::memcpy(p, data_.data() + position_, count);
  position_ += count;
  return int(count);
}

void CMemoryStream::CloseStream() {
  data_.clear();
  data_.shrink_to_fit();
  position_ = 0;
  open_ = false;
}

int CFileStream::OpenStream(std::string_view fileName, const char* mode) {
  CloseStream();
  if (!mode || (std::strcmp(mode, "rb") != 0 && std::strcmp(mode, "wb") != 0)) return -1;
  file_ = hv::fs::fopen(fileName, mode);
  if (!file_) return -1;
  writing_ = mode[0] == 'w';
  failed_ = false;
  return 0;
}

int CFileStream::WriteData(const void* p, int n) {
  if (!file_ || !writing_ || failed_ || n <= 0 || !p) return 0;
  size_t w = std::fwrite(p, 1, size_t(n), file_);
  if (w != size_t(n)) failed_ = true;
  return int(w);
}

int CFileStream::ReadData(void* p, int n) {
  if (!file_ || writing_ || n <= 0 || !p) return 0;
  return int(std::fread(p, 1, size_t(n), file_));
}

long CFileStream::GetSize() const {
  if (!file_) return 0;
  long here = std::ftell(file_);
  std::fseek(file_, 0, SEEK_END);
  long size = std::ftell(file_);
  std::fseek(file_, here, SEEK_SET);
  return size;
}

int CFileStream::FlushData() {
  if (!file_ || failed_) return -1;
  if (std::fflush(file_) != 0) {
    failed_ = true;
    return -1;
  }
  return 0;
}

void CFileStream::CloseStream() {
  if (file_) {
    if (std::fclose(file_) != 0 && writing_) failed_ = true;
    file_ = nullptr;
  }
}
