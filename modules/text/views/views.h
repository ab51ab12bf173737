#pragma once
// The Qt views of the text module's dialogs: the text dialog (template 15100), the signature
// dialog (15101) and the cc dialog (15102). Each binds to its controller by control id; widgets
// are named "c<id>".
#include <QWidget>

#include "ui/core/ui.h"

namespace hv::textport {

// Registers the three views with the Qt backend (safe from any thread, and more than once).
void registerViews();

QWidget* createTextView(ui::DialogController& controller);
QWidget* createSignatureView(ui::DialogController& controller);
QWidget* createCcView(ui::DialogController& controller);

// The pictures the text dialog loads, below the suite's home.
inline constexpr char kHeaderPicture[] = "DATA/Lumo字.jpg";
inline constexpr char kPhonePicture[] = "PHONE/手机.jpg";
inline constexpr char kSendPicture[] = "PHONE/PTX/normal_send1.bmp";
inline constexpr char kSendPictureHover[] = "PHONE/PTX/normal_send2.bmp";

}  // namespace hv::textport
