#include "app/QuorvelApp.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/QuorvelView.h"
#include "engine/Logging.h"
#include "kit/QVStyle.h"

namespace quorvel {

namespace {

bool envSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

namespace QuorvelApp {

bool hasDisplay() { return envSet("QT_QPA_PLATFORM") || envSet("DISPLAY") || envSet("WAYLAND_DISPLAY"); }

int run(int argc, char** argv) {
    if (!hasDisplay()) {
        std::fputs(
            "Quorvel opens a window, and this machine has no display to show it on "
            "(neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
            "To run it without a screen, start it under a virtual X server:\n"
            "    xvfb-run -a scripts/run\n",
            stderr);
        return 1;
    }
    // Only the program name reaches Qt: the application takes no options of its own or of the toolkit.
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationName(QStringLiteral("Quorvel"));
    QVStyle::apply();
    Logging::install();

    QuorvelView view;
    view.resize(QuorvelView::kDefaultWidth, QuorvelView::kDefaultHeight);
    view.show();
    return app.exec();
}

}  // namespace QuorvelApp

}  // namespace quorvel
