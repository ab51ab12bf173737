#pragma once
// The suite's helpers around recipients, files and the service's web pages.
#include <functional>
#include <string>
#include <string_view>

#include "include/handvane/export.h"

class HV_EXPORT CHandvaneHelper {
 public:
  // Non-zero when the service delivers from sender to recipient; otherwise 0 and a one-line
  // reason (GBK, naming the number) in `reason`. Both numbers are user ids as the modules hold
  // them (GBK, normally ASCII digits).
  //
  // The service delivers between mainland China mobile numbers only, in the plain national form
  // it keeps in its 20-byte number fields:
  //  - exactly 11 ASCII digits, no blanks, signs, "+86"/"0086" prefixes or separators;
  //  - the first digit is 1 and the second 3 to 9 (the mobile ranges 13x to 19x; 10x are service
  //    numbers, 11x and 12x are not allocated to phones);
  //  - the sender, the signed-in user, follows the same rules (an empty sender means nobody has
  //    signed in).
  // Sending to one's own number is allowed.
  static int IsPhoneNumberSupport(std::string_view sender, std::string_view recipient,
                                  std::string& reason);

  // Saves a copy of the file under a name the user picks in a save dialog; non-zero when saved
  // (or when the user picked the file itself). A failed copy is reported in a message box;
  // cancelling the dialog gives 0 silently.
  static int SaveFile(std::string_view path);

  // Opens the service's fee page in the browser; non-zero when it was handed to the browser.
  static int OpenFeeLink();

  // The service's web pages all live below one base address: $HANDVANE_WEB_BASE when set, else
  // the "Base" key of section "Web" in the home's "DATA/web.ini", else "http://127.0.0.1:8080/".
  // Always ends in "/".
  static std::string WebBase();
  // The address of a page below the base ("register.asp", "forgetpass.asp",
  // "inc/service/zfsm.asp").
  static std::string PageUrl(std::string_view page);
  static int OpenPage(std::string_view page);
  // Hands an address to the browser (through the installed opener); non-zero on success.
  static int OpenUrl(std::string_view url);
  // Replaces how addresses are opened (the default asks the desktop's browser); tests and the
  // gallery record them instead. An empty function restores the default.
  static void SetUrlOpener(std::function<bool(const std::string& url)> opener);
};
