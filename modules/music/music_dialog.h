#pragma once
// The music dialog "Lumo音-Ringport" as a controller: open a MIDI file, see its beat, pick the
// recipient and his phone model, let the model choose the ringtone format (the user may choose
// the other), convert through Tunecast, see how many notes fit and how many short messages the
// ringtone takes with the fee, listen to it as the phone plays it, and send it. The Qt view binds
// widgets to these controls; tests drive the controller headless with the scripted backend.
//
// Controls (id: kind, text):
//   1001 receiver box (editable combo box: friends, then the typing history)
//   1002 phone model list       1003 ringtone format list ("诺基亚铃声", "iMelody铃声")
//   1004 label: the MIDI file   1005 button "打开MIDI"
//   1006 channel list ("全部声道", "1" ... "16")
//   1007 tempo slider (items {"0", "10"}, selection the position; 5 keeps the tune's tempo)
//   1008 label: the beat        1009 list: at most this many short messages ("1" ... "10")
//   1010 button "转 换"         1011 label: the notes that fit
//   1012 label: the message count                    1013 the fee label
//   1014 button "试 听"         1015 button "发 送"
//   1016 the dialog window itself: disabled while a send waits for its result
//   1017, 1018, 1019 the header's text, image and animation buttons
//   1020 button "询问机型"
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "modules/kit/convert.h"
#include "modules/kit/receiverbox.h"
#include "modules/music/core/ringcore.h"
#include "modules/music/player.h"
#include "tables/fees/feeconfig.h"
#include "ui/core/ui.h"

class FriendsTable;
struct ModelList;

namespace hv::ringport {

class MusicDialog : public ui::DialogController {
 public:
  static constexpr int kTemplate = 16100;
  static constexpr int kReceiver = 1001, kModel = 1002, kFormat = 1003, kFile = 1004, kOpen = 1005,
                       kChannel = 1006, kTempo = 1007, kBeat = 1008, kMaxMessages = 1009,
                       kConvert = 1010, kNotes = 1011, kCount = 1012, kFee = 1013, kPlay = 1014,
                       kSend = 1015, kWindow = 1016, kHeaderText = 1017, kHeaderImage = 1018,
                       kHeaderFlash = 1019, kAskModel = 1020;
  static constexpr int kDefaultMaxMessages = 3;

  struct Options {
    std::string moduleDir;  // the folder of libRingport.so and the converters, ending in "/"
    Player player;          // how a rendering is played
  };

  MusicDialog(modkit::ConvertArgs args, Options options);
  ~MusicDialog() override;
  MusicDialog(const MusicDialog&) = delete;
  MusicDialog& operator=(const MusicDialog&) = delete;

  void onInit() override;
  void onCommand(int id) override;
  void onChange(int id) override;
  bool onClose() override;

  // For tests and the view: open a MIDI file now (its beat, then the conversion).
  bool openMidi(const std::string& path);
  // Converts with the dialog's choices; false after telling the user why not.
  bool convertNow();
  const std::optional<Ringtone>& ringtone() const { return ringtone_; }
  Format format() const;
  std::string selectedPhoneType() const;
  std::string selectedModelName() const;
  // The result of the last send: 0 delivered, -100 not sent, else the failure posted.
  int lastResult() const { return result_; }
  bool sending() const { return sending_; }
  // The last rendering handed to the player (empty before the first "试 听").
  const std::string& lastTonePath() const { return tonePath_; }

 private:
  void loadUserData();
  void fillModels();
  void receiverChanged();
  void modelChanged();
  void stale();
  std::string recipientNumber() const;
  void send();
  void askModel();
  void play();
  void openClicked();
  void message(const std::string& text, ui::Icon icon);

  modkit::ConvertArgs args_;
  Options options_;
  modkit::ReceiverBox receiver_;
  FriendsTable* friends_ = nullptr;
  ModelList* models_ = nullptr;
  std::vector<int> modelIndex_;
  CFeeConfig fee_;
  std::string midi_;
  std::optional<Ringtone> ringtone_;
  std::string tonePath_;
  bool sending_ = false;
  int result_ = -100;
};

}  // namespace hv::ringport
