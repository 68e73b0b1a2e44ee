#include "Application.h"
#include "Exception.h"
#include "HeadlessToolkit.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

template <typename T> std::exception_ptr Thrown(T value) {
    try {
        throw value;
    } catch (...) {
        return std::current_exception();
    }
}

} // namespace

TEST(ApplicationTest, ExceptionMessageByKindOfThrownObject) {
    EXPECT_EQ("Please enter session details first.",
              Application::ExceptionMessage(Thrown(Exception("Please enter session details first."))));
    EXPECT_EQ("stoi", Application::ExceptionMessage(Thrown(std::invalid_argument("stoi"))));
    EXPECT_EQ("", Application::ExceptionMessage(Thrown(42)));
    EXPECT_EQ("", Application::ExceptionMessage(Thrown(std::string("not an exception class"))));
    EXPECT_EQ("", Application::ExceptionMessage(nullptr));
}

TEST(ApplicationTest, AFailingHandlerIsShownInAMessageBoxAndTheProgramGoesOn) {
    HeadlessToolkit toolkit;
    int after = 0;

    Application::Run(toolkit, [] { throw Exception("No Session Line selected."); });
    Application::Run(toolkit, [] { throw std::runtime_error("runtime"); });
    Application::Run(toolkit, [] { throw 3.5; });
    Application::Run(toolkit, [&] { ++after; });

    EXPECT_EQ((std::vector<std::string>{"No Session Line selected.", "runtime", ""}), toolkit.Messages());
    EXPECT_EQ(1, after);
}

TEST(ApplicationTest, HandleExceptionShowsTheMessage) {
    HeadlessToolkit toolkit;
    Application::HandleException(toolkit, Thrown(Exception("You are required to select an option.")));
    EXPECT_EQ((std::vector<std::string>{"You are required to select an option."}), toolkit.Messages());
}
