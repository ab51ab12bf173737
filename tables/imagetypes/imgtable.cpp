#include "tables/imagetypes/imgtable.h"

#include <cmath>
#include <cstdlib>
#include <new>

#include "platform/gbk.h"
#include "tables/dbf/dbf.h"
#include "utils/function.h"

namespace {

constexpr size_t kMessageLimit = 99;

std::string trimmed(std::string s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

int number(const std::string& s) {
  return std::atoi(s.c_str());
}

// Turns the table layer's failures into the exception the modules catch.
template <typename Load>
void loadOrThrow(Load&& load) {
  try {
    load();
  } catch (const hv::dbf::Error& e) {
    throw DbfException(std::string(hv::gbkCut(e.what(), kMessageLimit)));
  } catch (const DbfException&) {
    throw;
  } catch (...) {
    throw DbfException("unknow error");
  }
}

// Letters compare without regard to ASCII case; the bytes of a double-byte GBK character compare
// exactly (a trail byte may look like a letter).
bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 0x81 && x <= 0xFE && i + 1 < a.size()) {
      if (x != y || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (x >= 'A' && x <= 'Z') x = x - 'A' + 'a';
    if (y >= 'A' && y <= 'Z') y = y - 'A' + 'a';
    if (x != y) return false;
  }
  return true;
}

bool flashFit(const CPhone2Image::Row& r) {
  return equalsNoCase(r.flashfit, "Y");
}

}  // namespace

DbfException::DbfException(std::string message) : message_(std::move(message)) {}

bool DbfException::GetErrorMessage(char* buffer, unsigned size, unsigned*) const {
  hv::copyToBuffer(buffer, size, hv::T("手机图片型号模块:") + message_);
  return true;
}

ImageTable::ImageTable(std::string_view dataDir) {
  loadOrThrow([&] {
    hv::dbf::Database db(CFunction::GetDBFConnectionString(dataDir));
    auto rows = db.query(
        "SELECT imagetype,imagename ,picwidth,picheight,xscale,yscale,x0,y0,color,filepath,"
        "modulepath,wtype,filetype,SMSCOUNT FROM IMAGETYP");
    while (rows.next()) {
      hv::IMAGETYPE_INFO r{};
      hv::copyField(r.imagetype, trimmed(rows.text(0)));
      hv::copyField(r.imagename, trimmed(rows.text(1)));
      r.picwidth = number(rows.text(2));
      r.picheight = number(rows.text(3));
      r.xscale = number(rows.text(4));
      r.yscale = number(rows.text(5));
      r.x0 = number(rows.text(6));
      r.y0 = number(rows.text(7));
      r.color = number(rows.text(8));
      hv::copyField(r.filepath, trimmed(rows.text(9)));
      hv::copyField(r.modulepath, trimmed(rows.text(10)));
      hv::copyField(r.wtype, trimmed(rows.text(11)));
      hv::copyField(r.filetype, trimmed(rows.text(12)));
      r.smscount = number(rows.text(13));
      records_.push_back(r);
    }
  });
}

const hv::IMAGETYPE_INFO* ImageTable::find(std::string_view type) const {
  for (const auto& r : records_)
    if (hv::fieldText(r.imagetype) == type) return &r;
  return nullptr;
}

int ImageTable::GetImageTypeInfo(std::string_view type, hv::IMAGETYPE_INFO* info) const {
  const auto* r = find(type);
  if (!r || !info) return 0;
  *info = *r;
  return 1;
}

int ImageTable::GetImageNameByType(std::string_view type, std::string& name) const {
  const auto* r = find(type);
  if (!r) return 0;
  name = hv::fieldText(r->imagename);
  return 1;
}

int ImageTable::GetImageTypeBySize(ImageSize size, std::vector<std::string>& out) const {
  out.clear();
  for (const auto& r : records_)
    if (r.picwidth == size.cx && r.picheight == size.cy) out.push_back(hv::fieldText(r.imagetype));
  return int(out.size());
}

int ImageTable::GetSizeMatchImageType(ImageSize size, std::string& name,
                                      const std::vector<std::string>& candidates) const {
  for (size_t i = 0; i < candidates.size(); ++i) {
    const auto* r = find(candidates[i]);
    if (r && r->picwidth == size.cx && r->picheight == size.cy) {
      name = hv::fieldText(r->imagename);
      return int(i);
    }
  }
  return -1;
}

int ImageTable::GetColorMatchImageType(int colour, std::vector<std::string>& out,
                                       const std::vector<std::string>& candidates) const {
  out.clear();
  for (const auto& c : candidates) {
    const auto* r = find(c);
    if (r && int(r->color != 1) == colour) out.push_back(hv::fieldText(r->imagetype));
  }
  return int(out.size());
}

int ImageTable::GetBiliMatchImageType(ImageSize size, std::string& name,
                                      const std::vector<std::string>& candidates) const {
  double best = 0;
  int result = -1;
  for (size_t i = 0; i < candidates.size(); ++i) {
    const auto* r = find(candidates[i]);
    if (!r) continue;
    // The products in integers, as 64-bit so that large pictures cannot overflow.
    long long num = (long long)size.cy * r->picwidth, den = (long long)size.cx * r->picheight;
    if (num <= 0 || den <= 0) continue;  // a shape without area matches nothing
    double ratio = double(num) / double(den);
    ratio = std::min(ratio, 1 / ratio);
    if (std::fabs(best - 1) > std::fabs(ratio - 1)) {
      best = ratio;
      result = int(i);
      name = hv::fieldText(r->imagename);
    }
  }
  return result;
}

CPhone2Image::CPhone2Image(std::string_view dataDir) {
  loadOrThrow([&] {
    hv::dbf::Database db(CFunction::GetDBFConnectionString(dataDir));
    auto rows = db.query("SELECT phonetype, imagetype, flashfit FROM PHONEIMA");
    while (rows.next()) {
      rows_.push_back({trimmed(rows.text(0)), trimmed(rows.text(1)), trimmed(rows.text(2))});
    }
  });
}

int CPhone2Image::GetImageType(std::string_view phoneType, std::vector<std::string>& out) const {
  for (const auto& r : rows_)
    if (equalsNoCase(r.phonetype, phoneType)) out.push_back(r.imagetype);
  return out.empty() ? 0 : 1;
}

int CPhone2Image::GetImageTypeForFlash(std::string_view phoneType,
                                       std::vector<std::string>& out) const {
  for (const auto& r : rows_)
    if (equalsNoCase(r.phonetype, phoneType) && flashFit(r)) out.push_back(r.imagetype);
  return out.empty() ? 0 : 1;
}

int CPhone2Image::GetPhoneType(std::string_view imageType, std::vector<std::string>& out) const {
  for (const auto& r : rows_)
    if (equalsNoCase(r.imagetype, imageType)) out.push_back(r.phonetype);
  return out.empty() ? 0 : 1;
}

int CPhone2Image::IsPhoneTypeSupported(std::string_view phoneType) const {
  for (const auto& r : rows_)
    if (equalsNoCase(r.phonetype, phoneType)) return 1;
  return 0;
}

int CPhone2Image::IsPhoneTypeSupportedForFlash(std::string_view phoneType) const {
  for (const auto& r : rows_)
    if (equalsNoCase(r.phonetype, phoneType) && flashFit(r)) return 1;
  return 0;
}
