#pragma once
// The animation module's dialog as a controller: opening and playing a movie, the marks and the
// quality, preview and conversion into GIF files, the comic list, the phone model and picture
// type, the recipient box, sending (a series of results, or the comic from memory), the
// phone-model query and the hand-over of a frame to the image module. The Qt view binds its
// widgets to these control ids and shows the pictures it is handed; tests drive it headless.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "modules/animation/core/flickcore.h"
#include "modules/kit/receiverbox.h"
#include "ui/core/ui.h"

class CFeeConfig;
class ImageTable;
class CPhone2Image;
class ModelList;
class FriendsTable;

namespace hv::flickport {

// What the dialog asks of the player that shows and plays the opened movie: the view's preview
// widget, or HeadlessControl when there is no view. Frames count from 0 here.
class HV_EXPORT FlashControl {
 public:
  virtual ~FlashControl() = default;
  // Loads the movie, stopped at frame 0; false when the engine cannot load it.
  virtual bool load(const std::string& path) = 0;
  virtual int frameCount() const = 0;
  virtual int currentFrame() const = 0;
  virtual bool playing() const = 0;
  virtual void play() = 0;
  // Stops where it is (pause); stop() of the dialog is gotoFrame(0) after it.
  virtual void stop() = 0;
  virtual void gotoFrame(int frame) = 0;
  // One frame of playback while playing: the next frame, the first after the last.
  virtual void tick() = 0;
};

// The control's state without any drawing or clock: tick() is called by whoever keeps time.
class HV_EXPORT HeadlessControl : public FlashControl {
 public:
  bool load(const std::string& path) override;
  int frameCount() const override { return count_; }
  int currentFrame() const override { return current_; }
  bool playing() const override { return playing_; }
  void play() override { playing_ = count_ > 0; }
  void stop() override { playing_ = false; }
  void gotoFrame(int frame) override;
  void tick() override;

 private:
  int count_ = 0;
  int current_ = 0;
  bool playing_ = false;
};

class HV_EXPORT CFlashDialog : public ui::DialogController {
 public:
  static constexpr int kTemplate = 4200;
  enum Id {
    kFlash = 1005,
    kOpen = 1007,
    kPlay = 1008,
    kPause = 1009,
    kStop = 1010,
    kPrev = 1011,
    kNext = 1012,
    kMarkFirst = 1013,
    kMarkLast = 1014,
    kRange = 1015,
    kQuality = 1016,
    kQualityLabel = 1023,
    kFast = 1022,
    kPreview = 1017,
    kConvert = 1018,
    kAbort = 1024,
    kResults = 1002,
    kPlayResult = 1026,
    kStopResult = 1030,
    kAddComic = 1031,
    kComics = 1003,
    kComicDown = 1061,
    kComicUp = 1062,
    kComicDelete = 1063,  // the comic list's context menu
    kModeButton = 1040,
    kComicMode = 1054,
    kAnimationMode = 1055,
    kRecipient = 1028,
    kAskModel = 1041,
    kToImage = 1027,
    kSaveFlash = 1033,
    kFeeLink = 1058,
    kSend = 1021,
    kSend2 = 1052,
    kModel = 1029,
    kType = 1032,
    kFeeText = 1059,
  };
  enum class Mode { Comic, Animation };

  struct Options {
    std::string moduleDir;  // the folder of the module's tables and pictures, ending in "/"
    std::string receiver;   // DoConvert's arguments (GBK)
    std::string movieFile;
    std::string tempDir;  // ending in "/"; empty: CFunction::GetTempPathA()
    // Waits ms milliseconds while the view stays live (20 ms steps); tests pass a no-op.
    std::function<void(int ms)> wait;
    // Starts a program without waiting; argv[0] is the program. False when it did not start.
    std::function<bool(const std::vector<std::string>& argv)> startProgram;
    // The main program and the running process's executable (for the hand-over).
    std::string mainProgram;
    std::string hostProgram;
  };

  enum class ViewEvent { Frame, Preview, Playback, Busy, Idle, Tooltips, Marks };

  explicit CFlashDialog(Options options);
  ~CFlashDialog() override;

  void onInit() override;
  void onCommand(int id) override;
  void onChange(int id) override;
  bool onClose() override;
  void setViewHook(std::function<void(ViewEvent)> hook) { hook_ = std::move(hook); }

