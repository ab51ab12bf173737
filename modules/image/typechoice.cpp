#include "modules/image/typechoice.h"

#include <algorithm>

#include "tables/imagetypes/imgtable.h"

namespace hv::pictport {

int chooseTypeIndex(ImageTable& images, const std::vector<std::string>& keys,
                    const Picture& picture) {
  if (keys.empty()) return -1;
  const ImageSize size{picture.width(), picture.height()};
  std::string name;
  int found = images.GetSizeMatchImageType(size, name, keys);
  if (found < 0) {
    std::vector<std::string> kind;
    const int colour = picture.bits() > 1 ? 1 : 0;
    if (images.GetColorMatchImageType(colour, kind, keys) > 0) {
      const int k = images.GetBiliMatchImageType(size, name, kind);
      if (k >= 0) {
        found = int(std::find(keys.begin(), keys.end(), kind[size_t(k)]) - keys.begin());
      }
    } else {
      found = images.GetBiliMatchImageType(size, name, keys);
    }
  }
  return found >= 0 ? found : 0;
}

Picture composeSendPicture(Framing& framing, const PictureType& type, SourceKind source, int level,
                           const Overlay& overlay, std::optional<int>* unsupported) {
  Picture send = makePicture(framing, type, source, type.size(), Mode::Send, level, unsupported);
  const std::string shown = overlayShownText(overlay.text);
  if (!send.empty() && !shown.empty()) {
    const TextPlacement at = sendPlacement(overlay, type);
    drawText(send, shown, at.origin, overlay.font, at.height, overlay.colour, !type.bilevel());
    if (type.bilevel()) send.threshold(level);
  }
  return send;
}

}  // namespace hv::pictport
