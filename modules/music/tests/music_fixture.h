#pragma once
// The music dialog's tests: the module fixture's home, service and account, with the phone
// models and the converters, and the stored packet of a message read back from the service.
#include "modules/kit/tests/module_fixture.h"
#include "modules/music/music_dialog.h"
#include "modules/music/tests/tunes.h"
#include "platform/gbk.h"
#include "service/protocol/packet.h"

namespace hv::ringport::testing {

inline constexpr char kFriend[] = "13900139000";

class MusicFixture : public modkit::testing::ModuleFixture {
 protected:
  void SetUp() override {
    ModuleFixture::SetUp();
    ASSERT_TRUE(
        fs::copyFile(modkit::testing::shipped("DATA/PHONE.DBF"), home_ + "DATA/PHONE.DBF", false));
    tune_ = midiFromCsv(home_, "tune", tuneCsv({60, 64, 67, 72}));
  }
  MusicDialog::Options options() const {
    return {std::string(HV_SUITE_DIR) + "/", Player{{"true"}}};
  }
  // The stored packet of message id, decoded.
  std::optional<svc::DecodedPacket> stored(int id) {
    auto r = modkit::testing::python(R"(
import sqlite3, sys
row = sqlite3.connect(sys.argv[1]).execute('SELECT packet FROM messages WHERE id = ?',
                                            (int(sys.argv[2]),)).fetchone()
sys.stdout.write(row[0].hex())
)",
                                     {service_->databasePath(), std::to_string(id)});
    EXPECT_EQ(r.status, 0) << r.output;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < r.output.size(); i += 2)
      bytes.push_back(uint8_t(std::stoi(r.output.substr(i, 2), nullptr, 16)));
    return svc::decodeMessagePacket(bytes).packet;
  }
  void pick(MusicDialog& d, int id, const std::string& utf8) {
    const auto items = d.items(id);
    auto it = std::find(items.begin(), items.end(), T(utf8));
    ASSERT_NE(it, items.end()) << utf8;
    d.setSelection(id, int(it - items.begin()));
    d.onChange(id);
  }
  std::string tune_;
};

}  // namespace hv::ringport::testing
