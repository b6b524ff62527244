// Whether a graphical display can be reached, decided without a GUI
// library: a GUI toolkit that fails to open its display ends the process.
#pragma once

namespace ovlar {

bool DisplayReachable();

}  // namespace ovlar
