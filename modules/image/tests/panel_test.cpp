// The phone panel's layout file: a complete file with its pictures, the states shown in turn,
// and files with missing keys, bad descriptions and pictures that do not load.
#include "modules/image/panel.h"

#include <gtest/gtest.h>

#include "modules/image/tests/test_pictures.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/tests/test_dir.h"

namespace hv::pictport {
namespace {

std::string crlf(const std::string& utf8) {
  std::string out;
  const std::string gbk = utf8ToGbk(utf8).value_or("");
  for (char c : gbk) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

const char* kLayout = R"([ALL]
x=441
y=244
picnum=2
pic1=1,0,0,back.bmp
pic2=2,0,0,text.bmp
controlnum=3
control1=button;0,8000,(48,20,100,36);send.bmp;null;发送到手机
control2=edit;0,8003,(10,10,177,80)
control3=transstatic;0,8004,(10,70,177,60);255,255,255
[normal]
backgroudpic=1
controlnum=2
control1=button;0,8000,(48,20,100,36);send.bmp;null;发送到手机
control2=transstatic;0,8004,(10,70,177,60);255,255,255
[AddText]
backgroudpic=2
controlnum=2
control1=edit;0,8003,(10,10,177,80)
control2=button;0,8000,(48,-1,100,36);send.bmp;null;null
)";

class PanelFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"back.bmp", "text.bmp", "send.bmp"}) {
      testing::writeAs(testing::drawn(20, 10, [](int x, int) { return testing::grey(x * 10); }),
                       dir / name, "BMP3");
    }
  }
  std::string write(const std::string& utf8) {
    EXPECT_TRUE(fs::writeFileAtomic(dir / "PTX_PhonePanel.ini", crlf(utf8)));
    return dir / "PTX_PhonePanel.ini";
  }
  PanelLayout::Report recorder() {
    return [this](const std::string& t) { reports.push_back(gbkToUtf8Escaped(t)); };
  }
  TestDir dir;
  std::vector<std::string> reports;
};

TEST_F(PanelFiles, ReadsOriginPicturesAndControlLooks) {
  PanelLayout layout;
  ASSERT_TRUE(layout.load(write(kLayout), recorder()));
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(layout.origin().x, 441);
  EXPECT_EQ(layout.origin().y, 244);
  ASSERT_EQ(layout.pictures().size(), 2u);
  EXPECT_EQ(layout.picture(2)->picture.width(), 20);
  ASSERT_EQ(layout.controls().size(), 3u);
  const PanelControl* send = layout.control(8000);
  ASSERT_NE(send, nullptr);
  EXPECT_EQ(send->kind, "button");
  EXPECT_EQ(send->rect, (Rect{48, 20, 148, 56}));
  EXPECT_EQ(send->normalBitmap, dir / "send.bmp");
  EXPECT_EQ(send->secondBitmap, "");
  EXPECT_EQ(gbkToUtf8Escaped(send->tooltip), "发送到手机");
  EXPECT_EQ(layout.control(8004)->textColour, (Rgb{255, 255, 255}));
  EXPECT_FALSE(layout.stateLoaded("normal"));
}

TEST_F(PanelFiles, StatesShowInTurnAndReturnToThePreviousOne) {
  PanelLayout layout;
  ASSERT_TRUE(layout.load(write(kLayout), recorder()));
  PanelStates states;
  auto normal = states.show(layout, "normal");
  ASSERT_TRUE(normal);
  EXPECT_TRUE(normal->hide.empty());
  EXPECT_EQ(normal->background, 1);
  ASSERT_EQ(normal->show.size(), 2u);
  EXPECT_EQ(normal->show[0].rect, (Rect{441 + 48, 244 + 20, 441 + 148, 244 + 56}));
  EXPECT_FALSE(states.show(layout, "normal"));  // already shown: nothing happens
  EXPECT_FALSE(layout.stateLoaded("AddText"));
  auto text = states.show(layout, "AddText");
  ASSERT_TRUE(text);
  EXPECT_EQ(text->hide, (std::vector<int>{8000, 8004}));
  EXPECT_EQ(text->background, 2);
  EXPECT_TRUE(text->show[1].keepsPlace);
  EXPECT_EQ(states.previous(), "normal");
  // "添加文字" a second time goes back to the state shown before.
  auto back = states.show(layout, states.previous());
  ASSERT_TRUE(back);
  EXPECT_EQ(states.current(), "normal");
  EXPECT_EQ(back->hide, (std::vector<int>{8003, 8000}));
}

