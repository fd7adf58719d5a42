#pragma once
// Shared by the harnesses that paint with Qt (metafiles, SVG, thumbnails): Qt's application off
// screen, and the leak report without the caches that font look-ups keep.
#include <QGuiApplication>
#include <QLoggingCategory>
#include <cstdlib>

#include "fuzz/fuzz_common.h"

// Font look-ups keep caches inside fontconfig for the life of the process: not our leaks.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libfreetype.so\nleak:libQt6Gui.so\n";
}

namespace fuzz {

// Sets the run's pixel limit and starts Qt's painting off screen. The application lives until
// the process ends: destroying it from an exit handler, after Qt's own clean-up, would crash.
inline void StartPainting(int* argc, char*** argv) {
    LimitPixels();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QGuiApplication* app = new QGuiApplication(*argc, *argv);
    (void)app;
    // Qt Svg's notes about features it leaves out are not failures.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.svg*=false"));
}

}  // namespace fuzz
