// The desktop pieces that can be checked without a display, on Qt's
// offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include "TestUtil.h"
#include "desktop/qt/AboutBox.h"
#include "desktop/qt/QtDesktop.h"

namespace ovlar {
namespace {

class QtTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "ovlar_qt_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) app_ = new QApplication(argc, argv);
  }
  static inline QApplication* app_ = nullptr;
};

QString Text(const QDialog& box, const char* name) { return box.findChild<QLabel*>(name)->text(); }

TEST_F(QtTest, AboutBoxShowsTheDialogsProperties) {
  const std::string ico = test::ReadFile(std::string(OVLAR_EXAMPLES_DIR) + "/OVLAR.ICO");
  TAboutBox box({"AXIP-AGWPE Bridge for the AGWPE", "Ovlar 1.00.00", "(C) 2001", "Free", "", ico, 0}, IconFromIco(ico));
  EXPECT_EQ(box.windowTitle(), "AXIP-AGWPE Bridge for the AGWPE");
  EXPECT_EQ(box.size(), QSize(296, 182));
  EXPECT_EQ(Text(box, "ProductName"), "Ovlar 1.00.00");
  EXPECT_EQ(Text(box, "Copyright"), "(C) 2001");
  EXPECT_EQ(Text(box, "Programmer"), "Free");
  EXPECT_FALSE(box.findChild<QLabel*>("Image1")->pixmap().isNull());
  auto* ok = box.findChild<QPushButton*>("OKButton");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), "OK");
  EXPECT_TRUE(ok->isDefault());
}

TEST_F(QtTest, AboutBoxClosesByItselfWhenAsked) {
  TAboutBox box({"T", "P", "C", "", "", "", 50}, QIcon());
  EXPECT_EQ(box.exec(), QDialog::Accepted);
}

TEST_F(QtTest, IconsLoadAndDiffer) {
  const std::string ico = test::ReadFile(std::string(OVLAR_EXAMPLES_DIR) + "/OVLAR.ICO");
  const QIcon app = IconFromIco(ico);
  EXPECT_GE(app.availableSizes().size(), 3);
  EXPECT_TRUE(IconFromIco("not an icon").isNull());
  const QImage on = TrayPicture(TrayIcon::XOn).pixmap(16, 16).toImage();
  const QImage off = TrayPicture(TrayIcon::XOff).pixmap(16, 16).toImage();
  const QImage unknown = TrayPicture(TrayIcon::XUnknown).pixmap(22, 22).toImage();
  EXPECT_FALSE(on.isNull());
  EXPECT_NE(on, off);
  EXPECT_EQ(unknown.width(), 22);
}

}  // namespace
}  // namespace ovlar
