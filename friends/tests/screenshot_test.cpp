// Pictures of the friends dialog under the offscreen platform, left in $HV_SCREENSHOT_DIR (default
// "screenshots" in the test's working folder), and a check that its Chinese texts come from a real
// Chinese font: the font that Qt resolves for each widget covers every character and declares
// Simplified Chinese, each character's outline has ink and differs from the box drawn for a
// character the font lacks, and the screenshot has ink where each text is.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainterPath>
#include <QRawFont>
#include <QTreeWidget>
#include <algorithm>

#include "friends/tests/friends_home.h"
#include "friends/tests/view_support.h"
#include "ui/UI/helper.h"

namespace hv::friends {
namespace {

using testing::control;
using testing::FriendsHome;
using testing::kUser;
using D = FriendsDialog;

QString pictureFolder() {
  const QByteArray env = qgetenv("HV_SCREENSHOT_DIR");
  const QString dir = env.isEmpty() ? QStringLiteral("screenshots") : QString::fromLocal8Bit(env);
  QDir().mkpath(dir);
  return dir;
}

// Pixels clearly darker than the area's background, its median grey; the area's edge (a
// button's frame) is left out.
int ink(const QImage& img, const QRect& area) {
  const QRect r = area.adjusted(3, 3, -3, -3).intersected(img.rect());
  if (r.isEmpty()) return 0;
  std::vector<int> greys;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) greys.push_back(qGray(img.pixel(x, y)));
  std::vector<int> sorted = greys;
  std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
  const int background = sorted[sorted.size() / 2];
  return int(std::count_if(greys.begin(), greys.end(), [&](int g) { return g + 30 < background; }));
}

struct Checked {
  int characters = 0;
  std::vector<std::string> problems;
};

void checkText(const QFont& font, const QString& text, const QString& where, Checked& out) {
  const QFontInfo info(font);
  const QRawFont raw = QRawFont::fromFont(font, QFontDatabase::SimplifiedChinese);
  const bool chinese =
      QFontDatabase::writingSystems(info.family()).contains(QFontDatabase::SimplifiedChinese);
  const QString missing = QString::fromUcs4(U"\U0010FFFD");
  QPainterPath missingPath;
  missingPath.addText(0, 0, font, missing);
  for (char32_t c : text.toUcs4()) {
    if (c < 0x2E80) continue;  // the CJK ranges start at U+2E80
    ++out.characters;
    const QString ch = QString::fromUcs4(&c, 1);
    QPainterPath path;
    path.addText(0, 0, font, ch);
    if (!chinese || !raw.supportsCharacter(c) || path.isEmpty() || path == missingPath) {
      out.problems.push_back(where.toStdString() + ": " + ch.toStdString() + " in " +
                             info.family().toStdString());
    }
  }
}

// Saves the dialog's picture and checks every Chinese text it shows.
Checked saveAndCheck(QWidget* dialog, const QString& name) {
  const QImage shot = dialog->grab().toImage();
  const QString file = QDir(pictureFolder()).filePath(name + QStringLiteral(".png"));
  EXPECT_TRUE(shot.save(file)) << file.toStdString();
  Checked out;
  auto texted = [&](QWidget* w, const QString& text) {
    if (!w->isVisibleTo(dialog) || text.isEmpty()) return;
    checkText(w->font(), text, text, out);
    const QRect area(w->mapTo(dialog, QPoint(0, 0)), w->size());
    if (ink(shot, area) <= 10) out.problems.push_back("no ink for " + text.toStdString());
  };
  for (auto* l : dialog->findChildren<QLabel*>()) texted(l, l->text());
  for (auto* b : dialog->findChildren<QAbstractButton*>()) texted(b, b->text());
  for (auto* t : dialog->findChildren<QTreeWidget*>()) {
    for (int c = 0; c < t->columnCount(); ++c) texted(t->header(), t->headerItem()->text(c));
    for (int i = 0; i < t->topLevelItemCount(); ++i)
      texted(t->viewport(), t->topLevelItem(i)->text(0));
  }
  return out;
}

TEST(FriendsScreenshots, ListAndFormInViewAndEditMode) {
  testing::friendsApp();
  FriendsHome home;
  home.seed({FriendsHome::record("13911112222", "张三", "Nokia3310", 30),
             FriendsHome::record("13933334444", "李四", "SiemensC45", 41),
             FriendsHome::record("13955556666", "王小明", "MotorolaV998", 25)});
  D dialog(kUser, &CHandvaneHelper::IsPhoneNumberSupport);
  Checked viewing, editing;
  testing::onceShown(D::kTemplate, [&](QWidget* d) {
    viewing = saveAndCheck(d, QStringLiteral("friends-dialog"));
    control<QAbstractButton>(d, D::kAdd)->click();
    control<QLineEdit>(d, D::kName)->setText(QStringLiteral("赵六"));
    editing = saveAndCheck(d, QStringLiteral("friends-dialog-adding"));
    d->close();
  });
  ui::backend().runModal(dialog);
  // Labels, buttons, column heads and names: well over 40 characters in each picture.
  EXPECT_GE(viewing.characters, 40);
  EXPECT_GE(editing.characters, 40);
  EXPECT_TRUE(viewing.problems.empty()) << viewing.problems.front();
  EXPECT_TRUE(editing.problems.empty()) << editing.problems.front();
}

}  // namespace
}  // namespace hv::friends
