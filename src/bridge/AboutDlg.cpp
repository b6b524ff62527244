#include "bridge/AboutDlg.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace ovlar {

void TAboutDlg::LoadIcon(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot open icon file " + path);
  icon_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void TAboutDlg::Execute() {
  desktop_.ShowAbout({Title, ProductName, CopyRight, Programmer, WebSite, icon_, Timer ? kCloseAfterMs : 0});
}

}  // namespace ovlar
