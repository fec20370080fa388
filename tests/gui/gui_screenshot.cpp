#include <QPushButton>
#include <cstdio>

#include "started_window.h"

// Saves a picture of the window after start-up, after pressing one of its buttons if named:
//   gui_screenshot FILE.png [BUTTON-NAME]
int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    parlix::test::StartedWindow started;
    if (argc < 2 || argc > 3 || !started.start()) {
        std::fprintf(stderr, "usage: gui_screenshot FILE.png [BUTTON-NAME]; start-up must pass\n");
        return 2;
    }
    auto* button = argc == 3 ? started.find<QPushButton>(argv[2]) : nullptr;
    if (button != nullptr) {
        button->click();
        QApplication::processEvents();
    }
    if ((argc == 3 && button == nullptr) ||
        !started.window->grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "no such button, or %s cannot be written\n", argv[1]);
        return 1;
    }
    return 0;
}
