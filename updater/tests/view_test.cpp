// Patchrun's progress view under the offscreen platform: it shows the controller's texts, its
// timer runs the installation, and a screenshot is left for a look by eye.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QProgressBar>

#include "platform/gbk.h"
#include "ui/qt/binding.h"
#include "ui/qt/qtext.h"
#include "ui/qt/tests/qt_test_app.h"
#include "ui/views/views.h"
#include "updater/patchrun.h"
#include "updater/qt/progressview.h"

namespace hv::patchrun {
namespace {

TEST(PatchrunViewTest, ShowsProgressAndRunsOnItsTimer) {
  ui::qt::testing::app();
  ui::qt::registerSuiteViews();
  int executed = 0;
  UpdateClient client{
      [] { return 0; },
      [] { return 0; },
      [] { return 2; },
      [](int, void*) { return 1; },
      [&](void*) { return ++executed == 2 ? -1 : 0; },
      [](int, void*) { return 0; },
      [] { return 0; },
  };
  ProgressDialog controller(client, nullptr);
  QWidget* view = createProgressView(controller);
  auto* binding = ui::qt::bindingOf(view);
  ASSERT_NE(binding, nullptr);
  binding->start();
  view->show();
  auto* text = view->findChild<QLabel*>(QStringLiteral("c%1").arg(kTextId));
  auto* counter = view->findChild<QLabel*>(QStringLiteral("c%1").arg(kCounterId));
  ASSERT_TRUE(text && counter);
  EXPECT_EQ(text->text(), QStringLiteral("正在进行Lumoi的客户端更新..."));
  EXPECT_EQ(counter->text(), QStringLiteral("1/1"));
  EXPECT_EQ(view->windowTitle(), QStringLiteral("正在进行Lumoi客户端程更新..."));
  auto* about = view->findChild<QAction*>(QStringLiteral("about"));
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->text(), QStringLiteral("关于 Patchrun(&A)..."));

  // The timer installs; the second item fails and the dialog stays with the error text.
  auto* status = view->findChild<QLabel*>(QStringLiteral("c%1").arg(kStatusId));
  ASSERT_TRUE(ui::qt::testing::waitFor([&] { return !status->text().isEmpty(); }));
  EXPECT_EQ(status->text(), QStringLiteral("执行更新出错！"));
  EXPECT_EQ(counter->text(), QStringLiteral("1/2"));
  EXPECT_EQ(view->findChild<QProgressBar*>()->value(), 1);
  EXPECT_FALSE(controller.ended());

  const QByteArray env = qgetenv("HV_SCREENSHOT_DIR");
  const QString dir = env.isEmpty() ? QStringLiteral("screenshots") : QString::fromLocal8Bit(env);
  QDir().mkpath(dir);
  const QImage shot = view->grab().toImage();
  EXPECT_FALSE(shot.isNull());
  EXPECT_TRUE(shot.save(QDir(dir).filePath(QStringLiteral("patchrun-progress.png"))));
  delete view;
}

}  // namespace
}  // namespace hv::patchrun
