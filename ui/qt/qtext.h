#pragma once
// Suite strings are GBK; widgets speak QString. These are the only crossings, and they go through
// platform/gbk.h (glibc iconv), never through a Qt text codec.
#include <QString>
#include <optional>
#include <string>
#include <string_view>

#include "include/handvane/export.h"

namespace hv::ui::qt {

// GBK to QString. Invalid bytes are shown as "\xNN" rather than dropped, so that bad data stays
// visible.
HV_EXPORT QString toQ(std::string_view gbk);
// QString to GBK. Characters that GBK cannot hold become "?" (typed text must never be lost
// silently, and the suite cannot carry them).
HV_EXPORT std::string fromQ(const QString& text);
// QString to GBK, or nullopt when some character has no GBK form (file names: a name that cannot
// be carried must not be replaced by a different one).
HV_EXPORT std::optional<std::string> fromQExact(const QString& text);

// A suite path (GBK) as a file-system name for Qt, and back.
HV_EXPORT QString toQPath(std::string_view gbkPath);
HV_EXPORT std::optional<std::string> fromQPath(const QString& osPath);

}  // namespace hv::ui::qt
