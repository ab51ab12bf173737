// What the suite's own encoders make, decoded back by the virtual phone: pictures from
// libLogopack.so (loaded by path, as the image module does) must come back pixel for pixel,
// ringing tones from Tunecast note for note.
#include "service-server/phone/decode.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <random>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "ringtone/imelody.h"
#include "ringtone/nokia.h"
#include "ringtone/song.h"
#include "service-server/phone/media.h"

namespace {

using hv::phone::Bitmap;
using hv::phone::Bytes;
using hv::phone::Kind;

using DoProcess = int (*)(char*, const char*, int, int, const unsigned char*);

DoProcess logopack() {
  const char* env = std::getenv("HV_SUITE_DIR");
  const std::string path = std::string(env && *env ? env : HV_SUITE_DIR) + "/libLogopack.so";
  static void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  return lib ? reinterpret_cast<DoProcess>(dlsym(lib, "DoProcess")) : nullptr;
}

// A picture that no two formats could confuse: a frame, a diagonal and noise from a fixed seed.
std::vector<uint8_t> pattern(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> ink(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      ink[size_t(y) * size_t(w) + size_t(x)] =
          x == 0 || y == 0 || x == w - 1 || y == h - 1 || x == y || (rng() % 3 == 0);
  return ink;
}

// The packed message file's short messages.
std::vector<Bytes> packed(const std::string& file) {
  std::vector<Bytes> out;
  auto u32 = [&](size_t at) {
    return uint32_t(uint8_t(file[at])) | uint32_t(uint8_t(file[at + 1])) << 8 |
           uint32_t(uint8_t(file[at + 2])) << 16 | uint32_t(uint8_t(file[at + 3])) << 24;
  };
  if (file.size() < 4) return out;
  size_t at = 4;
  for (uint32_t i = 0, n = u32(0); i < n && at + 4 <= file.size(); ++i) {
    const uint32_t len = u32(at);
    at += 4;
    out.emplace_back(file.begin() + long(at), file.begin() + long(at + len));
    at += len + 1;
  }
  return out;
}

std::vector<Bytes> encodePicture(const char* format, int w, int h,
                                 const std::vector<uint8_t>& ink) {
  auto fn = logopack();
  if (!fn) return {};
  std::vector<uint8_t> rgb;
  for (uint8_t i : ink) rgb.insert(rgb.end(), 3, i ? 0 : 255);
  auto dir = *hv::fs::createTempDirectory();
  char path[260] = {};
  std::strncpy(path, dir.c_str(), sizeof path - 1);
  const int r = fn(path, format, w, h, rgb.data());
  auto file = hv::fs::readFile(path).value_or("");
  hv::fs::removeAll(dir);
  if (r != 0) return {};
  return packed(file);
}

struct PictureCase {
  const char* format;
  int width, height;
  Kind kind;
};

class LogopackPictures : public ::testing::TestWithParam<PictureCase> {};

TEST_P(LogopackPictures, DecodeToThePixelsThatWerePacked) {
  ASSERT_TRUE(logopack()) << "libLogopack.so not found";
  const auto& c = GetParam();
  const auto ink = pattern(c.width, c.height, unsigned(c.width * 131 + c.height));
  auto messages = encodePicture(c.format, c.width, c.height, ink);
  ASSERT_FALSE(messages.empty());
  // As the service stores them (a short message of a text batch is a GBK "text" of bytes),
  // in the order sent and then shuffled: the phone puts a series together by its numbers.
  for (bool shuffle : {false, true}) {
    if (shuffle) std::reverse(messages.begin(), messages.end());
    auto items = hv::phone::decodeBinary(messages);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].kind, c.kind) << items[0].problem;
    EXPECT_EQ(items[0].bitmap.width, c.width);
    EXPECT_EQ(items[0].bitmap.height, c.height);
    EXPECT_EQ(items[0].bitmap.ink, ink);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryFamily, LogopackPictures,
    ::testing::Values(PictureCase{"nokia_op_logo", 72, 14, Kind::OperatorLogo},
                      PictureCase{"nokia_cli_icon", 72, 14, Kind::CallerIcon},
                      PictureCase{"nokia_picture", 72, 28, Kind::PictureMessage},
                      PictureCase{"nokia_screensaver", 72, 28, Kind::Screensaver},
                      PictureCase{"siemens_standard_operator", 101, 64, Kind::SiemensPicture},
                      PictureCase{"siemens_cli", 32, 32, Kind::SiemensPicture},
                      PictureCase{"alcatel_big_operator", 96, 32, Kind::AlcatelPicture},
                      PictureCase{"alcatel_small_operator", 72, 14, Kind::AlcatelPicture},
                      PictureCase{"ems_40_25_picture", 40, 25, Kind::EmsPicture},
                      PictureCase{"ems_big_picture", 32, 32, Kind::EmsPicture},
                      PictureCase{"motorola_388_big", 96, 64, Kind::MotorolaPicture}),
    [](const auto& info) { return std::string(info.param.format); });

TEST(PhoneDecode, OperatorLogoNamesItsNetwork) {
  ASSERT_TRUE(logopack());
  auto items = hv::phone::decodeBinary(encodePicture("nokia_op_logo", 72, 14, pattern(72, 14, 1)));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].text, "MCC 460 MNC 00");
}

