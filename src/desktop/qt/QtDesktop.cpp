#include "desktop/qt/QtDesktop.h"

#include <QApplication>
#include <QBuffer>
#include <QImageReader>
#include <QCursor>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>

#include "desktop/qt/AboutBox.h"

namespace ovlar {

namespace {

QString Q(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())); }

const char* ResourceName(TrayIcon icon) {
  switch (icon) {
    case TrayIcon::XOn: return "XON";
    case TrayIcon::XOff: return "XOFF";
    default: return "XUNKNOWN";
  }
}

// Window messages of the icon, as the bridge knows them.
int MouseEvent(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Context: return kRightButtonDown;
    case QSystemTrayIcon::DoubleClick: return kLeftButtonDoubleClick;
    case QSystemTrayIcon::Trigger: return kLeftButtonUp;
    case QSystemTrayIcon::MiddleClick: return 520;
    default: return kMouseMove;
  }
}

}  // namespace

QIcon TrayPicture(TrayIcon icon) {
  QIcon picture;
  for (int size : {16, 22, 32}) {
    picture.addFile(QString(":/icons/%1-%2.png").arg(ResourceName(icon)).arg(size), QSize(size, size));
  }
  return picture;
}

QIcon IconFromIco(const std::string& icoBytes) {
  QByteArray bytes(icoBytes.data(), static_cast<qsizetype>(icoBytes.size()));
  QBuffer buffer(&bytes);
  QImageReader reader(&buffer, "ICO");
  QIcon icon;
  // Every size the file holds, so each use picks the one that fits.
  for (int i = 0; i < reader.imageCount() && reader.jumpToImage(i); ++i) {
    const QImage image = reader.read();
    if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

QtDesktop::QtDesktop(EventLoop& loop) : loop_(loop) {
  QApplication::setQuitOnLastWindowClosed(false);
  // The program's loop runs whenever its descriptor is readable or one of
  // its timers is due.
  notifier_ = std::make_unique<QSocketNotifier>(loop_.Descriptor(), QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Pump(); });
  timer_.setSingleShot(true);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Pump(); });

  mainWindow_ = std::make_unique<QWidget>();
  mainWindow_->setFixedSize(370, 287);
  QFont font("MS Sans Serif", 8);
  mainWindow_->setFont(font);
  auto* button = new QPushButton("OK", mainWindow_.get());
  button->setGeometry(232, 200, 97, 41);
}

QtDesktop::~QtDesktop() {
  if (tray_) tray_->hide();
}

// A modal box keeps the program's loop turning only when it was opened
// outside a turn: from a menu item (those run from Qt's own queue) or during
// start-up. A box opened by a handler inside a turn runs Qt's nested loop,
// whose pumps this guard turns away, because a turn inside a turn is not
// allowed; the program's loop then waits until the box is closed.
void QtDesktop::Pump() {
  if (pumping_) return;
  pumping_ = true;
  try {
    loop_.RunOnce(0);
    loop_.ApplyChanges();
  } catch (...) {
    // Nothing may be thrown through Qt; Exec raises it once Qt's loop is left.
    failure_ = std::current_exception();
    QApplication::quit();
  }
  pumping_ = false;
  if (failure_) return;
  if (loop_.Quitting()) {
    QApplication::quit();
    return;
  }
  const int wait = loop_.NextTimeoutMs();
  if (wait >= 0) {
    timer_.start(wait);
  } else {
    timer_.stop();
  }
}

int QtDesktop::Exec() {
  if (loop_.Quitting()) return 0;
  Pump();
  const int result = failure_ ? 0 : QApplication::exec();
  if (failure_) std::rethrow_exception(failure_);
  return result;
}

void QtDesktop::ShowMainWindowUnlessHidden() {
  if (!hidden_) mainWindow_->show();
}

MsgResult QtDesktop::MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons) {
  if (buttons == MsgButtons::OkCancel && confirmNext_) {
    confirmNext_ = false;
    return MsgResult::Ok;
  }
  QMessageBox box(QMessageBox::NoIcon, Q(caption), Q(text),
                  buttons == MsgButtons::Ok ? QMessageBox::Ok : QMessageBox::Ok | QMessageBox::Cancel);
  box.setDefaultButton(QMessageBox::Ok);
  if (buttons == MsgButtons::OkCancel) box.setEscapeButton(QMessageBox::Cancel);
  return box.exec() == QMessageBox::Ok ? MsgResult::Ok : MsgResult::Cancel;
}

void QtDesktop::Terminate() {
  loop_.Quit();
  QApplication::quit();
}

bool QtDesktop::AddTrayIcon(TrayIcon icon, const std::string& tip, std::function<void(int)> onMouse) {
  onMouse_ = std::move(onMouse);
  tray_ = std::make_unique<QSystemTrayIcon>(TrayPicture(icon));
  tray_->setToolTip(Q(tip));
  QObject::connect(tray_.get(), &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason reason) {
    if (onMouse_) onMouse_(MouseEvent(reason));
  });
  tray_->show();
  return true;
}

bool QtDesktop::ModifyTrayIcon(TrayIcon icon) {
  if (!tray_) return false;
  tray_->setIcon(TrayPicture(icon));
  return true;
}

void QtDesktop::SetTrayTip(const std::string& tip) {
  if (tray_) tray_->setToolTip(Q(tip));
}

bool QtDesktop::DeleteTrayIcon() {
  if (!tray_) return false;
  tray_->hide();
  tray_.reset();
  return true;
}

void QtDesktop::SetPopupMenu(std::vector<MenuItem> items) {
  items_ = std::move(items);
  menu_ = std::make_unique<QMenu>();
  menu_->setWindowTitle("Ovlar menu");
  for (size_t i = 0; i < items_.size(); ++i) {
    QAction* action = menu_->addAction(Q(items_[i].Caption));
    // Run after the menu has closed, so a modal box is not opened inside it.
    QObject::connect(action, &QAction::triggered, [this, i] {
      QTimer::singleShot(0, [this, i] {
        if (i < items_.size() && items_[i].OnClick) items_[i].OnClick();
      });
    });
  }
}

void QtDesktop::PopupMenuAtCursor() {
  if (!menu_) return;
  mainWindow_->activateWindow();
  menu_->popup(QCursor::pos());
}

void QtDesktop::ShowAbout(const AboutContent& content) {
  TAboutBox box(content, IconFromIco(content.Icon));
  box.exec();
}

bool QtDesktop::OpenDocument(const std::string& url) { return QDesktopServices::openUrl(QUrl(Q(url))); }

void QtDesktop::SetApplicationTitle(const std::string& title) { QApplication::setApplicationDisplayName(Q(title)); }

void QtDesktop::SetApplicationIcon(const std::string& icoBytes) {
  const QIcon icon = IconFromIco(icoBytes);
  if (!icon.isNull()) QApplication::setWindowIcon(icon);
}

void QtDesktop::SetMainWindowCaption(const std::string& caption) { mainWindow_->setWindowTitle(Q(caption)); }

void QtDesktop::HideMainWindow() {
  hidden_ = true;
  mainWindow_->hide();
  mainWindow_->setEnabled(false);
}

}  // namespace ovlar
