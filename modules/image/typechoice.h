#pragma once
// The picture type a picture starts with, and the send picture of a framed picture: the steps
// the dialog and hvsend share.
#include <optional>
#include <string>
#include <vector>

#include "modules/image/pipeline.h"

class ImageTable;

namespace hv::pictport {

// Among the model's type keys: the type whose size is the picture's, else (by the picture's
// colours) the colour or black-and-white type nearest in size, else the nearest in size; 0 when
// none matches; -1 without keys.
int chooseTypeIndex(ImageTable& images, const std::vector<std::string>& keys,
                    const Picture& picture);

// The send picture of the framed part: the type's size after the colour step, with the overlay's
// text drawn on it (and thresholded again for a 1-bit type). The unsupported colour count of the
// colour step, if any, goes to *unsupported.
Picture composeSendPicture(Framing& framing, const PictureType& type, SourceKind source, int level,
                           const Overlay& overlay, std::optional<int>* unsupported);

}  // namespace hv::pictport
