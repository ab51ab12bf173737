// libTextport.so as the main program uses it: loaded by path with dlopen, its entry points looked
// up by name, DoConvert returning at once and every call opening a dialog of its own.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "ui/qt/qtext.h"
#include "ui/qt/tests/qt_test_app.h"
#include "ui/views/views.h"

namespace {

using DoConvertFn = int(const char*, const char*, const char*);
using GetFunctionIdFn = int();

std::vector<QWidget*> textDialogs() {
  std::vector<QWidget*> out;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == QStringLiteral("TextportDialog") && w->isVisible()) out.push_back(w);
  }
  return out;
}

TEST(TextportExports, DoConvertOpensOneDialogPerCallAndGetFunctionIdIsTwo) {
  setenv("HANDVANE_HOME", HV_SUITE_DIR, 1);
  hv::fs::resetSuiteHomeForTesting();
  hv::ui::qt::testing::app();
  hv::ui::qt::installSuiteUi();
  void* lib = dlopen(HV_SUITE_DIR "/libTextport.so", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto doConvert = reinterpret_cast<DoConvertFn*>(dlsym(lib, "DoConvert"));
  auto functionId = reinterpret_cast<GetFunctionIdFn*>(dlsym(lib, "GetFunctionID"));
  ASSERT_TRUE(doConvert && functionId);
  EXPECT_EQ(functionId(), 2);

  auto file = hv::fs::createTempFile({}, "export", ".txt");
  ASSERT_TRUE(hv::fs::writeFileAtomic(*file, hv::T("从文件来的短信")));
  EXPECT_EQ(doConvert("13900139000", file->c_str(), "tag"), 0);
  EXPECT_EQ(doConvert(nullptr, nullptr, nullptr), 0);
  EXPECT_TRUE(textDialogs().empty());  // nothing is shown within the call
  ASSERT_TRUE(hv::ui::qt::testing::waitFor([] { return textDialogs().size() == 2; }));
  hv::fs::removeFile(*file);

  std::vector<QString> receivers, texts;
  for (QWidget* w : textDialogs()) {
    receivers.push_back(w->findChild<QComboBox*>(QStringLiteral("c1001"))->currentText());
    texts.push_back(w->findChild<QPlainTextEdit*>(QStringLiteral("c1004"))->toPlainText());
  }
  std::sort(receivers.begin(), receivers.end());
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(receivers, (std::vector<QString>{QString(), QStringLiteral("13900139000")}));
  EXPECT_EQ(texts, (std::vector<QString>{QStringLiteral("从文件来的短信"),
                                         QStringLiteral("请在这儿输入要发送的短消息的内容！")}));
  for (QWidget* w : textDialogs()) w->close();
  EXPECT_TRUE(hv::ui::qt::testing::waitFor([] { return textDialogs().empty(); }));
}

}  // namespace
