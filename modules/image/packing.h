#pragma once
// Packing the send picture into the file that is sent: a picture file of our own for the types
// saved as pictures ("INTERNAL_MODULE"), or the packed message file of the type's packing
// library, loaded by path. And the request header that goes with it.
#include <optional>
#include <string>
#include <string_view>

#include "include/handvane/records.h"
#include "modules/image/pipeline.h"

namespace hv::pictport {

// Why packing failed.
enum class PackError {
  None,
  SaveFailed,       // the picture file could not be written
  LibraryMissing,   // the packing library did not load
  FunctionMissing,  // it has no DoProcess
  Refused,          // DoProcess answered a failure code
  NoFile,           // DoProcess claimed success but left no file
};

// The packing library's own result codes.
enum class ProcessCode { Ok = 0, UnknownType = -1, WrongSize = -2, FileFailed = -3 };
// The text of a DoProcess result: -3 "文件操作失败", -2 "图片高度和宽度不符", -1
// "不支持的图片类型", anything else "未知错误" (GBK).
std::string processCodeText(int code);

struct PackResult {
  PackError error = PackError::None;
  int code = 0;         // DoProcess's result when Refused
  std::string path;     // the file to send (GBK), when packed
  std::string message;  // what the user is told on failure (GBK), caption "Lumo图"
  bool ok() const { return error == PackError::None; }
};

// Packs the send picture (overlay already drawn) into a new file of tempDir. On failure any file
// that packing left in tempDir is removed.
PackResult pack(const Picture& send, const PictureType& type, SourceKind source,
                std::string_view tempDir);

// "%s/QTX%x.%s" with the first counter from the tick count whose name is free, created empty and
// private (mode 0600); nullopt when no name could be created.
std::optional<std::string> createPackedName(std::string_view tempDir, std::string_view extension);

// The extension of the packed file: the text after the last "." of its name, "tmp" when none.
std::string packedExtension(std::string_view path);

// What the request header carries besides the packed file.
struct RequestFields {
  std::string launchTag;  // cut to 10 bytes
  std::string recipient;
  std::string sender;     // the user's number (the first 20 bytes of the login record)
  std::string phoneType;  // field 1 of the selected model's PHONE record
  std::string extension;  // of the packed file
};
// The 152-byte header of a picture send: one recipient, attachment type 0.
hv::MessageHeader requestHeader(const PictureType& type, const RequestFields& fields);

}  // namespace hv::pictport
