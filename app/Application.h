#pragma once

#include "Toolkit.h"

#include <exception>
#include <string>

namespace Application {

// The message the application's exception display shows for a thrown object: an Exception's or
// std::exception's message, an empty text for anything else.
std::string ExceptionMessage(std::exception_ptr error);

// The application's exception display: a modal message box with the exception's message.
void HandleException(Toolkit& toolkit, std::exception_ptr error);

// Runs a handler the way the window runs every user action: an exception that escapes it is
// shown by the exception display, and the program goes on.
template <typename F> void Run(Toolkit& toolkit, F&& handler) {
    try {
        handler();
    } catch (...) {
        HandleException(toolkit, std::current_exception());
    }
}

} // namespace Application
