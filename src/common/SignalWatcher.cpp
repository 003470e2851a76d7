#include "common/SignalWatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace velmar {

namespace {

int pipeFds[2] = {-1, -1};

// Only async-signal-safe work here: one byte down the pipe.
void onSignal(int number) {
    const char b = static_cast<char>(number);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &b, 1);
}

} // namespace

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
    if (::pipe(pipeFds) != 0) {
        return;
    }
    fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    m_notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char b = 0;
        if (::read(pipeFds[0], &b, 1) == 1) {
            emit stopRequested(b);
        }
    });
}

SignalWatcher::~SignalWatcher() {
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    delete m_notifier;
    for (int& fd : pipeFds) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

} // namespace velmar
