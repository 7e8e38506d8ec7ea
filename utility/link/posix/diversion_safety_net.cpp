#include "diversion_safety_net.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "port_diversion.h"

namespace tessaly {
namespace {

int g_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void OnSignal(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = write(g_pipe[1], &number, 1);
    errno = saved;
}

extern "C" void RestoreAtExit() {
    RestoreAllDiversions();
}

void ServeSignals() {
    unsigned char number = 0;
    for (;;) {
        const ssize_t n = read(g_pipe[0], &number, 1);
        if (n == 1) break;
        if (n < 0 && errno == EINTR) continue;
        return;
    }
    RestoreAllDiversions();
    // End the process the way the signal would have.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(number, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, number);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    kill(getpid(), number);
    // A signal ignored meanwhile (or blocked elsewhere) must still end the process.
    _exit(128 + number);
}

}  // namespace

void InstallDiversionSafetyNet() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (pipe2(g_pipe, O_CLOEXEC) != 0) return;
        std::atexit(RestoreAtExit);
        std::thread(ServeSignals).detach();
        for (const int signal : kSignals) {
            struct sigaction previous {};
            sigaction(signal, nullptr, &previous);
            if (previous.sa_handler == SIG_IGN) continue;
            struct sigaction action {};
            action.sa_handler = OnSignal;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            sigaction(signal, &action, nullptr);
        }
    });
}

}  // namespace tessaly
