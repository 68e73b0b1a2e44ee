#pragma once

#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QString>
#include <QTemporaryFile>

// The screens of the offscreen platform: a large one that windows open on, and a laptop's
// 1280 x 800 beside it.
constexpr int kLaptopScreenHeight = 800;

inline QString OffscreenScreensConfig() {
    static QTemporaryFile file(QStringLiteral("qt_tests_screens_XXXXXX.json"));
    if (file.open()) {
        file.write(R"({"screens": [
            {"name": "desktop", "x": 0, "y": 0, "width": 1920, "height": 1200, "logicalDpi": 96},
            {"name": "laptop", "x": 1920, "y": 0, "width": 1280, "height": 800, "logicalDpi": 96}]})");
        file.close();
    }
    return file.fileName();
}

// One QApplication for the whole test program, made when the first test needs it.
inline void EnsureApplication() {
    static int argc = 1;
    static char name[] = "qt_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) {
        // These tests never put a window on a real screen.
        const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
        if (platform.isEmpty() || platform == QLatin1String("offscreen"))
            qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + OffscreenScreensConfig()).toLocal8Bit());
        new QApplication(argc, argv);
        QApplication::setApplicationName(QStringLiteral("OrvelWebhookTester"));
    }
}

// The screen of that name (nullptr when the platform has none such).
inline QScreen* ScreenNamed(const QString& name) {
    for (QScreen* screen : QApplication::screens())
        if (screen->name() == name)
            return screen;
    return nullptr;
}
