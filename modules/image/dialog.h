#pragma once
// The image module's dialog ("Lumo图服务") as a controller: start-up, the recipient box and phone
// model picker, the picture type list, opening and framing a picture, the preview with its
// overlay text, the phone panel's states, saving, the phone-model query and the send. The Qt view
// binds its widgets to these control ids and paints the pictures it is handed; tests drive the
// controller headless with the scripted backend.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "include/handvane/records.h"
#include "modules/image/packing.h"
#include "modules/image/panel.h"
#include "modules/image/pipeline.h"
#include "ui/core/ui.h"

class CFeeConfig;
class ImageTable;
class CPhone2Image;
class ModelList;
class FriendsTable;
namespace hv::ui {
class ReceiverHistory;
}

namespace hv::pictport {

class HV_EXPORT CImageDialog : public ui::DialogController {
 public:
  static constexpr int kTemplate = 4100;
  enum Id {
    kRecipient = 1028,
    kModel = 1029,
    kType = 1006,
    kAskModel = 1025,
    kOpenFile = 142,
    kCapture = 141,
    kWhole = 143,
    kStandard = 144,
    kAddText = 1007,
    kSend = 1021,
    kFee = 147,
    kSave = 1032,
    kKeepRatio = 1013,
    kThreshold = 1005,
    kThresholdLabel = 1014,
    kPhotoEffect = 1002,
    kGreyEffect = 1003,
    kCartoonEffect = 1004,
    kEffectGroup = 1015,
    kClip = 1000,
    kPhone = 1001,
    kFlat1 = 1027,
    kFlat2 = 1030,
    kPanelSend = 8000,
    kPanelFont = 8001,
    kPanelBack = 8002,
    kOverlayEdit = 8003,
    kFeeNotice = 8004,
  };
  // Item data of the recipient box's entry for "not signed in".
  static constexpr int kNoFriend = 0xFFFF;
  static constexpr int kDefaultThresholdLevel = kDefaultThreshold;

  struct Options {
    std::string moduleDir;  // the folder of libPictport.so, ending in "/" (GBK)
    std::string receiver;   // DoConvert's arguments (GBK)
    std::string pictureFile;
    std::string launchTag;
    Size clipClient{424, 290};  // the framing control's client area
    // The view hides the dialog, waits 100 ms, grabs the screen and shows the dialog again;
    // nullopt when the screen cannot be grabbed.
    std::function<std::optional<Picture>()> captureScreen;
    // The platform's font dialog on the current font and colour; nullopt when cancelled.
    std::function<std::optional<std::pair<OverlayFont, Rgb>>(const OverlayFont&, Rgb)> chooseFont;
  };

  // What the view redraws when the controller says so.
  enum class ViewEvent { Framing, Preview, Panel, FocusOverlay, Busy, Idle };

  explicit CImageDialog(Options options);
  ~CImageDialog() override;

  void onInit() override;
  void onCommand(int id) override;
  void onChange(int id) override;
  bool onClose() override;

  // The view's hook for the events above (called on the dialog's thread).
  void setViewHook(std::function<void(ViewEvent)> hook) { viewHook_ = std::move(hook); }
  void setCaptureScreen(std::function<std::optional<Picture>()> capture) {
    options_.captureScreen = std::move(capture);
  }
  void setChooseFont(decltype(Options::chooseFont) choose) {
    options_.chooseFont = std::move(choose);
  }

  // State the view shows.
  Framing& framing() { return framing_; }
  bool bilevelType() const { return type_.bilevel(); }
  int thresholdLevel() const;
  // The framing display for a 1-bit type: the display copy thresholded at the slider's level.
  Picture thresholdedDisplay() const;
  const Picture& previewWithText() const { return previewText_; }
  Point previewOrigin() const { return type_.previewOrigin(); }
  const PictureType& type() const { return type_; }
  PanelLayout& panel() { return panel_; }
  const PanelStates& panelStates() const { return states_; }
  // Placement of the panel controls shown now, in dialog coordinates (keepsPlace: not moved).
  const std::map<int, PanelControl>& shownPanelControls() const { return shown_; }
  int panelBackground() const { return background_; }
  std::string phonePicturePath() const;
  std::string headerPicturePath() const;
  std::string phoneCompanyPath() const;
  const std::vector<int>& modelData() const { return modelIndex_; }
  bool sending() const { return sending_; }

  // The view reports: the frame was dragged; the overlay was moved by keys or by the mouse.
  void frameChanged();
  // Arrow keys: moves by (dx, dy) when the text stays on the preview; false when undone.
  bool moveOverlay(int dx, int dy);
  // Whether a point of the preview lies on the drawn text.
  bool overlayHit(Point previewPoint) const;
  // Moves the overlay to a new position (mouse drag); false when it would leave the preview.
  bool dragOverlayTo(Point position);
  const Overlay& overlay() const { return overlay_; }
  // The header's panel height is added to the panel's origin (start-up step 8).
  void setHeaderHeight(int h) { headerHeight_ = h; }

  // For tests and the command line: open a picture file or take a captured picture now.
  bool openFile(const std::string& path);
  bool takeCapture(Picture picture);
  const std::optional<OpenedPicture>& source() const { return source_; }
  // The send picture with the overlay, as packing gets it (empty without a picture).
  Picture sendPicture();
  // The result of the last send (-100 until the service answered) and the packed file sent.
  int lastResult() const { return result_; }
  const std::string& lastPackedPath() const { return packedPath_; }

 private:
  void view(ViewEvent e) {
    if (viewHook_) viewHook_(e);
  }
  bool loadTables();
  void fillModels();
  void fillRecipients();
  void selectRecipientModel();
  void recipientTyped();
  void fillTypes();
  void chooseTypeForPicture();
  void applyType(int index);
  void rebuildFraming();
  void rebuildPreview();
  void redrawOverlay();
  bool useSource(OpenedPicture source);
  std::string recipientNumber() const;
  std::string userNumber() const;
  bool ensureSignedIn();
  bool recipientAccepted(const std::string& number);
  int sendAndWait(const std::function<int(const hv::SendNotice&)>& start);
  void send();
  void report(bool success, const std::string& number);
  void askModel();
  void save();
  void toggleText();
  void chooseFont();
  void showPanelState(const std::string& name);
  int selectedModel() const;
  std::string selectedModelName() const;
  std::string selectedPhoneType() const;
  void message(const std::string& gbk, ui::Icon icon);

  Options options_;
  std::function<void(ViewEvent)> viewHook_;
  std::unique_ptr<CFeeConfig> fee_;
  std::unique_ptr<ImageTable> images_;
  std::unique_ptr<CPhone2Image> phones_;
  ModelList* models_ = nullptr;
  FriendsTable* friends_ = nullptr;
  std::unique_ptr<hv::ui::ReceiverHistory> history_;
  std::vector<int> recipientData_;
  std::vector<int> modelIndex_;
  std::vector<std::string> typeKeys_;
  std::string typeKey_;
  PictureType type_;
  std::optional<OpenedPicture> source_;
  std::string pictureFile_;
  Framing framing_;
  Picture preview_;
  Picture previewText_;
  Overlay overlay_;
  bool hintShown_ = false;
  PanelLayout panel_;
  PanelStates states_;
  std::map<int, PanelControl> shown_;
  int background_ = -1;
  int headerHeight_ = 0;
  bool sending_ = false;
  int result_ = -100;
  std::string packedPath_;
};

}  // namespace hv::pictport
