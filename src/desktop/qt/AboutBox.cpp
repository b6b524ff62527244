#include "desktop/qt/AboutBox.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace ovlar {

namespace {

QString Q(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())); }

QLabel* Label(QWidget* parent, const QString& text, int y, bool wrap) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(64, y, 210, wrap ? 30 : 16);
  label->setWordWrap(wrap);
  return label;
}

}  // namespace

TAboutBox::TAboutBox(const AboutContent& content, const QIcon& icon) {
  setWindowTitle(Q(content.Caption));
  setFixedSize(296, 182);
  auto* panel1 = new QFrame(this);
  panel1->setObjectName("Panel1");
  panel1->setGeometry(8, 8, 281, 137);
  panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel1->setLineWidth(2);
  auto* panel2 = new QFrame(panel1);
  panel2->setObjectName("Panel2");
  panel2->setGeometry(8, 8, 50, 50);
  panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* image = new QLabel(panel2);
  image->setObjectName("Image1");
  image->setGeometry(1, 1, 48, 48);
  image->setAlignment(Qt::AlignCenter);
  if (!icon.isNull()) image->setPixmap(icon.pixmap(48, 48));
  Label(panel1, content.ProductName.empty() ? "Product Name" : Q(content.ProductName), 8, false)
      ->setObjectName("ProductName");
  Label(panel1, content.Copyright.empty() ? "Copyright" : Q(content.Copyright), 40, false)->setObjectName("Copyright");
  Label(panel1, Q(content.Programmer), 72, true)->setObjectName("Programmer");
  Label(panel1, Q(content.Website), 104, true)->setObjectName("Website");
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("OKButton");
  ok->setGeometry(111, 152, 75, 25);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  if (content.AutoCloseMs > 0) QTimer::singleShot(content.AutoCloseMs, this, &QDialog::accept);
}

}  // namespace ovlar
