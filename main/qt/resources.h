#pragma once
// The program's own bitmaps, drawn rather than stored: the sign-in button (white is its
// transparent colour), the signed-in status button and the plain window icon.
#include <QIcon>
#include <QPixmap>

namespace hv::launcher {

QPixmap loginBitmap();   // bitmap resource 135
QPixmap statusBitmap();  // bitmap resource 139
QIcon programIcon();

}  // namespace hv::launcher