TEST_F(PanelFiles, MissingTextKeyIsReportedAndStopsLoading) {
  std::string layoutText = kLayout;
  layoutText.replace(layoutText.find("pic2=2,0,0,text.bmp\n"), 20, "");
  PanelLayout layout;
  const std::string path = write(layoutText);
  EXPECT_FALSE(layout.load(path, recorder()));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], path + "ALLpic2");
  EXPECT_EQ(layout.pictures().size(), 1u);
  EXPECT_TRUE(layout.controls().empty());

  // An empty control value counts as missing; the controls before it stay.
  reports.clear();
  std::string emptyControl = kLayout;
  emptyControl.replace(emptyControl.find("control2=edit;0,8003,(10,10,177,80)"), 35, "control2=");
  EXPECT_FALSE(layout.load(write(emptyControl), recorder()));
  EXPECT_EQ(reports, (std::vector<std::string>{path + "ALLcontrol2"}));
  EXPECT_EQ(layout.controls().size(), 1u);

  // A state's missing control key is reported when the state is first shown.
  reports.clear();
  std::string stateGap = kLayout;
  stateGap.replace(stateGap.find("control1=edit;0,8003,(10,10,177,80)\ncontrol2=button"), 36, "");
  ASSERT_TRUE(layout.load(write(stateGap), recorder()));
  EXPECT_TRUE(layout.state("AddText").controls.empty());
  EXPECT_EQ(reports, (std::vector<std::string>{path + "AddTextcontrol1"}));
}

TEST_F(PanelFiles, MissingNumbersReadAsMinusOne) {
  PanelLayout layout;
  EXPECT_TRUE(layout.load(write("[ALL]\npicnum=0\n"), recorder()));
  EXPECT_EQ(layout.origin().x, -1);
  EXPECT_EQ(layout.origin().y, -1);
  EXPECT_TRUE(layout.controls().empty());
  EXPECT_EQ(layout.state("normal").background, -1);
  EXPECT_TRUE(reports.empty());
  // No file at all is an empty layout, not a crash.
  EXPECT_TRUE(layout.load(dir / "absent.ini", recorder()));
  EXPECT_TRUE(layout.pictures().empty());
}

TEST_F(PanelFiles, BadDescriptionsAndPicturesEndLoadingSilently) {
  std::string badControl = kLayout;
  badControl.replace(badControl.find("edit;0,8003,(10,10,177,80)"), 26, "edit;0,8003,(10,10,177)");
  PanelLayout layout;
  EXPECT_FALSE(layout.load(write(badControl), recorder()));
  EXPECT_EQ(layout.controls().size(), 1u);
  EXPECT_EQ(layout.pictures().size(), 2u);
  std::string badPicture = kLayout;
  badPicture.replace(badPicture.find("text.bmp"), 8, "none.bmp");
  EXPECT_FALSE(layout.load(write(badPicture), recorder()));
  EXPECT_EQ(layout.pictures().size(), 1u);
  EXPECT_TRUE(reports.empty());
}

TEST(PanelControl, DescriptionForms) {
  EXPECT_TRUE(parseControl("button;0,8000,(1,2,3,4);a.bmp;b.bmp;tip", "/p/"));
  EXPECT_EQ(parseControl("button;0,8000,(1,2,3,4);a.bmp;b.bmp;tip", "/p/")->secondBitmap,
            "/p/b.bmp");
  EXPECT_FALSE(parseControl("button;0,8000,(1,2,3,4);a.bmp;null", "/p/"));
  EXPECT_FALSE(parseControl("button;0,8000,(1,2,3);a.bmp;null;null", "/p/"));
  EXPECT_FALSE(parseControl("button;0,8000,1,2,3,4;a.bmp;null;null", "/p/"));
  EXPECT_FALSE(parseControl("button;0,x,(1,2,3,4);a.bmp;null;null", "/p/"));
  EXPECT_FALSE(parseControl("slider;0,8000,(1,2,3,4)", "/p/"));
  EXPECT_FALSE(parseControl("edit", "/p/"));
  EXPECT_FALSE(parseControl("edit;0,8003,(1,2,-3,4)", "/p/"));
  EXPECT_FALSE(parseControl("transstatic;0,8004,(1,2,3,4);300,0,0", "/p/"));
  auto keep = parseControl("edit;7,8003,(10,-1,5,6)", "/p/");
  ASSERT_TRUE(keep);
  EXPECT_TRUE(keep->keepsPlace);
  EXPECT_EQ(keep->id, 8003);
  EXPECT_FALSE(parseControl("transstatic;0,8004,(1,2,3,4)", "/p/")->textColour);
}

}  // namespace
}  // namespace hv::pictport
