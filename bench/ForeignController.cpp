#include "ForeignController.h"

#include <algorithm>
#include <memory>

#include "controller/client/video/PictureDecoder.h"
#include "protocol/AudioFrame.h"
#include "protocol/ByteReader.h"
#include "protocol/Cap.h"
#include "protocol/CommonHeader.h"
#include "protocol/ControlMessages.h"
#include "tests/support/TestController.h"

namespace dovrel::bench {

using namespace std::chrono_literals;

namespace {
// How long the receive loop waits for a datagram before it looks at the control connection and the tick.
constexpr auto mediaWait = std::chrono::milliseconds(5);
constexpr auto controlEvery = 10ms;
} // namespace

ForeignController::ForeignController(Options options, wex::DeviceIdentity identity)
    : options_(std::move(options)), identity_(std::move(identity)), random_(options_.seed) {
    std::promise<uint16_t> port;
    auto portReady = port.get_future();
    std::promise<std::string> began;
    began_ = began.get_future();
    net_ = std::thread([this, p = std::move(port), d = dial_.get_future(), b = std::move(began)]() mutable {
        run(std::move(p), std::move(d), std::move(b));
    });
    videoPort_ = portReady.get();
    decoder_ = std::thread([this] { decode(); });
}

ForeignController::~ForeignController() {
    stop_ = true;
    if (!dialed_) dial_.set_value({});
    net_.join();
    {
        const std::lock_guard g(lock_);
        jobsChanged_.notify_all();
    }
    decoder_.join();
}

bool ForeignController::begin(const std::string& host, uint16_t controlPort, std::string& why) {
    dialed_ = true;
    dial_.set_value({host, controlPort});
    why = began_.get();
    return why.empty();
}

ForeignLog ForeignController::log() const {
    std::unique_lock lk(lock_);
    jobsChanged_.wait_for(lk, 5s, [&] { return jobs_.empty() && !decoding_; });
    return log_;
}

void ForeignController::run(std::promise<uint16_t> port, std::future<Dial> dial, std::promise<std::string> began) {
    std::optional<test::TestController> c;
    try {
        options_.place->enter();
        c.emplace(identity_, "Foreign Controller", options_.ownAddress);
    } catch (const std::exception&) {
        port.set_value(0);
        began.set_value("cannot open the controller's sockets in " + options_.place->name());
        return;
    }
    port.set_value(c->videoPort());
    const Dial to = dial.get();
    if (to.port == 0) {
        began.set_value("not dialed");
        return;
    }
    if (!c->connect(to.port, 0, to.host)) {
        began.set_value("cannot reach the agent at " + to.host + ":" + std::to_string(to.port));
        return;
    }
    const uint32_t caps = wex::Cap::screenClient | (options_.asked == wex::VideoCodec::h264 ? wex::Cap::h264Only : 0);
    if (!c->authenticateWithKey(caps)) {
        began.set_value("the agent did not authenticate this controller");
        return;
    }
    sessionStart_ = Clock::now();
    // Its first sealed frame: the session's picture begins at a keyframe.
    asking_.asked(sessionStart_);
    askKeyframe(*c, sessionStart_);
    began.set_value({});
    try {
        receive(*c);
    } catch (const std::exception& e) {
        const std::lock_guard g(lock_);
        log_.failure = e.what();
    }
}

void ForeignController::receive(test::TestController& c) {
    auto nextTick = sessionStart_ + 1s;
    auto nextControl = Clock::now();
    while (!stop_) {
        const auto frame = c.receiveVideo(mediaWait, [this](wex::ByteView datagram) { return lostOnTheWay(datagram); });
        const auto now = Clock::now();
        if (frame) media(c, *frame, now);
        if (now >= nextControl) {
            // Pongs and the rest: read so the agent's sending never stalls, and otherwise left alone.
            while (c.receive(1ms)) {
            }
            nextControl = now + controlEvery;
        }
        if (now >= nextTick) {
            tick(c, now);
            nextTick += 1s;
        }
    }
}

bool ForeignController::lostOnTheWay(wex::ByteView datagram) {
    // Before it is opened, as the network loses it: a copy of a lost piece still opens.
    try {
        if (wex::CommonHeader::decode(datagram).stream != wex::Stream::video) return false;
    } catch (const std::exception&) {
        return false;
    }
    const std::lock_guard g(lock_);
    ++log_.videoDatagrams;
    if (options_.lossShare <= 0 || !std::bernoulli_distribution(options_.lossShare)(random_)) return false;
    ++log_.droppedHere;
    return true;
}

void ForeignController::media(test::TestController& c, const wex::OpenedFrame& frame, Clock::time_point now) {
    if (frame.header.stream == wex::Stream::audio) {
        try {
            const wex::AudioFrame audio = wex::AudioFrame::decode(frame.plaintext);
            const uint32_t perChannel = static_cast<uint32_t>(audio.pcm.size() / std::max<uint8_t>(audio.channels, 1));
            const std::lock_guard g(lock_);
            log_.sound.push_back({now, perChannel, audio.sampleRate, audio.channels});
        } catch (const std::exception&) {
        }
        return;
    }
    if (frame.header.stream != wex::Stream::video) return;
    std::optional<wex::FragmentHeader> piece;
    wex::ByteView slice = frame.plaintext;
    if (frame.header.flags.contains(wex::HeaderFlag::fragment)) {
        if (slice.size() < wex::FragmentHeader::size) return;
        wex::ByteReader r(slice);
        piece = wex::FragmentHeader::decode(r);
        slice = slice.subspan(wex::FragmentHeader::size);
    }
    auto bytes = reassembler_.add(piece, slice);
    if (!bytes) return;
    wex::VideoNALPayload payload;
    try {
        payload = wex::decodeVideoNALPayload(*bytes);
    } catch (const std::exception&) {
        return;
    }
    const uint32_t id = payload.header.frameId;
    if (asking_.payload(id, now)) askKeyframe(c, now);

    const auto codec =
        payload.header.nalFlags.contains(wex::NALFlag::codecH264) ? wex::VideoCodec::h264 : wex::VideoCodec::hevc;
    if (codec != codec_) {
        // Another codec: nothing shows before its own parameter sets.
        codec_ = codec;
        haveParameterSets_ = false;
        const std::lock_guard g(lock_);
        if (std::find(log_.codecs.begin(), log_.codecs.end(), codec) == log_.codecs.end()) log_.codecs.push_back(codec);
    }
    const wex::SortedUnits units = wex::sortUnits(codec, payload.nals);
    haveParameterSets_ = haveParameterSets_ || units.hasAllParameterSets(codec);
    // Nothing is shown before the first parameter sets, and a payload without a picture shows nothing.
    if (!haveParameterSets_ || units.picture.empty()) return;
    const bool intact = lastWholeId_ && id == *lastWholeId_ + 1;
    lastWholeId_ = id;
    ++displayed_;
    const std::lock_guard g(lock_);
    log_.whole.push_back({now, bytes->size()});
    jobs_.push_back({now, codec, std::move(payload), intact});
    jobsChanged_.notify_all();
}

void ForeignController::tick(test::TestController& c, Clock::time_point now) {
    c.sendSealed(wex::ControlType::ping, wex::Ping{0, 0}.encode());
    if (asking_.tick(displayed_, now)) askKeyframe(c, now);
}

void ForeignController::askKeyframe(test::TestController& c, Clock::time_point now) {
    c.sendSealed(wex::ControlType::keyframeRequest, wex::KeyframeRequest{1, 0}.encode());
    const std::lock_guard g(lock_);
    log_.keyframeAsks.push_back(now);
}

void ForeignController::decode() {
    std::unique_ptr<controller::PictureDecoder> decoder;
    // Every picture since the last keyframe came, or a refresh wave that began so has run its course.
    bool chain = false;
    bool waveIntact = false;
    static constexpr uint8_t startCode[] = {0, 0, 0, 1};
    for (;;) {
        DecodeJob job;
        {
            std::unique_lock lk(lock_);
            decoding_ = false;
            jobsChanged_.notify_all();
            jobsChanged_.wait(lk, [&] { return stop_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            decoding_ = true;
        }
        if (!decoder || decoder->codec() != job.codec) {
            decoder =
                std::make_unique<controller::PictureDecoder>(job.codec, controller::PictureDecoder::defaultThreads());
            chain = waveIntact = false;
        }
        const wex::SortedUnits units = wex::sortUnits(job.codec, job.payload.nals);
        const bool refresh = !units.randomAccess && units.hasAllParameterSets(job.codec) &&
                             job.payload.header.nalFlags.contains(wex::NALFlag::keyframe);
        if (units.randomAccess) {
            chain = true;
            waveIntact = false;
        } else if (refresh) {
            chain = (chain || waveIntact) && job.intact;
            waveIntact = job.intact;
        } else if (!job.intact) {
            chain = waveIntact = false;
        }
        wex::Bytes annexB;
        for (const auto& unit : job.payload.nals) {
            annexB.insert(annexB.end(), std::begin(startCode), std::end(startCode));
            annexB.insert(annexB.end(), unit.begin(), unit.end());
        }
        bool shown = false, concealed = false;
        const bool accepted = decoder->decode(annexB, job.payload.header.ptsUs, [&](const AVFrame&, bool c) {
            shown = true;
            concealed = concealed || c;
        });
        if (!accepted || concealed) {
            // Errors on an unbroken chain: the picture is damaged itself, and so are those after it.
            chain = waveIntact = false;
            continue;
        }
        if (shown && chain) {
            const std::lock_guard g(lock_);
            log_.clean.push_back(job.at);
        }
    }
}

} // namespace dovrel::bench
