#include "agent/shell/ShowWindowChannel.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>

namespace dovrel::agent {

namespace {

constexpr char requestLine[] = "showWindow\n";
constexpr qint64 requestLength = sizeof requestLine - 1;

bool fillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

bool sendAll(int fd, const char* data, std::size_t len) {
    while (len > 0) {
        const ssize_t n = ::send(fd, data, len, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0) return false;
            continue;
        }
        if (n <= 0) return false;
        data += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::string showWindowSocketPath(const std::string& stateDirectory) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime && *runtime == '/' && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
        return std::string(runtime) + "/" + showWindowName;
    return stateDirectory + "/" + showWindowName;
}

bool requestShowWindow(const std::string& socketPath, std::chrono::milliseconds patience) {
    sockaddr_un address{};
    if (!fillAddress(socketPath, address)) return false;
    const auto until = std::chrono::steady_clock::now() + patience;
    for (;;) {
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!fd) return false;
        if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            return sendAll(fd.get(), requestLine, requestLength);
        // Nobody listening yet (no socket, a stale one, or a full queue): try again shortly.
        if (errno != ENOENT && errno != ECONNREFUSED && errno != EAGAIN && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

UniqueFd listenForShowWindow(const std::string& socketPath) {
    sockaddr_un address{};
    if (!fillAddress(socketPath, address)) return {};
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return {};
    // Only the copy that won the single-instance decision gets here, so a socket file already there is
    // a leftover (or belongs to a copy that is handing over): replace it.
    ::unlink(socketPath.c_str());
    const mode_t old = ::umask(0077);
    const int bound = ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::umask(old);
    if (bound != 0 || ::listen(fd.get(), 16) != 0) return {};
    return fd;
}

ShowWindowServer::ShowWindowServer(UniqueFd listening, QObject* parent)
    : QObject(parent), server_(std::make_unique<QLocalServer>()) {
    connect(server_.get(), &QLocalServer::newConnection, this, &ShowWindowServer::accept);
    // The server takes a descriptor of its own; ours closes when `listening` goes.
    if (listening) {
        const int own = ::fcntl(listening.get(), F_DUPFD_CLOEXEC, 0);
        if (own >= 0 && !server_->listen(static_cast<qintptr>(own))) ::close(own);
    }
}

ShowWindowServer::~ShowWindowServer() = default;

bool ShowWindowServer::listening() const { return server_->isListening(); }

void ShowWindowServer::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // One request line per connection; anything else is closed without a word.
        const auto take = [this, socket] {
            if (socket->bytesAvailable() < requestLength) return;
            const QByteArray line = socket->read(requestLength);
            if (line == QByteArray(requestLine, requestLength)) emit requested();
            socket->disconnectFromServer();
        };
        connect(socket, &QLocalSocket::readyRead, this, take);
        take();
    }
}

} // namespace dovrel::agent
