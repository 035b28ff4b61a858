#include "TestController.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "protocol/ByteReader.h"
#include "protocol/ControlMessages.h"
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "protocol/Frame.h"
#include "protocol/RelayPreamble.h"
#include "protocol/WEXError.h"

namespace dovrel::test {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, left));
}

sockaddr_in loopback(const std::string& host, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, host.c_str(), &a.sin_addr);
    return a;
}

template <std::size_t N> wex::Bytes bytesOf(const wex::FixedBytes<N>& b) { return wex::Bytes(b.begin(), b.end()); }

// Waits until the socket is ready for what OpenSSL asked for; false on time-out.
bool waitFor(int fd, int sslError, int timeoutMs) {
    pollfd p{fd, static_cast<short>(sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

} // namespace

void TestController::SslFree::operator()(ssl_st* ssl) const { SSL_free(ssl); }
void TestController::SslCtxFree::operator()(ssl_ctx_st* ctx) const { SSL_CTX_free(ctx); }

TestController::TestController(wex::DeviceIdentity identity, std::string name, const std::string& videoHost)
    : identity_(std::move(identity)), name_(std::move(name)) {
    video_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    // Room for a keyframe's burst of pieces while the test is busy elsewhere.
    const int videoBuffer = 4 << 20;
    ::setsockopt(video_, SOL_SOCKET, SO_RCVBUF, &videoBuffer, sizeof videoBuffer);
    sockaddr_in a = loopback(videoHost, 0);
    ::bind(video_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(video_, reinterpret_cast<sockaddr*>(&a), &len);
    videoPort_ = ntohs(a.sin_port);
    input_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

TestController::~TestController() {
    close();
    if (video_ >= 0) ::close(video_);
    if (input_ >= 0) ::close(input_);
}

bool TestController::connect(uint16_t controlPort, uint16_t inputPort, const std::string& host) {
    close();
    host_ = host;
    inputPort_ = inputPort;
    tcp_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(tcp_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a = loopback(host, controlPort);
    if (::connect(tcp_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close();
        return false;
    }
    return true;
}

bool TestController::connectRelay(const RelayDial& dial) {
    // A write to a relay that has just closed must fail, not end the test process.
    std::signal(SIGPIPE, SIG_IGN);
    if (!connect(dial.port, 0, dial.host)) return false;
    sslCtx_.reset(SSL_CTX_new(TLS_client_method()));
    if (!sslCtx_ || SSL_CTX_load_verify_locations(sslCtx_.get(), dial.caFile.c_str(), nullptr) != 1) {
        close();
        return false;
    }
    SSL_CTX_set_verify(sslCtx_.get(), SSL_VERIFY_PEER, nullptr);
    ssl_.reset(SSL_new(sslCtx_.get()));
    SSL_set_fd(ssl_.get(), tcp_);
    in_addr probe{};
    if (::inet_pton(AF_INET, dial.host.c_str(), &probe) == 1) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_.get()), dial.host.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl_.get(), dial.host.c_str());
        SSL_set1_host(ssl_.get(), dial.host.c_str());
    }
    if (SSL_connect(ssl_.get()) != 1 || SSL_get_verify_result(ssl_.get()) != X509_V_OK) {
        close();
        return false;
    }
    // From here on reads wait in poll with a time-out; OpenSSL must never block inside a read (a session
    // ticket alone would make a blocking read wait for application data).
    ::fcntl(tcp_, F_SETFL, ::fcntl(tcp_, F_GETFL) | O_NONBLOCK);
    const wex::Bytes preamble =
        dial.account.empty()
            ? wex::RelayRegister::encode(wex::RelayRole::client, dial.room)
            : wex::RelayRegister::encodeV2(wex::RelayRole::client, dial.account, dial.room, dial.token, {});
    return writeAll(preamble);
}

void TestController::close() {
    if (ssl_) SSL_shutdown(ssl_.get()); // best effort: the close_notify, without waiting for the answer
    ssl_.reset();
    sslCtx_.reset();
    if (tcp_ >= 0) ::close(tcp_);
    tcp_ = -1;
    peerClosed_ = false;
    rx_.clear();
    handshake_.forgetEphemeralKey();
    handshake_.forgetAgreement();
    session_.reset();
    sessionId_ = 0;
    resetMedia();
}

void TestController::resetMedia() {
    partial_.clear();
    videoFrames_.clear();
    audioFrames_.clear();
    videoSeqs_.clear();
    audioSeqs_.clear();
    videoLost_ = 0;
}

bool TestController::writeAll(wex::ByteView bytes) {
    if (ssl_) return writeAllTls(bytes);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(tcp_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool TestController::writeAllTls(wex::ByteView bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const int n = SSL_write(ssl_.get(), bytes.data() + done, static_cast<int>(bytes.size() - done));
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        const int error = SSL_get_error(ssl_.get(), n);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) return false;
        if (!waitFor(tcp_, error, 5000)) return false;
    }
    return true;
}

bool TestController::fillTls(ms timeout) {
    if (SSL_pending(ssl_.get()) == 0) {
        pollfd p{tcp_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return true; // nothing yet
    }
    uint8_t buf[65536];
    const int n = SSL_read(ssl_.get(), buf, sizeof buf);
    if (n > 0) {
        rx_.append(wex::ByteView(buf, static_cast<std::size_t>(n)));
        return true;
    }
    const int error = SSL_get_error(ssl_.get(), n);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return true; // a record not yet whole
    peerClosed_ = true;
    return false;
}

bool TestController::sendRaw(wex::ByteView bytes) { return tcp_ >= 0 && writeAll(bytes); }

bool TestController::sendPlain(wex::ControlType type, wex::ByteView payload) {
    return sendRaw(wex::buildFrame(wex::Stream::control, static_cast<uint8_t>(type), 0, {}, payload));
}

wex::Bytes TestController::sealed(wex::ControlType type, wex::ByteView payload, wex::Stream stream) {
    if (!session_) return {};
    return session_->sealNext(stream, static_cast<uint8_t>(type), sessionId_, 0, payload);
}

bool TestController::sendSealed(wex::ControlType type, wex::ByteView payload, wex::Stream stream) {
    const wex::Bytes frame = sealed(type, payload, stream);
    return !frame.empty() && sendRaw(frame);
}

bool TestController::sendDatagram(wex::ByteView bytes) {
    sockaddr_in a = loopback(host_, inputPort_);
    return ::sendto(input_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
           static_cast<ssize_t>(bytes.size());
}

bool TestController::sendInput(const wex::InputBatch& batch) {
    if (!session_) return false;
    const wex::Bytes frame = session_->sealNext(wex::Stream::input, static_cast<uint8_t>(wex::InputMsgType::batch),
                                                sessionId_, 0, batch.encode());
    return viaRelay() ? sendRaw(frame) : sendDatagram(frame);
}

bool TestController::fill(ms timeout) {
    if (tcp_ < 0 || peerClosed_) return false;
    if (ssl_) return fillTls(timeout);
    pollfd p{tcp_, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(timeout.count()));
    if (r <= 0) return true; // nothing yet
    uint8_t buf[65536];
    const ssize_t n = ::recv(tcp_, buf, sizeof buf, 0);
    if (n <= 0) {
        peerClosed_ = true;
        return false;
    }
    rx_.append(wex::ByteView(buf, static_cast<std::size_t>(n)));
    return true;
}

std::optional<ReceivedFrame> TestController::takeFrame() {
    auto next = rx_.next();
    // The agent writes clean frames; anything the framer had to skip is a fault the test should see.
    if (rx_.skipped() != 0) throw std::runtime_error("the agent wrote bytes that begin no frame");
    if (!next) return std::nullopt;
    const wex::CommonHeader header = next->header;
    const wex::Bytes frame = std::move(next->bytes);
    ReceivedFrame out;
    out.header = header;
    out.sealed = header.flags.contains(wex::HeaderFlag::encryptedApp);
    if (out.sealed && session_) {
        auto opened = session_->openFrame(frame);
        if (!opened) throw std::runtime_error("a sealed frame from the agent did not open");
        out.payload = std::move(opened->plaintext);
        out.seq = opened->seq;
    } else {
        out.payload.assign(frame.begin() + wex::CommonHeader::size,
                           frame.begin() + wex::CommonHeader::size + header.length);
    }
    return out;
}

std::optional<ReceivedFrame> TestController::receive(ms timeout) {
    const auto until = Clock::now() + timeout;
    while (true) {
        if (auto f = takeFrame()) return f;
        const int left = remainingMs(until);
        if (left == 0 || !fill(ms(left))) return takeFrame();
    }
}

std::optional<ReceivedFrame> TestController::receiveType(wex::ControlType type, ms timeout) {
    const auto until = Clock::now() + timeout;
    while (true) {
        auto f = receive(ms(remainingMs(until)));
        if (!f) return std::nullopt;
        if (f->header.stream == wex::Stream::control && f->type() == type) return f;
    }
}

bool TestController::quietFor(ms window) {
    if (receive(window)) return false;
    return !peerClosed_;
}

bool TestController::closedByAgent(ms timeout) {
    const auto until = Clock::now() + timeout;
    while (!peerClosed_) {
        rx_.clear();
        const int left = remainingMs(until);
        if (left == 0) return false;
        fill(ms(left));
    }
    return true;
}

std::optional<wex::OpenedFrame> TestController::receiveVideo(ms timeout,
                                                             const std::function<bool(wex::ByteView)>& lost) {
    const auto until = Clock::now() + timeout;
    while (true) {
        pollfd p{video_, POLLIN, 0};
        if (::poll(&p, 1, remainingMs(until)) <= 0) return std::nullopt;
        uint8_t buf[65536];
        const ssize_t n = ::recv(video_, buf, sizeof buf, 0);
        if (n <= 0) return std::nullopt;
        // Datagrams of an earlier session may still be in flight: they do not open and are skipped.
        if (!session_) continue;
        const wex::ByteView datagram(buf, static_cast<std::size_t>(n));
        if (lost && lost(datagram)) continue;
        if (auto opened = session_->openFrame(datagram)) return opened;
    }
}

bool TestController::pumpMedia(Clock::time_point until, const std::function<bool()>& enough) {
    while (!enough()) {
        pollfd p{video_, POLLIN, 0};
        if (::poll(&p, 1, remainingMs(until)) <= 0) return enough();
        uint8_t buf[65536];
        const ssize_t n = ::recv(video_, buf, sizeof buf, 0);
        if (n <= 0) return enough();
        mediaDatagram(wex::ByteView(buf, static_cast<std::size_t>(n)));
    }
    return true;
}

void TestController::mediaDatagram(wex::ByteView datagram) {
    // Datagrams of an earlier session may still be in flight: they do not open and are skipped.
    if (!session_) return;
    auto opened = session_->openFrame(datagram);
    if (!opened) return;
    if (opened->header.stream == wex::Stream::audio) {
        audioSeqs_.push_back(opened->seq);
        audioFrames_.push_back({wex::AudioFrame::decode(opened->plaintext), opened->seq});
        return;
    }
    if (opened->header.stream != wex::Stream::video) return;
    videoSeqs_.push_back(opened->seq);
    const auto finish = [this](wex::ByteView payload, std::vector<uint32_t> seqs) {
        wex::VideoNALPayload decoded = wex::decodeVideoNALPayload(payload);
        videoFrames_.push_back({decoded.header, std::move(decoded.nals), std::move(seqs)});
    };
    if (!opened->header.flags.contains(wex::HeaderFlag::fragment)) {
        finish(opened->plaintext, {opened->seq});
        return;
    }
    wex::ByteReader r(opened->plaintext);
    const wex::FragmentHeader f = wex::FragmentHeader::decode(r);
    if (f.fragCount == 0 || f.fragIndex >= f.fragCount) throw std::runtime_error("a fragment header out of range");
    PartialFrame& frame = partial_[f.frameId];
    if (frame.pieces.empty()) frame.pieces.resize(f.fragCount);
    if (frame.pieces.size() != f.fragCount) throw std::runtime_error("fragments of one frame disagree on the count");
    auto& slot = frame.pieces[f.fragIndex];
    if (!slot) ++frame.have;
    slot = wex::Bytes(opened->plaintext.begin() + wex::FragmentHeader::size, opened->plaintext.end());
    frame.seqs.push_back(opened->seq);
    if (frame.have == frame.pieces.size()) {
        wex::Bytes whole;
        for (const auto& piece : frame.pieces)
            whole.insert(whole.end(), piece->begin(), piece->end());
        std::vector<uint32_t> seqs = std::move(frame.seqs);
        // Frames that began before this one and are still unfinished will not finish.
        for (auto it = partial_.begin(); it != partial_.end();) {
            if (it->first == f.frameId) {
                it = partial_.erase(it);
            } else if (static_cast<int32_t>(it->first - f.frameId) < 0) {
                ++videoLost_;
                it = partial_.erase(it);
            } else {
                ++it;
            }
        }
        finish(whole, std::move(seqs));
        return;
    }
    while (partial_.size() > 25) {
        ++videoLost_;
        partial_.erase(partial_.begin());
    }
}

std::optional<ReceivedVideoFrame> TestController::receiveVideoFrame(ms timeout) {
    pumpMedia(Clock::now() + timeout, [this] { return !videoFrames_.empty(); });
    if (videoFrames_.empty()) return std::nullopt;
    ReceivedVideoFrame f = std::move(videoFrames_.front());
    videoFrames_.pop_front();
    return f;
}

std::optional<ReceivedAudioFrame> TestController::receiveAudioFrame(ms timeout) {
    pumpMedia(Clock::now() + timeout, [this] { return !audioFrames_.empty(); });
    if (audioFrames_.empty()) return std::nullopt;
    ReceivedAudioFrame f = std::move(audioFrames_.front());
    audioFrames_.pop_front();
    return f;
}

void TestController::keepAlive() {
    if (!session_) return;
    sendSealed(wex::ControlType::ping, wex::Ping{pingId_++, 0}.encode());
}

std::optional<ReceivedFrame> TestController::receiveOnStream(wex::Stream stream, ms timeout) {
    const auto until = Clock::now() + timeout;
    while (true) {
        auto f = receive(ms(remainingMs(until)));
        if (!f) return std::nullopt;
        if (f->header.stream == stream) return f;
    }
}

wex::ControllerHandshakeMachine::Self TestController::self() const {
    // This controller's identifier is the start of its key.
    wex::FixedBytes<16> id{};
    std::copy_n(identity_.publicKey().begin(), id.size(), id.begin());
    return {identity_, id};
}

void TestController::sendHello(uint32_t capabilities, bool capabilitiesPresent, wex::AuthMode mode) {
    // A session in place stays until an AuthOk replaces it: a Hello inside a session must not end it.
    const wex::Hello hello = handshake_.hello(self(), name_, capabilities, capabilitiesPresent, mode);
    sendPlain(wex::ControlType::hello, hello.encode());
}

std::optional<wex::HelloAck> TestController::awaitHelloAck(ms timeout) {
    const auto frame = receiveType(wex::ControlType::helloAck, timeout);
    if (!frame || frame->sealed) return std::nullopt;
    const wex::HelloAck ack = wex::HelloAck::decode(frame->payload);
    // No room is named: a test may splice this controller to any agent.
    std::string agentId;
    if (handshake_.check(ack, self(), {}, agentId) != wex::ControllerHandshakeMachine::AckVerdict::accepted)
        return std::nullopt;
    agentStaticPub_ = bytesOf(ack.staticPub);
    return ack;
}

void TestController::sendAuthWithKey(uint16_t reqId) {
    if (const auto auth = handshake_.keyAuth(identity_, reqId)) sendPlain(wex::ControlType::auth, auth->encode());
}

void TestController::sendAuthWithCode(const std::string& code, uint16_t reqId) {
    if (const auto auth = handshake_.codeAuth(code, reqId)) sendPlain(wex::ControlType::auth, auth->encode());
}

std::optional<AuthResult> TestController::awaitAuthResult(ms timeout) {
    const auto until = Clock::now() + timeout;
    while (true) {
        auto frame = receive(ms(remainingMs(until)));
        if (!frame) return std::nullopt;
        if (frame->type() == wex::ControlType::authFail && !frame->sealed) {
            AuthResult r;
            r.fail = wex::AuthFail::decode(frame->payload);
            return r;
        }
        if (frame->type() == wex::ControlType::authOk && !frame->sealed) {
            AuthResult r;
            r.ok = wex::AuthOk::decode(frame->payload);
            r.agentProofValid = handshake_.check(*r.ok) == wex::ControllerHandshakeMachine::OkVerdict::established;
            if (r.agentProofValid) {
                session_ = handshake_.openSession();
                sessionId_ = r.ok->sessionId;
                resetMedia();
            }
            return r;
        }
    }
}

bool TestController::authenticateWithKey(uint32_t capabilities) {
    sendHello(capabilities, true, wex::AuthMode::keypair);
    if (!awaitHelloAck()) return false;
    sendAuthWithKey();
    const auto r = awaitAuthResult();
    return r && r->ok && r->agentProofValid;
}

bool TestController::authenticateWithCode(const std::string& code, uint32_t capabilities) {
    sendHello(capabilities, true, wex::AuthMode::psk);
    if (!awaitHelloAck()) return false;
    sendAuthWithCode(code);
    const auto r = awaitAuthResult();
    return r && r->ok && r->agentProofValid;
}

} // namespace dovrel::test