TEST(PhoneDecode, IncompleteOrRepeatedSeriesIsUndecodableWithItsBytes) {
  ASSERT_TRUE(logopack());
  auto three = encodePicture("nokia_picture", 72, 28, pattern(72, 28, 2));
  ASSERT_EQ(three.size(), 3u);
  auto missing = hv::phone::decodeBinary({three[0], three[2]});
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_EQ(missing[0].kind, Kind::Undecodable);
  EXPECT_EQ(missing[0].raw.size(), three[0].size() + three[2].size());
  auto twice = hv::phone::decodeBinary({three[0], three[1], three[1]});
  ASSERT_EQ(twice.size(), 1u);
  EXPECT_EQ(twice[0].kind, Kind::Undecodable);

  // Two pictures in one batch stay two; garbage beside them is shown on its own.
  auto logo = encodePicture("nokia_op_logo", 72, 14, pattern(72, 14, 3));
  std::vector<Bytes> batch = {logo[0], Bytes{0x30, 0x01}, three[0], three[1], three[2]};
  auto items = hv::phone::decodeBinary(batch);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].kind, Kind::OperatorLogo);
  EXPECT_EQ(items[1].kind, Kind::Undecodable);
  EXPECT_EQ(items[1].raw, (Bytes{0x30, 0x01}));
  EXPECT_EQ(items[2].kind, Kind::PictureMessage);
}

TEST(PhoneDecode, HeadersThatLieAboutTheirLengthsAreUndecodable) {
  const std::vector<Bytes> cases = {
      {},                              // nothing
      {0x06, 0x05, 0x04},              // header longer than the message
      {0x04, 0x05, 0x09, 0x15, 0x82},  // element longer than the header
      {0x06, 0x05, 0x04, 0x15, 0x82, 0, 0, 0x64, 0xF0, 0x00, 0x00, 0x48, 0x0E, 0x01},  // no bits
      {0x06, 0x05, 0x04, 0x12, 0x34, 0, 0, 1, 2, 3},  // unknown port
      {0x05, 0x12, 0x03, 0x00, 0x05, 0x08},           // picture without its bytes
  };
  for (const auto& ud : cases) {
    auto items = hv::phone::decodeBinary({ud});
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].kind, Kind::Undecodable);
    EXPECT_FALSE(items[0].problem.empty());
    EXPECT_EQ(items[0].raw, ud);
  }
}

hv::tunecast::Song song(const char* rtttl) {
  hv::tunecast::Song s;
  EXPECT_TRUE(hv::tunecast::parseRtttl(rtttl, s).ok());
  return s;
}

void expectSameNotes(const std::vector<hv::phone::Note>& got,
                     const std::vector<hv::tunecast::SongNote>& sent, size_t count) {
  ASSERT_EQ(got.size(), count);
  for (size_t i = 0; i < count; ++i) {
    std::string name = sent[i].note;
    for (auto& ch : name) ch = char(std::toupper(uint8_t(ch)));
    if (name == "H") name = "B";
    EXPECT_EQ(got[i].name, name) << i;
    EXPECT_EQ(got[i].duration, sent[i].duration) << i;
    EXPECT_EQ(got[i].special, sent[i].special) << i;
    if (name != "P") {
      EXPECT_EQ(got[i].octave, sent[i].octave) << i;
    }
  }
}

