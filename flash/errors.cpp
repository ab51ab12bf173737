#include <string>

#include "flash/flash.h"
#include "flash/reader/tags.h"

namespace flash {

const char* errorText(Error error) {
  switch (error) {
    case Error::None:
      return "no error";
    case Error::CannotOpen:
      return "the file cannot be opened or read";
    case Error::TooShort:
      return "the file is shorter than a SWF header";
    case Error::BadSignature:
      return "the file is not a SWF movie (it starts with neither FWS nor CWS)";
    case Error::BadCompression:
      return "the compressed movie data is damaged";
    case Error::Truncated:
      return "a record runs past the end of its tag or of the file";
    case Error::BadTagLength:
      return "a tag's length runs past the end of the file or of its sprite";
    case Error::BadRecord:
      return "a record holds a value the SWF format does not allow";
    case Error::TooLarge:
      return "the movie needs more memory than the engine allows";
    case Error::BadImage:
      return "bitmap data that cannot be decoded";
    case Error::TooDeep:
      return "sprites or buttons are nested too deeply";
    case Error::NotLoaded:
      return "no movie is loaded";
    case Error::BadArgument:
      return "an output size or buffer the engine cannot use";
  }
  return "unknown error";
}

std::string describe(const Failure& failure) {
  std::string s;
  if (failure.tag >= 0)
    s = "tag " + std::to_string(failure.tag) + " (" + swf::tagName(failure.tag) + ") ";
  if (failure.tag >= 0 || failure.offset > 0) s += "at offset " + std::to_string(failure.offset);
  if (!s.empty()) s += ": ";
  return s + errorText(failure.error);
}

namespace swf {

const char* tagName(int code) {
  switch (code) {
    case kEnd:
      return "End";
    case kShowFrame:
      return "ShowFrame";
    case kDefineShape:
      return "DefineShape";
    case kPlaceObject:
      return "PlaceObject";
    case kRemoveObject:
      return "RemoveObject";
    case kDefineBits:
      return "DefineBits";
    case kDefineButton:
      return "DefineButton";
    case kJpegTables:
      return "JPEGTables";
    case kSetBackgroundColor:
      return "SetBackgroundColor";
    case kDefineFont:
      return "DefineFont";
    case kDefineText:
      return "DefineText";
    case kDoAction:
      return "DoAction";
    case kDefineFontInfo:
      return "DefineFontInfo";
    case kDefineSound:
      return "DefineSound";
    case kStartSound:
      return "StartSound";
    case kDefineButtonSound:
      return "DefineButtonSound";
    case kSoundStreamHead:
      return "SoundStreamHead";
    case kSoundStreamBlock:
      return "SoundStreamBlock";
    case kDefineBitsLossless:
      return "DefineBitsLossless";
    case kDefineBitsJpeg2:
      return "DefineBitsJPEG2";
    case kDefineShape2:
      return "DefineShape2";
    case kDefineButtonCxform:
      return "DefineButtonCxform";
    case kProtect:
      return "Protect";
    case kPlaceObject2:
      return "PlaceObject2";
    case kRemoveObject2:
      return "RemoveObject2";
    case kDefineShape3:
      return "DefineShape3";
    case kDefineText2:
      return "DefineText2";
    case kDefineButton2:
      return "DefineButton2";
    case kDefineBitsJpeg3:
      return "DefineBitsJPEG3";
    case kDefineBitsLossless2:
      return "DefineBitsLossless2";
    case kDefineEditText:
      return "DefineEditText";
    case kDefineSprite:
      return "DefineSprite";
    case kFrameLabel:
      return "FrameLabel";
    case kSoundStreamHead2:
      return "SoundStreamHead2";
    case kDefineMorphShape:
      return "DefineMorphShape";
    case kDefineFont2:
      return "DefineFont2";
    case kExportAssets:
      return "ExportAssets";
    case kDoInitAction:
      return "DoInitAction";
    case kDefineFontInfo2:
      return "DefineFontInfo2";
    case kFileAttributes:
      return "FileAttributes";
    case kPlaceObject3:
      return "PlaceObject3";
    case kDefineFont3:
      return "DefineFont3";
    case kDefineShape4:
      return "DefineShape4";
    default:
      return "unknown";
  }
}

}  // namespace swf
}  // namespace flash
