#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <cstdio>

#include "started_window.h"

// Saves a picture of the window after start-up, optionally after pressing one of its buttons:
//   gui_screenshot FILE.png [BUTTON-NAME]
int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: gui_screenshot FILE.png [BUTTON-NAME]\n");
        return 2;
    }
    parlix::test::StartedWindow started;
    if (!started.start()) {
        std::fprintf(stderr, "start-up ended the program\n");
        return 1;
    }
    if (argc == 3) {
        auto* button = started.find<QPushButton>(argv[2]);
        if (button == nullptr) {
            std::fprintf(stderr, "the window has no button %s\n", argv[2]);
            return 2;
        }
        button->click();
    }
    QApplication::processEvents();
    if (!started.window->grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
