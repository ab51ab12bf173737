#pragma once
// Pictures for showing in the dialogs, through Qt's own image readers. Only JPEG, PNG, BMP and GIF
// files are decoded, recognised by their first bytes whatever their name says, and a picture that
// claims more than kMaxPictureSide pixels a side or kMaxPicturePixels in all is refused before its
// pixels are read. Converting pictures (Magick images, saving, quantising) is ui/pictures, which
// only the modules that convert pictures load.
#include <QPixmap>
#include <QSize>
#include <string_view>

#include "include/handvane/export.h"

namespace hv::ui {
inline constexpr int kMaxPictureSide = 8192;
inline constexpr long long kMaxPicturePixels = 40'000'000;
// The picture format of the bytes by their signature ("JPEG", "PNG", "GIF" or "BMP"), or nullptr
// for anything the suite does not decode.
HV_EXPORT const char* pictureFormat(std::string_view bytes);
}  // namespace hv::ui

// A picture of the file for showing, or a null pixmap. The first argument (the drawing surface the
// bitmap is made for) is kept for the callers' sake; Qt needs none.
HV_EXPORT QPixmap LoadImage(const void* dc, std::string_view path);
HV_EXPORT QSize GetBmpSize(const QPixmap& bitmap);
