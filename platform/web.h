#pragma once
// The service's web pages (registration, password recovery, fees) all hang below one base
// address, so a site that moves is followed by changing one setting.
#include <string>
#include <string_view>

#include "include/handvane/export.h"

namespace hv::web {

// The base address, ending in "/": $HANDVANE_WEB_BASE, else [Web] Base of "DATA/web.ini" in the
// suite's home, else "http://127.0.0.1:8080/".
HV_EXPORT std::string base();
// The address of a page below the base ("register.asp", "forgetpass.asp", "inc/service/zfsm.asp").
HV_EXPORT std::string pageUrl(std::string_view page);

}  // namespace hv::web
