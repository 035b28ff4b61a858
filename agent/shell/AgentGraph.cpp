#include "agent/shell/AgentGraph.h"

#include "agent/accounts/AgentAccounts.h"
#include "agent/desktop/DownloadsFileReceiver.h"
#include "agent/desktop/GnomeClipboardSync.h"
#include "agent/desktop/GnomeInputDevice.h"
#include "agent/desktop/LinuxPowerAssertions.h"
#include "agent/desktop/QtClipFiles.h"
#include "agent/desktop/QtClipboardSync.h"
#include "agent/desktop/StandInServices.h"
#include "agent/desktop/X11InputDevice.h"
#include "agent/media/CapturePipeline.h"
#include "agent/media/GnomeScreenCapturer.h"
#include "agent/media/UnavailableScreenCapturer.h"
#include "agent/net/LinuxWakeEmitter.h"
#include "agent/net/PrimaryInterface.h"
#include "agent/net/RegionPicker.h"
#include "agent/net/ServiceAdvertiser.h"

namespace dovrel::agent {

AgentGraph::AgentGraph(AgentGraphOptions options) {
    AgentServices services;
    TransportOptions transport;
    transport.ports = options.ports;
    transport.listenAddress = options.listenAddress;
    transport.advertiser = makeAvahiAdvertiser();
    transport.relayConfigPath = RelayConfig::pathIn(options.settings.configDirectory);
    services.transport = std::make_unique<Transport>(std::move(transport));
    services.regions = makeRegionPicker();
    services.localAddress = makeSystemLocalAddress();
    services.desktop = makeLinuxDesktopSession();
    CapturePipeline::Options pipeline;
    const std::string unsupported = options.backend.desktopName + " is not supported yet";
    switch (options.backend.kind) {
    case DesktopKind::x11:
        services.injector = makeX11InputInjector(services.desktop);
        services.clipboard = [](ClipboardSync::SendText send) {
            return std::make_unique<QtClipboardSync>(std::move(send));
        };
        break;
    case DesktopKind::gnomeWayland:
        services.injector = makeGnomeInputInjector(options.gnome, services.desktop);
        services.clipboard = [gnome = options.gnome](ClipboardSync::SendText send) {
            return std::make_unique<GnomeClipboardSync>(std::move(send), gnome);
        };
        pipeline.makeCapturer = [gnome = options.gnome](ScreenCapturer::FrameCallback onFrame) {
            return std::make_shared<GnomeScreenCapturer>(std::move(onFrame), gnome);
        };
        break;
    case DesktopKind::unsupportedWayland:
        services.injector = makeStandInInputInjector(unsupported);
        services.clipboard = [unsupported](ClipboardSync::SendText) { return makeStandInClipboard(unsupported); };
        pipeline.makeCapturer = [unsupported](ScreenCapturer::FrameCallback) {
            return std::make_shared<UnavailableScreenCapturer>(unsupported);
        };
        break;
    case DesktopKind::none:
        services.injector = makeStandInInputInjector();
        services.clipboard = [](ClipboardSync::SendText) { return makeStandInClipboard(); };
        break;
    }
    if (options.haveDisplay) {
        services.clipFiles = [this](std::shared_ptr<ControllerLink> link) {
            clipFilesLink_ = link;
            return std::make_unique<QtClipFiles>(std::move(link));
        };
    } else {
        services.clipFiles = [this](std::shared_ptr<ControllerLink> link) {
            clipFilesLink_ = std::move(link);
            return makeStandInClipFiles();
        };
    }
    services.fileRx = [](FileReceiver::Progress progress, FileReceiver::Refusal refusal) {
        return std::make_unique<DownloadsFileReceiver>(std::move(progress), std::move(refusal));
    };
    services.accounts = [](AccountHost& host, RelayConfig& config) {
        return std::make_unique<AgentAccounts>(host, config);
    };
    services.wakeEmitter = makeLinuxWakeEmitter();
    // Picture and sound (the synthetic pattern under DOVREL_SYNTHETIC), rest mode, and what keeps the
    // machine and its display awake.
    auto power = std::make_shared<LinuxPowerAssertions>();
    services.power = power;
    pipeline.power = power;
    services.pipeline = std::make_unique<CapturePipeline>(std::move(pipeline));

    agent_ = std::make_unique<Agent>(std::move(services), std::move(options.settings));
    sampler_ = std::make_shared<LinuxSampler>(options.backend.kind, options.gnome);
    model_ = std::make_unique<AppModel>(*agent_, sampler_);
    presenter_ = std::make_unique<AgentPresenter>(*model_, realScheduler());
}

AgentGraph::~AgentGraph() { stopAgent(); }

void AgentGraph::run() { agent_->run(*presenter_); }

void AgentGraph::stopAgent() { agent_.reset(); }

} // namespace dovrel::agent
