// The conversion through Tunecast's exports on MIDI files made by csvmidi: both formats, the
// notes that fit and the message count worked out by hand, the packed file equal to what
// Tunecast writes when called directly; the format choice, the request header byte for byte, and
// every kind of bad input.
#include "modules/music/core/ringcore.h"

#include <gtest/gtest.h>

#include <cstring>

#include "modules/music/tests/tunes.h"
#include "platform/fs.h"
#include "ringtone/tunecast.h"

namespace hv::ringport {
namespace {

using testing::kSuite;

class Conversion : public testing::TempFolder {
 protected:
  ConvertRequest request(const std::string& midi, Format f, int maxMessages = 3) {
    ConvertRequest r;
    r.midiPath = midi;
    r.converterPath = converterIn(kSuite);
    r.format = f;
    r.maxMessages = maxMessages;
    r.phoneType = f == Format::Nokia ? "Nokia3310" : "EricssonT68i";
    return r;
  }
  // The packed file Tunecast writes for the same request, called directly on its own copy.
  std::string direct(const ConvertRequest& r) {
    const std::string copy = dir_ + "direct.mid";
    fs::removeFile(copy);
    EXPECT_TRUE(fs::copyFile(r.midiPath, copy, false));
    char text[TUNECAST_RESULT_SIZE] = {};
    if (r.format == Format::Nokia) {
      MIDI2NokShort(copy.c_str(), r.converterPath.c_str(), r.channel, r.tempoOff,
                    tempoShift(r.format, r.tempoPosition), r.maxMessages, text);
    } else {
      MIDI2IMelodyShort(copy.c_str(), r.converterPath.c_str(), r.channel, 0,
                        tempoShift(r.format, r.tempoPosition), r.maxMessages,
                        imelodyModelName(r.phoneType).c_str(), text);
    }
    return fs::readFile(copy + ".sht").value_or("");
  }
};

std::string asString(const std::vector<uint8_t>& v) {
  return std::string(v.begin(), v.end());
}

TEST_F(Conversion, ShortNokiaTuneIsOneMessageEqualToTunecasts) {
  const std::string midi = testing::midiFromCsv(dir_, "three", testing::tuneCsv({60, 64, 67}));
  const ConvertResult r = convert(request(midi, Format::Nokia));
  ASSERT_TRUE(r.ringtone) << describe(r.error, r.detail);
  const Ringtone& t = *r.ringtone;
  EXPECT_EQ(t.fittedNotes(), 3u);
  EXPECT_EQ(t.neededMessages, 0);
  ASSERT_EQ(t.messages.size(), 1u);
  // The port-addressing header, then two command parts, the first always 0x4A.
  const std::vector<uint8_t> head{0x06, 0x05, 0x04, 0x15, 0x81, 0x00, 0x00, 0x02, 0x4A};
  EXPECT_TRUE(std::equal(head.begin(), head.end(), t.messages[0].begin()));
  // A single Nokia message has no random reference: Tunecast's own file, byte for byte.
  EXPECT_EQ(asString(t.packed), direct(request(midi, Format::Nokia)));
  // The tempo instruction moved 120 down to the table's 112.
  EXPECT_EQ(t.fitted.tempo, 112);
  // The private copy and Tunecast's files are gone; nothing was written beside the tune.
  EXPECT_FALSE(fs::exists(midi + ".sht"));
  EXPECT_TRUE(fs::list(fs::tempDirectory()).empty());
}

TEST_F(Conversion, LongNokiaTuneIsCutToTheAllowedMessages) {
  const std::string midi =
      testing::midiFromCsv(dir_, "long", testing::tuneCsv(testing::climbing(200)));
  const ConvertResult r = convert(request(midi, Format::Nokia, 1));
  ASSERT_TRUE(r.ringtone) << describe(r.error, r.detail);
  // One message of 1024 bits: (1024 - 38 - 25) / 17 = 56 notes with the tempo instruction.
  EXPECT_EQ(r.ringtone->fittedNotes(), 56u);
  EXPECT_GT(r.ringtone->neededMessages, 1);
  ASSERT_EQ(r.ringtone->messages.size(), 1u);
  EXPECT_EQ(r.ringtone->messages[0].size(), 140u);
  EXPECT_EQ(r.ringtone->messages[0].back(), 0);

  const ConvertResult three = convert(request(midi, Format::Nokia, 3));
  ASSERT_TRUE(three.ringtone);
  // 3072 - 38 = 3034 bits: 127 notes in the first pattern, (3034 - 2184 - 25) / 17 = 48 more.
  EXPECT_EQ(three.ringtone->fittedNotes(), 175u);
  EXPECT_EQ(three.ringtone->messages.size(), 3u);
  // Segments carry a random reference (byte 9): everything else is Tunecast's.
  std::string ours = asString(three.ringtone->packed),
              theirs = direct(request(midi, Format::Nokia, 3));
  ASSERT_EQ(ours.size(), theirs.size());
  for (size_t at = 4; at < ours.size(); at += 4 + 140 + 1) {
    ours[at + 4 + 9] = theirs[at + 4 + 9] = 0;
  }
  EXPECT_EQ(ours, theirs);
}

TEST_F(Conversion, IMelodyTuneCarriesItsMelodyText) {
  const std::string midi = testing::midiFromCsv(dir_, "three", testing::tuneCsv({60, 64, 67}));
  ConvertRequest q = request(midi, Format::IMelody);
  q.tempoPosition = 6;  // ten beats a minute faster
  const ConvertResult r = convert(q);
  ASSERT_TRUE(r.ringtone) << describe(r.error, r.detail);
  ASSERT_EQ(r.ringtone->messages.size(), 1u);
  const std::string m = asString(r.ringtone->messages[0]);
  EXPECT_EQ(uint8_t(m[0]), m.size() - 1);
  EXPECT_NE(m.find("BEGIN:IMELODY\r\nVERSION:1.2\r\nFORMAT:CLASS1.0\r\nBEAT:130\r\n"),
            std::string::npos);
  EXPECT_NE(m.find("MELODY:*3c2*3e2*3g2\r\nEND:IMELODY\r\n"), std::string::npos) << m;
  EXPECT_EQ(r.ringtone->fittedNotes(), 3u);
  EXPECT_EQ(r.ringtone->fitted.tempo, 130);
  // The reference (byte 3) is random; the rest is Tunecast's.
  std::string ours = asString(r.ringtone->packed), theirs = direct(q);
  ASSERT_EQ(ours.size(), theirs.size());
  ours[4 + 4 + 3] = theirs[4 + 4 + 3] = 0;
  EXPECT_EQ(ours, theirs);
}

TEST_F(Conversion, LongIMelodyTuneSplitsIntoEmsMessages) {
  const std::string midi =
      testing::midiFromCsv(dir_, "long", testing::tuneCsv(testing::climbing(120)));
  const ConvertResult r = convert(request(midi, Format::IMelody, 2));
  ASSERT_TRUE(r.ringtone) << describe(r.error, r.detail);
  EXPECT_EQ(r.ringtone->messages.size(), 2u);
  EXPECT_GT(r.ringtone->neededMessages, 2);
  EXPECT_GT(r.ringtone->fittedNotes(), 0u);
  EXPECT_LT(r.ringtone->fittedNotes(), 120u);
  for (const auto& m : r.ringtone->messages) EXPECT_LE(m.size(), 140u);
}

TEST_F(Conversion, BadInputIsRefusedBeforeTheConverterRuns) {
  EXPECT_EQ(convert(request(dir_ + "missing.mid", Format::Nokia)).error, RingError::NoMidi);
  EXPECT_EQ(convert(request(dir_, Format::Nokia)).error, RingError::NoMidi);
  const std::string junk = dir_ + "junk.mid";
  ASSERT_TRUE(fs::writeFileAtomic(junk, std::string("MThd\0\0\0\6garbage-garbage", 23)));
  EXPECT_EQ(convert(request(junk, Format::Nokia)).error, RingError::BadMidi);
  // Over 16 MiB: refused by its size alone.
  const std::string huge = dir_ + "huge.mid";
  ASSERT_TRUE(fs::writeFileAtomic(huge, std::string(kMaxMidiBytes + 1, 'M')));
  EXPECT_EQ(convert(request(huge, Format::Nokia)).error, RingError::MidiTooLarge);
  // A tempo event and no note.
  const std::string silent = testing::midiFromCsv(dir_, "silent", testing::tuneCsv({}));
  EXPECT_EQ(convert(request(silent, Format::IMelody)).error, RingError::NoNotes);
  // Notes on channel 1 only: channel 2 plays nothing.
  const std::string tune = testing::midiFromCsv(dir_, "three", testing::tuneCsv({60, 64, 67}));
  ConvertRequest other = request(tune, Format::Nokia);
  other.channel = 2;
  EXPECT_EQ(convert(other).error, RingError::NoNotes);
  EXPECT_EQ(beat(silent, converterIn(kSuite), 0).error, RingError::NoNotes);
  // No converters installed where the module looks.
  ConvertRequest nowhere = request(tune, Format::Nokia);
  nowhere.converterPath = dir_ + "midi2rtttl";
  EXPECT_EQ(convert(nowhere).error, RingError::NoConverter);
  for (RingError e : {RingError::NoMidi, RingError::MidiTooLarge, RingError::BadMidi,
                      RingError::NoNotes, RingError::NoConverter, RingError::WorkFolder,
                      RingError::ConversionFailed, RingError::NoMessages}) {
    EXPECT_FALSE(describe(e).empty());
  }
  EXPECT_TRUE(describe(RingError::None).empty());
}

TEST_F(Conversion, TempoZeroStillConverts) {
  // A tempo event of 0 microseconds a quarter: the converter's tempo rules decide, and the
  // result is a sound ringtone or a refusal, never a crash or a hang.
  const std::string midi = testing::midiFromCsv(dir_, "zero", testing::tuneCsv({60, 62, 64}, 0));
  const ConvertResult r = convert(request(midi, Format::Nokia));
  if (r.ringtone) {
    EXPECT_EQ(r.ringtone->fittedNotes(), 3u);
    EXPECT_GE(r.ringtone->fitted.tempo, 25);
  } else {
    EXPECT_NE(r.error, RingError::None);
  }
}

TEST_F(Conversion, BeatOfANormalTune) {
  const std::string midi = testing::midiFromCsv(dir_, "three", testing::tuneCsv({60, 64, 67}));
  const BeatResult b = beat(midi, converterIn(kSuite), 0);
  ASSERT_TRUE(b.position) << describe(b.error, b.detail);
  EXPECT_EQ(*b.position, 5);
}

TEST(Format, ChosenByThePhoneType) {
  EXPECT_EQ(formatForPhoneType("Nokia3310"), Format::Nokia);
  EXPECT_EQ(formatForPhoneType("NOKIA7650"), Format::Nokia);
  EXPECT_EQ(formatForPhoneType("EricssonT68i"), Format::IMelody);
  EXPECT_EQ(formatForPhoneType(""), Format::IMelody);
  EXPECT_EQ(imelodyModelName("Motorola388"), "motorola_388");
  EXPECT_EQ(imelodyModelName("MotorolaC350"), "motorola_c350");
  EXPECT_EQ(imelodyModelName("SiemensS55"), "siemenss55");
  EXPECT_EQ(tempoShift(Format::Nokia, 7), 2);
  EXPECT_EQ(tempoShift(Format::IMelody, 3), -20);
  EXPECT_EQ(tempoShift(Format::Nokia, 99), 5);
}

TEST(Request, HeaderByteForByte) {
  const MessageHeader h =
      buildHeader(Format::IMelody, {"TAG-TOO-LONG", "13900139000", "13800138000", "EricssonT68i"});
  const auto b = h.bytes();
  ASSERT_EQ(b.size(), 152u);
  auto field = [&](size_t at, size_t width) {
    std::string s(reinterpret_cast<const char*>(b.data() + at), width);
    return s.substr(0, s.find('\0'));
  };
  EXPECT_EQ(field(0, 10), "TAG-TOO-LO");
  EXPECT_EQ(field(10, 3), "SMS");
  EXPECT_EQ(field(13, 5), "RING");
  EXPECT_EQ(b[18], 1);
  EXPECT_EQ(field(19, 20), "13900139000");
  EXPECT_EQ(field(39, 20), "13800138000");
  EXPECT_EQ(field(59, 40), "EricssonT68i");
  EXPECT_EQ(field(99, 40), "imelody_ringtone");
  EXPECT_EQ(field(139, 8), "00000000");
  EXPECT_EQ(field(147, 4), "SHT");
  EXPECT_EQ(b[151], 0);
  EXPECT_EQ(field(99, 40), std::string(contentKind(Format::IMelody)));
  EXPECT_STREQ(contentKind(Format::Nokia), "nokia_ringtone");
}

}  // namespace
}  // namespace hv::ringport
