// hvsend run as a program against handvane-service: each command's stored message compared with
// what the module cores make of the same input (Textcore, Pictcore, Ringcore), the dry runs
// compared with the cores, the friends table, and wrong command lines, bad files and a service
// that is not there.
#include <Magick++.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "hvsend/tests/hvsend_fixture.h"
#include "login/login_settings.h"
#include "modules/image/packing.h"
#include "modules/image/picture.h"
#include "modules/image/typechoice.h"
#include "modules/kit/tests/module_fixture.h"
#include "modules/music/core/ringcore.h"
#include "modules/text/core/request.h"
#include "modules/text/core/splitting.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/kernel.h"
#include "service/protocol/packet.h"
#include "tables/imagetypes/imgtable.h"

namespace hv {
namespace {

using hvsendtest::hexOf;
using hvsendtest::Hvsend;
using hvsendtest::kFriend;
using hvsendtest::Ran;
using modkit::testing::kPassword;
using modkit::testing::kUser;

// A tune of quarter notes at 120 beats a minute, made by csvmidi.
std::string tuneFile(const std::string& dir, const std::vector<int>& keys) {
  std::string csv = "0, 0, Header, 0, 1, 96\n1, 0, Start_track\n1, 0, Tempo, 500000\n";
  long t = 0;
  for (int k : keys) {
    csv += "1, " + std::to_string(t) + ", Note_on_c, 0, " + std::to_string(k) + ", 100\n";
    t += 96;
    csv += "1, " + std::to_string(t) + ", Note_off_c, 0, " + std::to_string(k) + ", 0\n";
  }
  csv += "1, " + std::to_string(t) + ", End_track\n0, 0, End_of_file\n";
  std::ofstream(dir + "tune.csv") << csv;
  auto p = Process::start({"csvmidi", dir + "tune.csv", dir + "tune.mid"});
  EXPECT_TRUE(p && p->wait(std::chrono::milliseconds(20000)).value_or(-1) == 0);
  return dir + "tune.mid";
}

// A dark disc on a light ground, as a JPEG.
std::string photoFile(const std::string& dir) {
  Magick::Image img(Magick::Geometry(300, 200), Magick::Color("rgb(240,240,240)"));
  img.fillColor(Magick::Color("rgb(20,20,20)"));
  img.draw(Magick::DrawableCircle(150, 100, 150, 170));
  img.magick("JPEG");
  img.write(dir + "photo.jpg");
  return dir + "photo.jpg";
}

TEST_F(Hvsend, TextIsWhatTheTextCoreSends) {
  const std::string text = "你好，今晚七点老地方见。";
  Ran r = run(with({"text", "--to", kFriend, "--tag", "CLI", text}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      r.out,
      "ok messages=1 result=0 friend=the user declined to add the recipient to=13900139000\n");
  EXPECT_NE(r.err.find("正在发送数据..."), std::string::npos) << r.err;  // progress on stderr
  const textport::Options o;
  const textport::Split s = textport::split(T(text), o);
  const auto p = stored(1);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->texts, s.messages);
  const MessageHeader h = textport::buildHeader({"CLI", {kFriend}, kUser, s.capacity, false});
  EXPECT_EQ(p->header, h.bytes());

  // Numbered over two messages, two recipients, JSON result; the dry run shows the same bytes.
  const std::string longText(200, 'a');
  r = run(with({"text", "--to", kFriend, "--to", "13700137000", "--json", longText}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\"exit\":0,\"messages\":2,", 0), 0u) << r.out;
  const textport::Split two = textport::split(longText, o);
  ASSERT_TRUE(stored(2));
  EXPECT_EQ(stored(2)->texts, two.messages);
  EXPECT_EQ(stored(2)->recipients, (std::vector<std::string>{kFriend, "13700137000"}));
  r = run({"text", "--dry-run", "--to", kFriend, longText});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto shown = lines(r.out, "message ");
  ASSERT_EQ(shown.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const auto& m = two.messages[i];
    EXPECT_EQ(shown[i], "message " + std::to_string(i + 1) + "/2 " + std::to_string(m.size()) +
                            " " + hexOf({m.begin(), m.end()}));
  }
  EXPECT_EQ(lines(r.out, "content ").at(0),
            "content " + hexOf(textport::buildContent(two.messages)));
  EXPECT_EQ(storedMessages().size(), 2u);  // the dry run sent nothing
}

TEST_F(Hvsend, PictureIsWhatThePictureCorePacks) {
  const std::string photo = photoFile(home_);
  const Ran r = run(with(
      {"picture", "--to", kFriend, "--model", "诺基亚3310", "--type", "nokia_op_logo", photo}));
  ASSERT_EQ(r.status, 0) << r.err;
  // The same steps through the core.
  ImageTable images(home_ + "DATA");
  pictport::PictureType type;
  ASSERT_GE(images.GetImageTypeInfo("nokia_op_logo", &type.info), 0);
  type.modulePath = std::string(HV_SUITE_DIR) + "/" + fieldText(type.info.modulepath);
  auto source = pictport::openPicture(photo);
  ASSERT_TRUE(source);
  pictport::Framing framing;
  pictport::setupFraming(framing, pictport::workingPicture(*source, 72, 14), {424, 290}, {72, 14});
  const pictport::Picture send = pictport::composeSendPicture(
      framing, type, source->kind, pictport::kDefaultThreshold, {}, nullptr);
  const auto packed = pictport::pack(send, type, source->kind, fs::tempDirectory());
  ASSERT_TRUE(packed.ok()) << packed.message;
  const std::string bytes = *fs::readFile(packed.path);
  fs::removeFile(packed.path);
  const auto messages =
      svc::decodePackedMessages({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
  ASSERT_TRUE(messages);
  const auto p = stored(1);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->contentKind, "nokia_op_logo");
  EXPECT_EQ(p->model, "Nokia3310");
  EXPECT_EQ(p->texts, texts(*messages));

  // The dry run: the same messages in hex and a PNG preview of the send picture.
  const std::string preview = home_ + "preview.png";
  const Ran dry = run({"picture", "--dry-run", "--model", "Nokia3310", "--type", "nokia_op_logo",
                       "--preview", preview, photo});
  ASSERT_EQ(dry.status, 0) << dry.err;
  const auto shown = lines(dry.out, "message ");
  ASSERT_EQ(shown.size(), messages->size());
  EXPECT_NE(shown[0].find(hexOf(messages->at(0))), std::string::npos);
  auto back = pictport::openPicture(preview);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->picture.width(), 72);
  EXPECT_EQ(back->picture.height(), 14);
}

TEST_F(Hvsend, RingtoneIsWhatTheMusicCoreConverts) {
  const std::string tune = tuneFile(home_, {60, 62, 64, 65, 67});
  const Ran r = run(with({"ringtone", "--to", kFriend, "--model", "诺基亚3310", tune}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(
      r.out.find("format=nokia notes=5 messages=1 fee=短信通信费：0.1元;铃声信息费：2.0元/次"),
      std::string::npos)
      << r.out;
  ringport::ConvertRequest q;
  q.midiPath = tune;
  q.converterPath = ringport::converterIn(HV_SUITE_DIR);
  q.phoneType = "Nokia3310";
  const auto c = ringport::convert(q);
  ASSERT_TRUE(c.ringtone);
  const auto p = stored(1);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->contentKind, "nokia_ringtone");
  EXPECT_EQ(p->texts, texts(c.ringtone->messages));
  EXPECT_EQ(
      p->header,
      ringport::buildHeader(ringport::Format::Nokia, {"", kFriend, kUser, "Nokia3310"}).bytes());

  // iMelody forced on a Nokia model, as a dry run.
  const Ran dry =
      run({"ringtone", "--dry-run", "--model", "诺基亚3310", "--format", "imelody", tune});
  ASSERT_EQ(dry.status, 0) << dry.err;
  const auto shown = lines(dry.out, "message ");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find(hexOf({'M', 'E', 'L', 'O', 'D', 'Y', ':'})), std::string::npos);
}

TEST_F(Hvsend, FriendsModelsAndQuery) {
  Ran r = run({"friends", "add", "--user", kUser, "--number", kFriend, "--phone-type", "Nokia3310",
               "--name", "张三"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = run({"friends", "list", "--user", kUser});
  EXPECT_EQ(r.out, "0\t13900139000\tNokia3310\t张三\nok friends=1\n");
  r = run({"friends", "change", "0", "--user", kUser, "--name", "李四"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(modkit::testing::friendRows(userFile("FRIENDS.DBF")), "13900139000|Nokia3310|李四\n");
  r = run({"friends", "delete", "0", "--user", kUser});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(run({"friends", "delete", "0", "--user", kUser}).status, 3);
  r = run({"models"});
  EXPECT_NE(r.out.find(
                "诺基亚7650\tNokia7650\tnokia\tnokia_op_logo,nokia_picture,nokia_567_colorpicture"),
            std::string::npos)
      << r.out;
  r = run(with({"query-model", "--to", kFriend}));
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(stored(1));
  EXPECT_EQ(stored(1)->texts.at(0), T("Lumoi用户13800138000询问您的手机型号，请直接回复"));
  r = run(with({"login"}));
  EXPECT_EQ(r.out, "ok user=13800138000\n");
}

TEST_F(Hvsend, ThroughRealSocksProxies) {
  using e2e::Peer;
  const std::string dir = home_;
  const int open = e2e::freePort(), guarded = e2e::freePort();
  Peer plain({"microsocks", "-i", "127.0.0.1", "-p", std::to_string(open)}, open,
             dir + "microsocks.log");
  Peer withUser({"microsocks", "-i", "127.0.0.1", "-p", std::to_string(guarded), "-u", "alice",
                 "-P", "s3cret"},
                guarded, dir + "microsocks-user.log");
  ASSERT_TRUE(plain.ready());
  ASSERT_TRUE(withUser.ready());
  const std::string region =
      std::to_string(login::loadSettings(login::settingsPath(), true)->regionPort);
  Ran r = run(with({"text", "--to", kFriend, "--proxy",
                    "socks5://127.0.0.1:" + std::to_string(open), "through the proxy"}));
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(stored(1));
  EXPECT_EQ(stored(1)->texts, textport::split("through the proxy", {}).messages);
  // microsocks logs each connection it made: the region server's port is among them.
  EXPECT_NE(fs::readFile(dir + "microsocks.log").value_or("").find(":" + region),
            std::string::npos);

  // The proxy's own account: refused without it (no sign-in), sent with it; remembering the
  // account does not keep the proxy.
  const std::string at = "127.0.0.1:" + std::to_string(guarded);
  EXPECT_EQ(run(with({"login", "--proxy", "socks5://" + at})).status, 4);
  r = run(with({"login", "--remember", "--proxy", "socks5://alice:s3cret@" + at}));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto saved = login::loadSettings(login::settingsPath(), true);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->autoLogin, 1);
  EXPECT_EQ(fieldText(saved->proxyType), "");
  EXPECT_EQ(saved->proxyPort, 0);

  if (getuid() == 0) {  // danted drops to "nobody" and so must start as root
    const int socks4 = e2e::freePort();
    const std::string conf = dir + "danted.conf";
    ASSERT_TRUE(fs::writeFileAtomic(
        conf, "logoutput: stderr\ninternal: 127.0.0.1 port = " + std::to_string(socks4) +
                  "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n"
                  "user.privileged: root\nuser.unprivileged: nobody\n"
                  "client pass {\n from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
                  "socks pass {\n from: 127.0.0.0/8 to: 0.0.0.0/0\n protocol: tcp\n}\n"));
    Peer dante({"danted", "-N", "1", "-f", conf, "-p", dir + "danted.pid"}, socks4,
               dir + "danted.log");
    ASSERT_TRUE(dante.ready());
    r = run({"text", "--to", kFriend, "--proxy", "socks4://127.0.0.1:" + std::to_string(socks4),
             "by socks4"});  // the remembered account
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(stored(2));
    EXPECT_EQ(stored(2)->texts, textport::split("by socks4", {}).messages);
  }
  // Not SOCKS, or not a proxy address: a usage error before anything connects.
  for (const char* bad :
       {"http://127.0.0.1:8080", "socks5://127.0.0.1", "socks5://:80", "127.0.0.1:1080"}) {
    EXPECT_EQ(run(with({"login", "--proxy", bad})).status, 2) << bad;
  }
}

TEST_F(Hvsend, WrongCommandLinesAndBadInput) {
  for (const std::vector<std::string>& a : std::vector<std::vector<std::string>>{
           {},
           {"bogus"},
           {"text", "--bogus", "x"},
           {"text", "--to"},
           {"text", "--to", kFriend},
           {"friends"},
           {"picture", "--dry-run", "--threshold", "300", "a.jpg"},
           {"ringtone", "--dry-run", "--quality", "0", "a.mid"},
           {"text", "--flash=1", "x"}}) {
    const Ran r = run(a);
    EXPECT_EQ(r.status, 2) << ::testing::PrintToString(a);
    EXPECT_NE(r.err.find("usage: hvsend"), std::string::npos);
  }
  const Ran help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("用法: hvsend"), std::string::npos);
  // Files, models and types the cores refuse.
  EXPECT_EQ(run({"picture", "--dry-run", "--model", "诺基亚3310", home_ + "none.jpg"}).status, 3);
  EXPECT_EQ(run({"picture", "--dry-run", "--model", "NoSuchPhone", home_ + "none.jpg"}).status, 3);
  ASSERT_TRUE(fs::writeFileAtomic(home_ + "junk.mid", "MThd junk"));
  EXPECT_EQ(run({"ringtone", "--dry-run", "--model", "诺基亚3310", home_ + "junk.mid"}).status, 3);
  EXPECT_EQ(run({"text", "--dry-run", "--flash", "--to", kFriend, std::string(200, 'a')}).status,
            3);
  EXPECT_EQ(run({"text", "--dry-run", "--to", kFriend, std::string(2000, 'a')}).status, 3);
  EXPECT_EQ(run(with({"text", "--to", "12345", "x"})).status, 3);
  EXPECT_EQ(run({"text", "--to", kFriend, "--user", kUser, "--password", "wrong", "x"}).status, 4);
  // The service gone: no sign-in.
  service_.reset();
  const Ran down = run(with({"text", "--to", kFriend, "--json", "x"}));
  EXPECT_EQ(down.status, 4);
  EXPECT_EQ(down.out.rfind("{\"exit\":4,", 0), 0u) << down.out;
}

}  // namespace
}  // namespace hv
