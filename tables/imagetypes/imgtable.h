#pragma once
// Imgtable: the picture types (IMAGETYP table) and which phone models support which of them
// (PHONEIMA table). Both tables are read once, when the object is built, and never written.
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/export.h"
#include "include/handvane/records.h"

// Thrown by the constructors when a table cannot be read.
class HV_EXPORT DbfException : public std::exception {
 public:
  explicit DbfException(std::string message);
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const { return message_; }
  // Writes "手机图片型号模块:" and the message into buffer, cut to its size on a character
  // boundary; always true.
  bool GetErrorMessage(char* buffer, unsigned size, unsigned* helpContext = nullptr) const;

 private:
  std::string message_;
};

// A picture size in pixels.
struct ImageSize {
  int cx = 0;
  int cy = 0;
};

class HV_EXPORT ImageTable {
 public:
  // dataDir: the folder holding IMAGETYP.DBF. Throws DbfException.
  explicit ImageTable(std::string_view dataDir);

  // Lookups by key are exact and case-sensitive; the first row in table order wins.
  int GetImageTypeInfo(std::string_view type, hv::IMAGETYPE_INFO* info) const;
  int GetImageNameByType(std::string_view type, std::string& name) const;
  // Clears out and lists the key of every type of exactly this size; returns the count.
  int GetImageTypeBySize(ImageSize size, std::vector<std::string>& out) const;
  // The index of the first candidate of exactly this size (its name into name), or -1.
  int GetSizeMatchImageType(ImageSize size, std::string& name,
                            const std::vector<std::string>& candidates) const;
  // Clears out and keeps the candidates that are colour types (colour 1) or black-and-white
  // types (colour 0); returns the count.
  int GetColorMatchImageType(int colour, std::vector<std::string>& out,
                             const std::vector<std::string>& candidates) const;
  // The index of the candidate whose shape is nearest the picture's (its name into name), or -1.
  int GetBiliMatchImageType(ImageSize size, std::string& name,
                            const std::vector<std::string>& candidates) const;

  const std::vector<hv::IMAGETYPE_INFO>& records() const { return records_; }

 private:
  const hv::IMAGETYPE_INFO* find(std::string_view type) const;
  std::vector<hv::IMAGETYPE_INFO> records_;
};

class HV_EXPORT CPhone2Image {
 public:
  // dataDir: the folder holding PHONEIMA.DBF. Throws DbfException.
  explicit CPhone2Image(std::string_view dataDir);

  // Matches here ignore ASCII letter case. The list-filling calls append (they do not clear) and
  // return 1 when the list is non-empty afterwards.
  int GetImageType(std::string_view phoneType, std::vector<std::string>& out) const;
  int GetImageTypeForFlash(std::string_view phoneType, std::vector<std::string>& out) const;
  int GetPhoneType(std::string_view imageType, std::vector<std::string>& out) const;
  int IsPhoneTypeSupported(std::string_view phoneType) const;
  int IsPhoneTypeSupportedForFlash(std::string_view phoneType) const;

  struct Row {
    std::string phonetype;
    std::string imagetype;
    std::string flashfit;
  };
  const std::vector<Row>& rows() const { return rows_; }

 private:
  std::vector<Row> rows_;
};
