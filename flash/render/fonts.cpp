#include "flash/render/fonts.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cmath>

namespace flash::render {

struct DeviceFonts::Face {
  std::string file;
  int index = 0;
  FT_Face face = nullptr;
  bool tried = false;
};

struct DeviceFonts::Family {
  std::vector<Face> faces;  // in fontconfig's order of preference
  std::map<std::uint32_t, std::unique_ptr<Glyph>> glyphs;
  Metrics metrics;
  bool measured = false;
  ~Family() {
    for (auto& f : faces)
      if (f.face) FT_Done_Face(f.face);
  }
};

DeviceFonts::DeviceFonts() {
  FT_Library lib = nullptr;
  if (FT_Init_FreeType(&lib) == 0) library_ = lib;
}

DeviceFonts::~DeviceFonts() {
  families_.clear();
  if (library_) FT_Done_FreeType(static_cast<FT_Library>(library_));
}

namespace {

std::string fontconfigFamily(const std::string& name) {
  if (name == "_sans") return "sans-serif";
  if (name == "_serif" || name.empty()) return "serif";
  if (name == "_typewriter") return "monospace";
  return name;
}

// Collects an outline as paths of one fill, in em units of 1024, y downwards.
struct OutlineSink {
  swf::Shape* shape;
  double scale;
  swf::Point pen;
  swf::Path& path() { return shape->layers.back().paths.back(); }
  swf::Point at(const FT_Vector* v) const { return {v->x * scale, -v->y * scale}; }
};

int moveTo(const FT_Vector* to, void* user) {
  auto* s = static_cast<OutlineSink*>(user);
  swf::Path p;
  p.fill1 = 1;
  p.start = s->at(to);
  s->shape->layers.back().paths.push_back(p);
  s->pen = p.start;
  return 0;
}

int lineTo(const FT_Vector* to, void* user) {
  auto* s = static_cast<OutlineSink*>(user);
  if (s->shape->layers.back().paths.empty()) return 0;
  s->pen = s->at(to);
  s->path().segments.push_back({{}, s->pen, false});
  return 0;
}

int conicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
  auto* s = static_cast<OutlineSink*>(user);
  if (s->shape->layers.back().paths.empty()) return 0;
  s->pen = s->at(to);
  s->path().segments.push_back({s->at(control), s->pen, true});
  return 0;
}

int cubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
  auto* s = static_cast<OutlineSink*>(user);
  if (s->shape->layers.back().paths.empty()) return 0;
  swf::Point p0 = s->pen, p1 = s->at(c1), p2 = s->at(c2), p3 = s->at(to);
  for (int i = 1; i <= 8; ++i) {
    double t = i / 8.0, u = 1 - t;
    swf::Point q{u * u * u * p0.x + 3 * u * u * t * p1.x + 3 * u * t * t * p2.x + t * t * t * p3.x,
                 u * u * u * p0.y + 3 * u * u * t * p1.y + 3 * u * t * t * p2.y + t * t * t * p3.y};
    s->path().segments.push_back({{}, q, false});
  }
  s->pen = p3;
  return 0;
}

}  // namespace

DeviceFonts::Family& DeviceFonts::family(const std::string& name, bool bold, bool italic) {
  auto key = std::make_tuple(name, bold, italic);
  auto it = families_.find(key);
  if (it != families_.end()) return *it->second;
  auto fam = std::make_unique<Family>();
  FcPattern* pattern = FcPatternCreate();
  std::string fc = fontconfigFamily(name);
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(fc.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result;
  FcFontSet* set = FcFontSort(nullptr, pattern, FcTrue, nullptr, &result);
  if (set) {
    for (int i = 0; i < set->nfont && fam->faces.size() < 24; ++i) {
      FcChar8* file = nullptr;
      int index = 0;
      if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch) continue;
      FcPatternGetInteger(set->fonts[i], FC_INDEX, 0, &index);
      Face f;
      f.file = reinterpret_cast<const char*>(file);
      f.index = index;
      fam->faces.push_back(f);
    }
    FcFontSetDestroy(set);
  }
  FcPatternDestroy(pattern);
  return *families_.emplace(key, std::move(fam)).first->second;
}

const DeviceFonts::Glyph* DeviceFonts::glyph(const std::string& name, bool bold, bool italic,
                                             std::uint32_t cp) {
  if (!library_) return nullptr;
  Family& fam = family(name, bold, italic);
  auto it = fam.glyphs.find(cp);
  if (it != fam.glyphs.end()) return it->second.get();
  std::unique_ptr<Glyph> g;
  for (auto& f : fam.faces) {
    if (!f.tried) {
      f.tried = true;
      if (FT_New_Face(static_cast<FT_Library>(library_), f.file.c_str(), f.index, &f.face) != 0)
        f.face = nullptr;
    }
    if (!f.face || !FT_IS_SCALABLE(f.face)) continue;
    FT_UInt index = FT_Get_Char_Index(f.face, cp);
    if (index == 0) continue;
    if (FT_Load_Glyph(f.face, index, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) !=
        0)
      continue;
    FT_GlyphSlot slot = f.face->glyph;
    if (slot->format != FT_GLYPH_FORMAT_OUTLINE) continue;
    g = std::make_unique<Glyph>();
    double scale = 1024.0 / std::max<int>(1, f.face->units_per_EM);
    g->shape.layers.emplace_back();
    g->shape.layers.back().fills.emplace_back();
    OutlineSink sink{&g->shape, scale, {}};
    FT_Outline_Funcs funcs{moveTo, lineTo, conicTo, cubicTo, 0, 0};
    FT_Outline_Decompose(&slot->outline, &funcs, &sink);
    g->advance = slot->advance.x * scale;
    break;
  }
  const Glyph* result = g.get();
  fam.glyphs.emplace(cp, std::move(g));
  return result;
}

DeviceFonts::Metrics DeviceFonts::metrics(const std::string& name, bool bold, bool italic) {
  Family& fam = family(name, bold, italic);
  if (fam.measured || !library_) return fam.metrics;
  fam.measured = true;
  fam.metrics = {1024 * 0.9, 1024 * 0.22};
  for (auto& f : fam.faces) {
    if (!f.tried) {
      f.tried = true;
      if (FT_New_Face(static_cast<FT_Library>(library_), f.file.c_str(), f.index, &f.face) != 0)
        f.face = nullptr;
    }
    if (!f.face || !FT_IS_SCALABLE(f.face)) continue;
    double scale = 1024.0 / std::max<int>(1, f.face->units_per_EM);
    fam.metrics = {f.face->ascender * scale, -f.face->descender * scale};
    break;
  }
  return fam.metrics;
}

}  // namespace flash::render
