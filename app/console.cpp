#include "app/console.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace {

constexpr const char* VERSION = LUMEKO_VERSION;

// Terminal settings in force before the pause; restored by every way out.
struct termios savedTerminal;

// Signals that end the process while the terminal is switched to raw keys.
constexpr int RESTORING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int RESTORING_SIGNAL_COUNT = sizeof RESTORING_SIGNALS / sizeof RESTORING_SIGNALS[0];
struct sigaction savedActions[RESTORING_SIGNAL_COUNT];

void restoreTerminal() {
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
}

// Puts the terminal back, then lets the signal do what it would have done.
extern "C" void restoreTerminalAndReraise(int signalNumber) {
    restoreTerminal();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

void installRestoringHandlers() {
    struct sigaction action {};
    action.sa_handler = restoreTerminalAndReraise;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : RESTORING_SIGNALS)
        sigaddset(&action.sa_mask, signalNumber);
    for (int i = 0; i < RESTORING_SIGNAL_COUNT; i++) {
        sigaction(RESTORING_SIGNALS[i], &action, &savedActions[i]);
    }
}

void removeRestoringHandlers() {
    for (int i = 0; i < RESTORING_SIGNAL_COUNT; i++) {
        sigaction(RESTORING_SIGNALS[i], &savedActions[i], nullptr);
    }
}

// Reads single bytes until a space, end of input or a read error.
void discardUntilSpace() {
    for (;;) {
        char key;
        ssize_t count = read(STDIN_FILENO, &key, 1);
        if (count < 0 && errno == EINTR)
            continue;
        if (count != 1 || key == ' ')
            return;
    }
}

// Keys arrive one at a time and unechoed; the settings come back afterwards,
// also when a signal ends the process during the wait.
void waitForSpaceOnTerminal() {
    struct termios raw = savedTerminal;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    installRestoringHandlers();
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
        discardUntilSpace();
        restoreTerminal();
    } else {
        discardUntilSpace();
    }
    removeRestoringHandlers();
}

}  // namespace

void printUsage() {
    std::fprintf(stderr, "Lumeko ver.%s\n\n", VERSION);
    std::fprintf(
        stderr, "Usage: Lumeko <pattern_file> <pattern_width> <cam_no> <kind> <background_file>\n");
    std::fprintf(stderr, " cam_no 0:STD_CAMERA, 1:dolly#1, 2:dolly#2 ...\n");
    std::fprintf(stderr, " kind 'M':movie, 'I':image\n");
}

void waitForSpaceKey() {
    std::fputs("--- HIT SPACE KEY ---\n", stdout);
    std::fflush(stdout);
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &savedTerminal) == 0) {
        waitForSpaceOnTerminal();
    } else {
        discardUntilSpace();
    }
}

int reportFailure(const char* format, const char* name) {
    std::fprintf(stderr, format, name);
    waitForSpaceKey();
    return 1;
}
