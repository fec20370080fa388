#include "daemon/signal_watch.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

namespace parlix {

namespace {

sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

SignalWatch::SignalWatch() {
    sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void SignalWatch::wait(int ms) {
    sigset_t set = watchedSignals();
    timespec timeout{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (true) {
        int sig = sigtimedwait(&set, nullptr, &timeout);
        if (sig < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // the time is up
        }
        if (sig == SIGHUP) {
            m_reload = true;
        } else if (!m_stop) {
            m_stop = true;
            // The stop is under way; a second stop signal takes its default action and ends the
            // program at once. Stop signals that came with the first one (SIGINT and SIGTERM
            // together, as a terminal and a service manager may send them) are that same stop:
            // they are taken first, so that only one sent later ends the program.
            sigset_t stops;
            sigemptyset(&stops);
            sigaddset(&stops, SIGTERM);
            sigaddset(&stops, SIGINT);
            const timespec now{0, 0};
            while (sigtimedwait(&stops, nullptr, &now) > 0) {
            }
            pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
        }
        timeout = {0, 0};
    }
}

bool SignalWatch::takeReload() {
    bool reload = m_reload;
    m_reload = false;
    return reload;
}

}  // namespace parlix
