#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QNetworkRequest>

#include "runtime/net/HostLookups.h"

class QObject;

namespace dovrel {

// Sends HTTP requests whose URL names a host without Qt looking the name up (HostLookups says why):
// `send` gets the request itself when its URL holds an address, at once; else, on `receiver`'s thread,
// the request addressed to the name's first address, or nothing when the name has none. Addressed, the
// URL carries the address while the Host header and the name the certificate must hold stay the host's;
// it goes over HTTP/1.1, as HTTP/2 would name the address as the authority. The lookup is returned for
// the caller to forget when it gives up first (and before `receiver` goes); null for an address.
std::shared_ptr<HostLookups::Lookup> addressRequest(HostLookups& lookups, QObject* receiver, QNetworkRequest request,
                                                    std::function<void(std::optional<QNetworkRequest>)> send);

} // namespace dovrel
