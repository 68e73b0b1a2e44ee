#include "Application.h"
#include "MainFormUnit.h"
#include "MainWindow.h"
#include "QtToolkit.h"
#include "ScenarioRecorder.h"

#include <QApplication>

#include <exception>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("OrvelWebhookTester"));
    QtToolkit toolkit;
    try {
        TForm1 form(toolkit);
        ScenarioRecorder recorder(form);
        MainWindow window(form, toolkit);
        window.Start();
        QApplication::exec();
    } catch (...) {
        Application::HandleException(toolkit, std::current_exception());
    }
    return 0;
}