  // The player that shows the movie; the view hands its widget in before the dialog starts (it
  // must outlive the dialog's use of it). Without one the dialog keeps a HeadlessControl.
  void setControl(FlashControl* control);
  FlashControl& control() const { return *control_; }

  bool openMovie(const std::string& path);
  bool movieLoaded() const { return !movie_.path.empty(); }
  const flick::Movie& movie() const { return movie_; }
  int frameCount() const { return control_->frameCount(); }
  int currentFrame() const { return control_->currentFrame(); }  // from 0
  bool playing() const { return control_->playing(); }
  // One playback tick of the control (the view's clock calls the control itself).
  void advance();
  // The 20 ms timer: keeps the range bar at the control's current frame and the buttons in step
  // with the control.
  void onTimer();
  // The picture of the current frame at the size asked (the view paints it).
  std::optional<flick::Frame> currentPicture(int width, int height) const;
  int firstMark() const { return first_; }
  int lastMark() const { return last_; }

  Mode mode() const { return mode_; }
  const flick::Target& target() const { return target_; }
  const std::string& typeKey() const { return typeKey_; }
  const std::vector<flick::ResultFile>& results() const { return results_; }
  // The selected result rows (the list allows several).
  void selectResults(std::vector<int> rows);
  const std::vector<int>& selectedResults() const { return selectedResults_; }
  const std::vector<flick::Frame>& comics() const { return comics_; }
  // What the view shows now: a preview frame, or the frames of a playback and their delays.
  const flick::Frame& shownFrame() const { return shown_; }
  const std::vector<flick::Frame>& playback() const { return playback_; }
  bool busy() const { return busy_; }
  std::string tempDir() const { return temp_; }
  std::string tooltip(int id) const;
  std::string phoneCompanyPath() const;
  // The module's pictures: the header, the phone that frames the preview and the buttons'.
  std::string headerPicturePath() const;
  std::string phonePicturePath() const;
  std::string buttonPicturePath(int id) const;
  // Where the preview picture lies on the phone picture (187 x 410): centred across, 40 down.
  int previewLeft(int width) const { return (kPreviewAreaWidth - width) / 2; }
  static constexpr int kPreviewAreaWidth = 187;
  static constexpr int kPreviewAreaHeight = 410;
  static constexpr int kPreviewTop = 40;

 private:
  void view(ViewEvent e) {
    if (hook_) hook_(e);
  }
  void message(const std::string& gbk, ui::Icon icon = ui::Icon::Stop,
               const std::string& caption = {});
  void updateButtons();
  void setMode(Mode m);
  void fillModels();
  void fillRecipients();
  void recipientChosen();
  void fillTypes();
  void applyType(int index);
  void clearResults();
  void markFirst();
  void markLast();
  bool readyToRender();
  void preview();
  void convert();
  void addComic();
  void moveComic(int delta);
  void deleteComic();
  void relistComics();
  void play();
  void send();
  void askModel();
  void handOver();
  void wait(int ms);
  bool ensureSignedIn();
  std::string recipientNumber() const;
  int selectedModel() const;
  std::string selectedModelName() const;
  std::string selectedPhoneType() const;
  void selectModelByName(const std::string& name);
  void setCurrent(int frame);

  Options options_;
  std::function<void(ViewEvent)> hook_;
  std::unique_ptr<CFeeConfig> fee_;
  std::unique_ptr<ImageTable> images_;
  std::unique_ptr<CPhone2Image> phones_;
  ModelList* models_ = nullptr;
  FriendsTable* friends_ = nullptr;
  modkit::ReceiverBox receiver_;
  std::string user_;
  std::vector<int> modelIndex_;
  std::vector<std::string> typeKeys_;
  std::string typeKey_;
  flick::Target target_;
  std::string temp_;
  flick::Movie movie_;
  HeadlessControl headless_;
  FlashControl* control_ = &headless_;
  int shownFrame_ = -1;  // what the range bar and the buttons last showed
  bool shownPlaying_ = false;
  int first_ = 0;
  int last_ = -1;
  Mode mode_ = Mode::Comic;
  bool abort_ = false;
  bool busy_ = false;
  std::vector<flick::ResultFile> results_;
  std::vector<int> selectedResults_;
  std::vector<flick::Frame> comics_;
  flick::Frame shown_;
  std::vector<flick::Frame> playback_;
};

}  // namespace hv::flickport
