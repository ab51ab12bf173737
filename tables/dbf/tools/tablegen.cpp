// Builds the shipped tables from their text sources, so that the DBF files in DATA can be made
// again byte for byte:
//
//   tablegen <source folder> <output folder>
//
// Sources (UTF-8; "#" starts a comment line; fields separated by "|"):
//   imagetypes.txt  imagetype|imagename|picwidth|picheight|xscale|yscale|x0|y0|color|filepath|
//                   modulepath|wtype|filetype|smscount
//   phones.txt      maker|phonetype|model name|picture types (blank-separated; a trailing "*"
//                   marks a type the animation module may use for the phone)
// Outputs: IMAGETYP.DBF, PHONE.DBF, PHONEIMA.DBF, the empty FRIENDS.DBF template and
// phonecompany.ini (the makers and their model names for the phone model pickers).
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "tables/dbf/writer.h"

namespace {

using hv::dbf::Field;
using hv::dbf::Value;

// The tables carry a fixed date so that a rebuild gives the same bytes.
constexpr hv::dbf::Date kTableDate{2003, 9, 1};

std::vector<std::vector<std::string>> readSource(const std::string& path, size_t columns) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> cells;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '|')) {
      auto gbk = hv::utf8ToGbk(cell);
      if (!gbk) throw std::runtime_error(path + ":" + std::to_string(number) + ": not GBK text");
      cells.push_back(*gbk);
    }
    if (cells.size() != columns) {
      throw std::runtime_error(path + ":" + std::to_string(number) + ": expected " +
                               std::to_string(columns) + " fields");
    }
    rows.push_back(std::move(cells));
  }
  return rows;
}

void imageTypes(const std::string& src, const std::string& out) {
  std::vector<Field> fields = {
      hv::dbf::makeField("IMAGETYPE", 'C', 43),   hv::dbf::makeField("IMAGENAME", 'C', 43),
      hv::dbf::makeField("PICWIDTH", 'N', 5),     hv::dbf::makeField("PICHEIGHT", 'N', 5),
      hv::dbf::makeField("XSCALE", 'N', 5),       hv::dbf::makeField("YSCALE", 'N', 5),
      hv::dbf::makeField("X0", 'N', 5),           hv::dbf::makeField("Y0", 'N', 5),
      hv::dbf::makeField("COLOR", 'N', 3),        hv::dbf::makeField("FILEPATH", 'C', 103),
      hv::dbf::makeField("MODULEPATH", 'C', 103), hv::dbf::makeField("WTYPE", 'C', 3),
      hv::dbf::makeField("FILETYPE", 'C', 23),    hv::dbf::makeField("SMSCOUNT", 'N', 3)};
  std::vector<std::vector<Value>> rows;
  for (const auto& r : readSource(src + "/imagetypes.txt", fields.size())) {
    std::vector<Value> row;
    for (const auto& cell : r) row.push_back(hv::dbf::textValue(cell));
    rows.push_back(std::move(row));
  }
  hv::dbf::createTable(out + "/IMAGETYP.DBF", fields, rows, kTableDate);
}

void phones(const std::string& src, const std::string& out) {
  auto source = readSource(src + "/phones.txt", 4);
  std::vector<std::vector<Value>> phoneRows, pairRows;
  std::vector<std::string> makers;
  std::map<std::string, std::vector<std::string>> models;
  for (const auto& r : source) {
    const std::string &maker = r[0], &type = r[1], &name = r[2];
    phoneRows.push_back({hv::dbf::textValue(type), hv::dbf::textValue(name)});
    if (!models.count(maker)) makers.push_back(maker);
    models[maker].push_back(name);
    std::stringstream ss(r[3]);
    std::string t;
    while (ss >> t) {
      bool flash = t.back() == '*';
      if (flash) t.pop_back();
      pairRows.push_back(
          {hv::dbf::textValue(type), hv::dbf::textValue(t), hv::dbf::textValue(flash ? "Y" : "N")});
    }
  }
  hv::dbf::createTable(
      out + "/PHONE.DBF",
      {hv::dbf::makeField("PHONETYPE", 'C', 20), hv::dbf::makeField("PHONENAME", 'C', 50)},
      phoneRows, kTableDate);
  hv::dbf::createTable(
      out + "/PHONEIMA.DBF",
      {hv::dbf::makeField("PHONETYPE", 'C', 20), hv::dbf::makeField("IMAGETYPE", 'C', 43),
       hv::dbf::makeField("FLASHFIT", 'C', 1)},
      pairRows, kTableDate);

  std::string ini = hv::T(
      "; 手机型号选择框的厂商分组，由 tablegen 从 phones.txt 生成。\r\n"
      "; [COMPANY] 按显示顺序列出厂商：COUNT=厂商数，COMPANY1..COMPANYn=厂商名。\r\n"
      "; 每个厂商一节，节名为厂商名：COUNT=型号数，PHONE1..PHONEn=型号名（PHONE 表第二列）。\r\n");
  ini += "[COMPANY]\r\nCOUNT=" + std::to_string(makers.size()) + "\r\n";
  for (size_t i = 0; i < makers.size(); ++i)
    ini += "COMPANY" + std::to_string(i + 1) + "=" + makers[i] + "\r\n";
  for (const auto& m : makers) {
    ini += "\r\n[" + m + "]\r\nCOUNT=" + std::to_string(models[m].size()) + "\r\n";
    for (size_t i = 0; i < models[m].size(); ++i)
      ini += "PHONE" + std::to_string(i + 1) + "=" + models[m][i] + "\r\n";
  }
  if (!hv::fs::writeFileAtomic(out + "/phonecompany.ini", ini)) {
    throw std::runtime_error("cannot write phonecompany.ini");
  }
}

void friendsTemplate(const std::string& out) {
  // Each character field holds what its FriendRecord field holds (its width less the NUL).
  std::vector<Field> fields = {
      hv::dbf::makeField("Id", 'N', 11),         hv::dbf::makeField("Mobilenum", 'N', 11),
      hv::dbf::makeField("Mobiletype", 'C', 29), hv::dbf::makeField("Nickname", 'C', 19),
      hv::dbf::makeField("Name", 'C', 21),       hv::dbf::makeField("Age", 'N', 11),
      hv::dbf::makeField("Sex", 'C', 9),         hv::dbf::makeField("Email", 'C', 29),
      hv::dbf::makeField("QQ", 'C', 14),         hv::dbf::makeField("MSN", 'C', 29),
      hv::dbf::makeField("Address", 'C', 29),    hv::dbf::makeField("Postcode", 'C', 8)};
  hv::dbf::createTable(out + "/FRIENDS.DBF", fields, {}, kTableDate);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tablegen <source folder> <output folder>\n");
    return 2;
  }
  try {
    imageTypes(argv[1], argv[2]);
    phones(argv[1], argv[2]);
    friendsTemplate(argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tablegen: %s\n", e.what());
    return 1;
  }
  return 0;
}
