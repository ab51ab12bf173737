#include "ui/qt/qtext.h"

#include <QList>

#include "platform/fs.h"
#include "platform/gbk.h"

namespace hv::ui::qt {

QString toQ(std::string_view gbk) {
  if (auto utf8 = gbkToUtf8(gbk)) return QString::fromStdString(*utf8);
  return QString::fromStdString(gbkToUtf8Escaped(gbk));
}

std::optional<std::string> fromQExact(const QString& text) {
  return utf8ToGbk(text.toStdString());
}

std::string fromQ(const QString& text) {
  if (auto exact = fromQExact(text)) return *exact;
  std::string out;
  for (uint cp : text.toUcs4()) {
    const QString one = QString::fromUcs4(reinterpret_cast<const char32_t*>(&cp), 1);
    auto g = utf8ToGbk(one.toStdString());
    out += g ? *g : std::string("?");
  }
  return out;
}

QString toQPath(std::string_view gbkPath) {
  auto os = fs::osPath(gbkPath);
  return os ? QString::fromStdString(*os) : QString();
}

std::optional<std::string> fromQPath(const QString& osPath) {
  return fs::suitePath(osPath.toStdString());
}

}  // namespace hv::ui::qt
