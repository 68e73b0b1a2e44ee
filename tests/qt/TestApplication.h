#pragma once

#include <QApplication>
#include <QString>

// One QApplication for the whole test program, made when the first test needs it.
inline void EnsureApplication() {
    static int argc = 1;
    static char name[] = "qt_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) {
        // These tests never put a window on a real screen.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);
        QApplication::setApplicationName(QStringLiteral("OrvelWebhookTester"));
    }
}