constexpr char kTune[] =
    "tune:d=4,o=5,b=125:8c#.6,e,8p,16f#;,a&,2h,32g#7,4d#4,8a.5,c,d,e,f,g,a,b,8c6,8d6,8e6";

TEST(PhoneDecode, NokiaRingtoneCarriesTheNotesAndTempoEncoded) {
  auto s = song(kTune);
  auto tone = hv::tunecast::encodeNokia(s, 0, 0);
  auto split = hv::tunecast::splitNokia(tone, 3, s.notes.size(), 0x42);
  ASSERT_EQ(split.streams.size(), 1u);
  auto items = hv::phone::decodeBinary(split.streams);
  ASSERT_EQ(items.size(), 1u);
  ASSERT_EQ(items[0].kind, Kind::NokiaRingtone) << items[0].problem;
  EXPECT_EQ(items[0].melody.bpm, s.tempo);  // the table tempo the encoder chose (112)
  expectSameNotes(items[0].melody.notes, s.notes, s.notes.size());
}

TEST(PhoneDecode, LongNokiaRingtoneInSegmentsIsPutTogether) {
  std::string rtttl = "long:d=8,o=6,b=200:";
  const char* names[] = {"c", "d", "e", "f", "g", "a", "h", "p"};
  for (int i = 0; i < 150; ++i) rtttl += std::string(i ? "," : "") + names[i % 8];
  auto s = song(rtttl.c_str());
  auto tone = hv::tunecast::encodeNokia(s, 0, 0);
  auto split = hv::tunecast::splitNokia(tone, 5, s.notes.size(), 0x17);
  ASSERT_GT(split.streams.size(), 1u);
  ASSERT_EQ(split.overflow, 0);
  std::reverse(split.streams.begin(), split.streams.end());
  auto items = hv::phone::decodeBinary(split.streams);
  ASSERT_EQ(items.size(), 1u);
  ASSERT_EQ(items[0].kind, Kind::NokiaRingtone) << items[0].problem;
  expectSameNotes(items[0].melody.notes, s.notes, s.notes.size());
}

TEST(PhoneDecode, IMelodyInOneAndInSeveralMessages) {
  for (const char* model : {"nokia_3510", "siemens_c55"}) {
    for (int notes : {5, 40, 120}) {
      std::string rtttl = "m:d=4,o=5,b=140:";
      const char* tokens[] = {"c", "8d#6", "16f.", "a&", "2p", "32h7", "g4", "8c#;6"};
      for (int i = 0; i < notes; ++i) rtttl += std::string(i ? "," : "") + tokens[i % 8];
      auto s = song(rtttl.c_str());
      auto melody = hv::tunecast::buildIMelody(s, 0);
      auto split = hv::tunecast::splitIMelody(melody, 10, model, 0x33);
      ASSERT_FALSE(split.streams.empty());
      auto items = hv::phone::decodeBinary(split.streams);
      ASSERT_EQ(items.size(), 1u) << notes;
      ASSERT_EQ(items[0].kind, Kind::IMelody) << items[0].problem;
      EXPECT_EQ(items[0].melody.bpm, 140);
      expectSameNotes(items[0].melody.notes, s.notes, split.notesFitted);
    }
  }
}

TEST(PhoneDecode, NumberedTextsAreJoinedAndFlashIsMarked) {
  EXPECT_EQ(hv::phone::joinNumbered({"(1/3)\nabc", "(2/3)\ndef", "(3/3)\ng"}), "abcdefg");
  // A signature after each prefix is shown once.
  EXPECT_EQ(hv::phone::joinNumbered({"(1/2)Li:\nhello ", "(2/2)Li:\nworld"}), "Li:\nhello world");
  // Without the prefixes of their own places the parts are shown as they are, one after another.
  EXPECT_EQ(hv::phone::joinNumbered({"(2/2)\na", "(1/2)\nb"}), "(2/2)\na(1/2)\nb");
  EXPECT_EQ(hv::phone::joinNumbered({"only"}), "only");

  hv::phone::Received r;
  r.serviceCode = "SMS";
  r.contentClass = "TEXTG";
  r.contentKind = "sms_fireflag";
  r.texts = {hv::T("(1/2)\n你好，"), hv::T("(2/2)\n世界")};
  auto items = hv::phone::decode(r);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].kind, Kind::FlashText);
  EXPECT_EQ(items[0].text, "你好，世界");
  // Bytes that are not GBK are shown escaped, not dropped.
  r.contentKind = "sms_text";
  r.texts = {"a\x81"};
  items = hv::phone::decode(r);
  EXPECT_EQ(items[0].kind, Kind::Text);
  EXPECT_EQ(items[0].text, "a\\x81");
}

