#include "agent/core/SessionServices.h"

#include "protocol/ControlMessages.h"
#include "protocol/FileMessages.h"

namespace dovrel::agent {

void SessionServices::start() {
    clipboard_->start();
    clipFiles_->start();
}

void SessionServices::stop() {
    clipboard_->stop();
    clipFiles_->stop();
    fileRx_->cancelAll();
}

bool SessionServices::handle(wex::ControlType type, const wex::Bytes& payload) {
    using T = wex::ControlType;
    switch (type) {
    case T::clipboard: clipboard_->applyRemote(wex::Clipboard::decode(payload).text()); return true;
    case T::fileOffer: fileRx_->offer(wex::FileOffer::decode(payload)); return true;
    case T::fileChunk: fileRx_->chunk(wex::FileChunk::decode(payload)); return true;
    case T::fileEnd: {
        const auto end = wex::FileEnd::decode(payload);
        fileRx_->end(wex::FileEnd(end.reqId, end.transferId, end.ok != 0));
        return true;
    }
    case T::clipFilesOffer: {
        auto offer = wex::ClipFilesOffer::decode(payload);
        clipFiles_->onRemoteOffer(offer.generation, std::move(offer.files));
        return true;
    }
    case T::clipFilePull: {
        const auto pull = wex::ClipFilePull::decode(payload);
        clipFiles_->onPull(pull.generation, pull.index);
        return true;
    }
    case T::clipFileData: {
        auto data = wex::ClipFileData::decode(payload);
        clipFiles_->onData(data.generation, data.index, data.offset, std::move(data.data), data.isLast());
        return true;
    }
    default: return false;
    }
}

} // namespace dovrel::agent
