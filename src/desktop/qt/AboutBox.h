// The about box: a fixed dialog with the product name, copyright,
// programmer and web site beside the icon, and an OK button; it may close
// by itself after a while.
#pragma once
#include <QDialog>
#include <QIcon>

#include "platform/Desktop.h"

namespace ovlar {

class TAboutBox : public QDialog {
 public:
  TAboutBox(const AboutContent& content, const QIcon& icon);
};

}  // namespace ovlar