TEST(PhoneDecode, ContentCarriedWholeIsShownAsItCame) {
  hv::phone::Received r;
  r.serviceCode = "WAP";
  // A GIF of two frames (graphic control extensions) is an animation; one frame a picture.
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
  Bytes frame = {0x21, 0xF9, 4, 0, 10, 0, 0, 0, 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 1, 0};
  r.content = gif;
  r.content.insert(r.content.end(), frame.begin(), frame.end());
  auto one = hv::phone::decode(r);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].kind, Kind::ColourPicture);
  EXPECT_EQ(one[0].mime, "image/gif");
  r.content.insert(r.content.end(), frame.begin(), frame.end());
  auto two = hv::phone::decode(r);
  EXPECT_EQ(two[0].kind, Kind::Animation);
  EXPECT_EQ(two[0].raw, r.content);
  r.content = {0xFF, 0xD8, 0xFF, 0xE0, 1, 2};
  EXPECT_EQ(hv::phone::decode(r)[0].mime, "image/jpeg");
  r.content = {'<', 's', 'c', 'r', 'i', 'p', 't', '>'};
  auto unknown = hv::phone::decode(r);
  EXPECT_EQ(unknown[0].kind, Kind::Undecodable);
  EXPECT_TRUE(unknown[0].mime.empty());
}

// The PNG read back with libpng.
Bitmap readPng(const Bytes& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Bitmap b;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return b;
  image.format = PNG_FORMAT_GRAY;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return b;
  b.width = int(image.width);
  b.height = int(image.height);
  for (uint8_t p : pixels) b.ink.push_back(p < 128);
  return b;
}

TEST(PhoneMedia, PngHoldsTheBitmapAtItsScale) {
  Bitmap b;
  b.width = 5;
  b.height = 3;
  b.ink = pattern(5, 3, 9);
  auto plain = readPng(hv::phone::encodePng(b));
  EXPECT_EQ(plain.width, 5);
  EXPECT_EQ(plain.ink, b.ink);
  auto big = readPng(hv::phone::encodePng(b, 3));
  ASSERT_EQ(big.width, 15);
  ASSERT_EQ(big.height, 9);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 15; ++x) EXPECT_EQ(big.inkAt(x, y), b.inkAt(x / 3, y / 3));
  EXPECT_TRUE(hv::phone::encodePng(Bitmap{}).empty());
}

TEST(PhoneMedia, WavLastsAsLongAsTheNotes) {
  hv::phone::Melody m;
  m.bpm = 120;  // a quarter note is 500 ms
  m.notes = {{"A", 5, 4, ""}, {"P", 5, 8, ""}, {"C", 6, 4, "."}};
  auto wav = hv::phone::renderWav(m);
  ASSERT_GE(wav.size(), 44u);
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  const size_t samples = (wav.size() - 44) / 2;
  EXPECT_EQ(samples, size_t(8000 * (0.5 + 0.25 + 0.75)));
  // The pause is silent, the notes are not.
  auto sample = [&](size_t i) { return int16_t(wav[44 + 2 * i] | wav[45 + 2 * i] << 8); };
  int loudNote = 0, loudPause = 0;
  for (size_t i = 0; i < 4000; ++i) loudNote = std::max(loudNote, std::abs(int(sample(i))));
  for (size_t i = 4000; i < 6000; ++i) loudPause = std::max(loudPause, std::abs(int(sample(i))));
  EXPECT_GT(loudNote, 5000);
  EXPECT_EQ(loudPause, 0);
  // Bounded however long the melody claims to be.
  m.notes.assign(5000, {"A", 5, 1, ""});
  EXPECT_LE(hv::phone::renderWav(m, 3).size(), 44u + 3 * 8000 * 2);
}

}  // namespace
