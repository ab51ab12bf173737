#pragma once
// Every picture format name Logopack accepts.

namespace logopack_test {

inline constexpr const char* kFormatNames[] = {
    "nokia_op_logo",
    "nokia_cli_icon",
    "nokia_picture",
    "nokia_screensaver",
    "siemens_standard_operator",
    "siemens_3118_operator",
    "siemens_3118_screensaver",
    "siemens_screensaver",
    "siemens_cli",
    "alcatel_big_operator",
    "alcatel_small_operator",
    "alcatel_switch",
    "ems_40_25_picture",
    "ems_72_14_picture",
    "ems_big_picture",
    "motorola_388_big",
};

}  // namespace logopack_test
