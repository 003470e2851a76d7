#include "common/SignalWatcher.h"

#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace velmar {

namespace {

int pipeFds[2] = {-1, -1};

constexpr int kStop[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kTold[] = {SIGUSR1, SIGUSR2, SIGQUIT, SIGALRM};
constexpr int kIgnored[] = {SIGPIPE, SIGTTOU, SIGTTIN, SIGXFSZ};
constexpr int kFatal[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// The files a crash removes, kept as plain bytes for the signal handler.
constexpr int kMaxCrashFiles = 4;
constexpr std::size_t kMaxPath = 4096;
char crashFiles[kMaxCrashFiles][kMaxPath] = {};

// Only async-signal-safe work here: one byte down the pipe.
void onSignal(int number) {
    const char b = static_cast<char>(number);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &b, 1);
}

// unlink() is async-signal-safe; the handler was reset, so raising the
// signal again ends the program as the fault would have.
void onFatal(int number) {
    for (char* path : crashFiles) {
        if (path[0] != '\0') {
            ::unlink(path);
        }
    }
    ::raise(number);
}

} // namespace

void SignalWatcher::removeOnCrash(const QStringList& paths) {
    for (int i = 0; i < kMaxCrashFiles; ++i) {
        const QByteArray path = i < paths.size() ? QFile::encodeName(paths.at(i)) : QByteArray();
        if (static_cast<std::size_t>(path.size()) >= kMaxPath) {
            crashFiles[i][0] = '\0';
            continue;
        }
        std::memcpy(crashFiles[i], path.constData(), static_cast<std::size_t>(path.size()) + 1);
    }
}

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
    for (int number : kStop) {
        sigaction(number, &sa, nullptr);
    }
    for (int number : kTold) {
        sigaction(number, &sa, nullptr);
    }
    for (int number : kIgnored) {
        std::signal(number, SIG_IGN);
    }
    struct sigaction fatal {};
    fatal.sa_handler = onFatal;
    sigemptyset(&fatal.sa_mask);
    fatal.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (int number : kFatal) {
        sigaction(number, &fatal, nullptr);
    }
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char b = 0;
        while (::read(pipeFds[0], &b, 1) == 1) {
            const int number = static_cast<unsigned char>(b);
            if (std::find(std::begin(kTold), std::end(kTold), number) != std::end(kTold)) {
                emit ignoredSignal(number);
            } else {
                emit stopRequested(number);
            }
        }
    });
}

SignalWatcher::~SignalWatcher() {
    for (int number : kStop) {
        std::signal(number, SIG_DFL);
    }
    for (int number : kTold) {
        std::signal(number, SIG_IGN); // still nothing ends the program while it ends
    }
    for (int number : kFatal) {
        std::signal(number, SIG_DFL);
    }
    delete notifier_;
    for (int& fd : pipeFds) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

} // namespace velmar
