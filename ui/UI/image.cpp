#include "ui/UI/image.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include "platform/fs.h"

namespace hv::ui {

const char* pictureFormat(std::string_view bytes) {
  auto starts = [&](std::string_view sig) { return bytes.substr(0, sig.size()) == sig; };
  if (starts("\xFF\xD8\xFF")) return "JPEG";
  if (starts("\x89PNG\r\n\x1A\n")) return "PNG";
  if (starts("GIF87a") || starts("GIF89a")) return "GIF";
  if (starts("BM") && bytes.size() > 26) return "BMP";
  return nullptr;
}

}  // namespace hv::ui

QPixmap LoadImage(const void*, std::string_view path) {
  const auto bytes = hv::fs::readFile(path);
  if (!bytes) return {};
  const char* format = hv::ui::pictureFormat(*bytes);
  if (!format) return {};
  QByteArray data = QByteArray::fromRawData(bytes->data(), qsizetype(bytes->size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  // The format is the one the bytes show; the reader must not go looking for another.
  QImageReader reader(&buffer, QByteArray(format).toLower());
  reader.setAutoDetectImageFormat(false);
  reader.setDecideFormatFromContent(false);
  const QSize size = reader.size();
  if (!size.isValid() || size.width() > hv::ui::kMaxPictureSide ||
      size.height() > hv::ui::kMaxPictureSide ||
      static_cast<long long>(size.width()) * size.height() > hv::ui::kMaxPicturePixels) {
    return {};
  }
  QImage image;
  if (!reader.read(&image) || image.isNull()) return {};
  return QPixmap::fromImage(std::move(image));
}

QSize GetBmpSize(const QPixmap& bitmap) {
  return bitmap.size();
}
