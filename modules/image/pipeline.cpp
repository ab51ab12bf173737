#include "modules/image/pipeline.h"

#include <algorithm>
#include <cctype>

#include "platform/gbk.h"
#include "ui/pictures/pictures.h"

namespace hv::pictport {

namespace {

bool endsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

std::string lowerAscii(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

// The palette CQuantizer builds for the picture, as the pipeline's colours.
std::vector<Rgb> quantizedPalette(const Picture& picture, unsigned colours) {
  CQuantizer q(colours, 7);
  std::vector<Rgb> out;
  if (!q.ProcessImage(picture.image())) return out;
  std::vector<PaletteEntry> table(colours);
  q.SetColorTable(table.data());
  for (unsigned i = 0; i < q.GetColorCount(); ++i) {
    out.push_back({table[i].red, table[i].green, table[i].blue});
  }
  return out;
}

}  // namespace

bool PictureType::internal() const {
  return endsWith(fieldText(info.modulepath), "INTERNAL_MODULE");
}

Size PictureType::previewSize() const {
  return {info.xscale * info.picwidth / 100, info.yscale * info.picheight / 100};
}

Point PictureType::previewOrigin() const {
  const Size p = previewSize();
  return {kPhoneScreen.left + (kPhoneScreen.width() - p.w) / 2,
          kPhoneScreen.top + (kPhoneScreen.height() - p.h) / 2};
}

std::string internalFormat(const PictureType& type, SourceKind source) {
  const std::string ft = type.filetype();
  if (ft == "OEM") return "OEM";
  if (ft == "GIF" || (ft == "JPG/GIF" && source == SourceKind::Bilevel)) return "GIF";
  return "JPG";
}

int colourTarget(const PictureType& type, SourceKind source) {
  const std::string ft = type.filetype();
  if (ft == "OEM") return type.info.color;
  if (source == SourceKind::Bilevel && (ft == "GIF" || ft == "JPG/GIF")) return 1;
  return type.info.color;
}

std::optional<int> colourStep(Picture& picture, const PictureType& type, SourceKind source,
                              Mode mode, int level) {
  if (picture.empty()) return std::nullopt;
  if (type.bilevel()) {
    picture.threshold(level);
    return std::nullopt;
  }
  if (mode == Mode::Preview) return std::nullopt;
  const int bits = colourTarget(type, source);
  if (source == SourceKind::Grey) {
    picture.grey();
    return std::nullopt;
  }
  if (picture.bits() > bits) {
    if (bits <= 0 || bits >= 31) return bits;  // no sensible count at all
    const int colours = 1 << bits;
    switch (colours) {
      case 2:
        picture.reduce({kBlack, kWhite}, 1, false);
        break;
      case 16:
      case 256: {
        const auto palette = quantizedPalette(picture, unsigned(colours));
        if (palette.empty()) return std::nullopt;
        picture.reduce(palette, bits, true);
        break;
      }
      default:
        return colours;
    }
  } else if (picture.bits() < bits) {
    picture.raise(bits);
  }
  return std::nullopt;
}

void setupFraming(Framing& framing, Picture working, Size client, Size target) {
  framing.working = std::move(working);
  framing.geometry.setup(client, {framing.working.width(), framing.working.height()}, target);
  const Rect& d = framing.geometry.display();
  if (!framing.geometry.valid()) {
    framing.display = {};
  } else if (d.width() == framing.working.width() && d.height() == framing.working.height()) {
    framing.display = framing.working;
  } else {
    framing.display = framing.working.resampled(d.width(), d.height(), Resample::Quality);
    if (framing.working.bits() == 1) {
      // Keep a 1-bit picture two-coloured on the display as well.
      framing.display = Picture(framing.display.image(), 24);
    }
  }
}

Picture makePicture(Framing& framing, const PictureType& type, SourceKind source, Size size,
                    Mode mode, int level, std::optional<int>* unsupported) {
  ClipGeometry& g = framing.geometry;
  if (!g.valid() || framing.working.empty() || size.w <= 0 || size.h <= 0) return {};
  const Rect& f = g.frame();
  if (f.empty()) return {};
  Picture crop;
  if (f.width() < size.w || f.height() < size.h) {
    crop = framing.working.cropped(g.crop());
  } else {
    const Rect& d = g.display();
    crop = framing.display.cropped(
        {f.left - d.left, f.top - d.top, f.right - d.left, f.bottom - d.top});
  }
  if (crop.empty()) return {};
  if (f != g.display()) g.clearWhole();
  auto colour = [&](Picture& p) {
    auto u = colourStep(p, type, source, mode, level);
    if (u && unsupported) *unsupported = u;
  };
  if (!g.whole()) {
    Picture out =
        crop.resampled(size.w, size.h, mode == Mode::Preview ? Resample::Fast : Resample::Quality);
    colour(out);
    return out;
  }
  const int cw = crop.width(), ch = crop.height();
  int w, h;
  if (int64_t(size.w) * ch < int64_t(size.h) * cw) {
    w = size.w;
    h = std::max(1, int(int64_t(size.w) * ch / cw));
  } else {
    h = size.h;
    w = std::max(1, int(int64_t(size.h) * cw / ch));
  }
  Picture fitted = crop.resampled(w, h, Resample::Fast);
  colour(fitted);
  Picture canvas = Picture::filled(size.w, size.h, kWhite);
  canvas.paste(fitted, (size.w - w) / 2, (size.h - h) / 2);
  colour(canvas);
  return canvas;
}

std::string overlayHint() {
  return T("请在这里输入文字，旁边字体按钮可改变字体");
}

const std::vector<std::string>& bannedWords() {
  // Kept in UTF-8; the text is compared after its conversion from GBK, so that a match can never
  // start in the middle of a two-byte character. Latin words match without regard to case.
  static const std::vector<std::string> words = {
      "赌博", "毒品", "枪支", "色情", "诈骗", "传销", "代开发票", "casino", "porn",
  };
  return words;
}

std::string overlayShownText(std::string_view gbkText) {
  if (gbkText.empty() || gbkText == overlayHint()) return {};
  std::string utf8 = gbkToUtf8Escaped(gbkText);
  const std::string lowered = lowerAscii(utf8);
  for (const auto& w : bannedWords()) {
    if (lowered.find(lowerAscii(w)) != std::string::npos) return {};
  }
  std::replace(utf8.begin(), utf8.end(), '&', '\n');
  return utf8;
}

TextPlacement sendPlacement(const Overlay& overlay, const PictureType& type) {
  const int xs = std::max(type.info.xscale, 1);
  const int ys = std::max(type.info.yscale, 1);
  return {{overlay.position.x * 100 / xs, overlay.position.y * 100 / ys},
          overlay.font.height * 100 / ys};
}

namespace {

void prepareText(Magick::Image& img, const OverlayFont& font, int height, bool antiAlias) {
  img.fontFamily(font.face);
  img.fontWeight(size_t(std::clamp(font.weight, 100, 900)));
  img.fontStyle(font.italic ? MagickCore::ItalicStyle : MagickCore::NormalStyle);
  img.density(Magick::Geometry(72, 72));
  img.fontPointsize(std::max(std::abs(height), 1));
  img.antiAlias(antiAlias);
  img.strokeAntiAlias(antiAlias);
  img.textEncoding("UTF-8");
}

}  // namespace

void drawText(Picture& picture, const std::string& text, Point origin, const OverlayFont& font,
              int height, Rgb colour, bool antiAlias) {
  if (picture.empty() || text.empty()) return;
  try {
    Magick::Image img = picture.image();
    prepareText(img, font, height, antiAlias);
    img.fillColor(Magick::ColorRGB(colour.r / 255.0, colour.g / 255.0, colour.b / 255.0));
    img.strokeColor(Magick::Color());
    img.textGravity(MagickCore::NorthWestGravity);
    img.annotate(text, Magick::Geometry(0, 0, origin.x, origin.y), MagickCore::NorthWestGravity);
    const int bits = picture.bits();
    const auto palette = picture.palette();
    picture = Picture(std::move(img), bits);
    picture.setPalette(palette);
  } catch (const Magick::Exception&) {
    // A font that cannot be drawn leaves the picture without the text.
  }
}

Size measureText(const std::string& text, const OverlayFont& font, int height) {
  if (text.empty()) return {};
  try {
    Magick::Image img(Magick::Geometry(1, 1), Magick::Color("white"));
    prepareText(img, font, height, true);
    Magick::TypeMetric m;
    img.fontTypeMetricsMultiline(text, &m);
    return {int(m.textWidth() + 0.5), int(m.textHeight() + 0.5)};
  } catch (const Magick::Exception&) {
    return {};
  }
}

Picture withOverlay(const Picture& preview, const Overlay& overlay, bool bilevel) {
  Picture out = preview;
  const std::string text = overlayShownText(overlay.text);
  if (!text.empty()) {
    drawText(out, text, overlay.position, overlay.font, overlay.font.height, overlay.colour,
             !bilevel);
  }
  return out;
}

std::optional<Point> movedOverlay(const Overlay& overlay, Size textSize, Size preview, int dx,
                                  int dy) {
  const Point p{overlay.position.x + dx, overlay.position.y + dy};
  if (p.x > preview.w || p.y > preview.h) return std::nullopt;
  if (p.x + textSize.w < 0 || p.y + textSize.h < 0) return std::nullopt;
  return p;
}

}  // namespace hv::pictport
