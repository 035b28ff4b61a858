#pragma once

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dovrel::test {

// An X server of the test's own: Xvfb on a free display number (it picks one and reports it), stopped
// when the object goes. `available()` is false, with `reason()`, when the machine cannot run one.
class XvfbDisplay {
public:
    explicit XvfbDisplay(const std::string& screen = "1920x1080x24") {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            reason_ = "no pipe for Xvfb";
            return;
        }
        const char* geometry = screen.c_str();
        pid_ = ::fork();
        if (pid_ == 0) {
            // The child: the write end stays open across exec as descriptor 3. Only calls that are safe
            // after a fork of a threaded process until exec. The server goes with the test if the
            // test dies, instead of holding the test's output open.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (fds[1] == 3) ::fcntl(3, F_SETFD, 0); // dup2 onto itself would keep close-on-exec
            else ::dup2(fds[1], 3);
            ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", geometry, "-nolisten", "tcp", "-noreset",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        if (pid_ < 0) {
            ::close(fds[0]);
            reason_ = "cannot fork for Xvfb";
            return;
        }
        std::string number;
        pollfd pfd{fds[0], POLLIN, 0};
        while (number.find('\n') == std::string::npos && ::poll(&pfd, 1, 10000) > 0) {
            char buf[32];
            const ssize_t n = ::read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            number.append(buf, static_cast<std::size_t>(n));
        }
        ::close(fds[0]);
        if (number.find('\n') == std::string::npos) {
            stop();
            reason_ = "Xvfb did not start (is the xvfb package installed?)";
            return;
        }
        name_ = ":" + number.substr(0, number.find('\n'));
    }
    ~XvfbDisplay() { stop(); }
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    bool available() const { return !name_.empty(); }
    const std::string& reason() const { return reason_; }
    // ":N", for DISPLAY or xcb_connect.
    const std::string& name() const { return name_; }

private:
    void stop() {
        if (pid_ <= 0) return;
        // SIGTERM lets Xvfb remove its lock file and socket.
        ::kill(pid_, SIGTERM);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }

    pid_t pid_ = -1;
    std::string name_;
    std::string reason_;
};

} // namespace dovrel::test
