// What the application does with an error that reached the event loop from
// a component: the desktop shows it, the default writes it to stderr.
#pragma once
#include <exception>
#include <functional>
#include <string>

namespace ovlar {

void SetApplicationExceptionHandler(std::function<void(const std::string& message)> handler);
void ShowApplicationException(const std::exception& e);

}  // namespace ovlar
