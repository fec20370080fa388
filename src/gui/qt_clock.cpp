#include "gui/qt_clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace parlix {

DateTime QtClock::now() const {
    return m_system.now();
}

void QtClock::sleepMs(int ms) {
    if (ms <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace parlix
