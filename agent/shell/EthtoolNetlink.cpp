#include "agent/shell/EthtoolNetlink.h"

#include <cerrno>
#include <cstring>
#include <linux/ethtool.h>
#include <linux/ethtool_netlink.h>
#include <linux/genetlink.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "agent/common/UniqueFd.h"

namespace dovrel::agent {

namespace {

constexpr std::size_t align4(std::size_t n) { return (n + 3) & ~std::size_t(3); }

// Builds one generic netlink request.
class Request {
public:
    Request(uint16_t family, uint8_t command, uint8_t version, uint32_t seq) {
        bytes_.resize(NLMSG_HDRLEN + GENL_HDRLEN);
        auto* nl = reinterpret_cast<nlmsghdr*>(bytes_.data());
        nl->nlmsg_type = family;
        nl->nlmsg_flags = NLM_F_REQUEST;
        nl->nlmsg_seq = seq;
        auto* genl = reinterpret_cast<genlmsghdr*>(bytes_.data() + NLMSG_HDRLEN);
        genl->cmd = command;
        genl->version = version;
    }
    void attribute(uint16_t type, const void* data, std::size_t len) {
        const std::size_t at = bytes_.size();
        bytes_.resize(at + align4(NLA_HDRLEN + len));
        nlattr a{static_cast<uint16_t>(NLA_HDRLEN + len), type};
        std::memcpy(bytes_.data() + at, &a, sizeof a);
        if (len) std::memcpy(bytes_.data() + at + NLA_HDRLEN, data, len);
    }
    std::size_t beginNest(uint16_t type) {
        const std::size_t at = bytes_.size();
        attribute(static_cast<uint16_t>(type | NLA_F_NESTED), nullptr, 0);
        return at;
    }
    void endNest(std::size_t at) {
        const auto len = static_cast<uint16_t>(bytes_.size() - at);
        std::memcpy(bytes_.data() + at, &len, sizeof len);
    }
    const std::vector<uint8_t>& finish() {
        reinterpret_cast<nlmsghdr*>(bytes_.data())->nlmsg_len = static_cast<uint32_t>(bytes_.size());
        return bytes_;
    }

private:
    std::vector<uint8_t> bytes_;
};

// Visits the attributes in [data, data + len); stops at the first malformed one.
template <typename Visit> void forEachAttribute(const uint8_t* data, std::size_t len, Visit visit) {
    std::size_t at = 0;
    while (at + NLA_HDRLEN <= len) {
        nlattr a{};
        std::memcpy(&a, data + at, sizeof a);
        if (a.nla_len < NLA_HDRLEN || at + a.nla_len > len) return;
        visit(static_cast<uint16_t>(a.nla_type & NLA_TYPE_MASK), data + at + NLA_HDRLEN,
              static_cast<std::size_t>(a.nla_len - NLA_HDRLEN));
        at += align4(a.nla_len);
    }
}

// Sends `request` and returns the attributes of the reply (after the generic header); nothing on an
// error answer or a reply that does not fit.
std::optional<std::vector<uint8_t>> exchange(int fd, const std::vector<uint8_t>& request, uint32_t seq,
                                             int* refused = nullptr) {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
        return std::nullopt;
    std::vector<uint8_t> buf(16384);
    for (;;) {
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        std::size_t at = 0;
        const auto len = static_cast<std::size_t>(n);
        while (at + NLMSG_HDRLEN <= len) {
            nlmsghdr h{};
            std::memcpy(&h, buf.data() + at, sizeof h);
            if (h.nlmsg_len < NLMSG_HDRLEN || at + h.nlmsg_len > len) return std::nullopt;
            if (h.nlmsg_seq == seq) {
                if (h.nlmsg_type == NLMSG_ERROR && refused && h.nlmsg_len >= NLMSG_HDRLEN + sizeof(int)) {
                    int code = 0;
                    std::memcpy(&code, buf.data() + at + NLMSG_HDRLEN, sizeof code);
                    *refused = -code;
                }
                if (h.nlmsg_type == NLMSG_ERROR || h.nlmsg_type == NLMSG_DONE) return std::nullopt;
                if (h.nlmsg_len < NLMSG_HDRLEN + GENL_HDRLEN) return std::nullopt;
                const uint8_t* body = buf.data() + at + NLMSG_HDRLEN + GENL_HDRLEN;
                return std::vector<uint8_t>(body, body + (h.nlmsg_len - NLMSG_HDRLEN - GENL_HDRLEN));
            }
            at += NLMSG_ALIGN(h.nlmsg_len);
        }
    }
}

} // namespace

std::optional<uint32_t> parseWakeModes(const std::vector<uint8_t>& attributes) {
    std::optional<uint32_t> modes;
    forEachAttribute(attributes.data(), attributes.size(), [&](uint16_t type, const uint8_t* data, std::size_t len) {
        if (type != ETHTOOL_A_WOL_MODES) return;
        forEachAttribute(data, len, [&](uint16_t inner, const uint8_t* value, std::size_t valueLen) {
            if (inner != ETHTOOL_A_BITSET_VALUE || valueLen < sizeof(uint32_t)) return;
            uint32_t word = 0;
            std::memcpy(&word, value, sizeof word);
            modes = word;
        });
    });
    return modes;
}

std::optional<bool> ethtoolWakeOnMagicPacket(const std::string& interface) {
    UniqueFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_GENERIC));
    if (!fd) return std::nullopt;
    timeval timeout{1, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    Request lookup(GENL_ID_CTRL, CTRL_CMD_GETFAMILY, 1, 1);
    lookup.attribute(CTRL_ATTR_FAMILY_NAME, ETHTOOL_GENL_NAME, sizeof ETHTOOL_GENL_NAME);
    const auto familyReply = exchange(fd.get(), lookup.finish(), 1);
    if (!familyReply) return std::nullopt;
    uint16_t family = 0;
    forEachAttribute(familyReply->data(), familyReply->size(),
                     [&](uint16_t type, const uint8_t* data, std::size_t len) {
                         if (type == CTRL_ATTR_FAMILY_ID && len >= sizeof family)
                             std::memcpy(&family, data, sizeof family);
                     });
    if (family == 0) return std::nullopt;

    Request get(family, ETHTOOL_MSG_WOL_GET, ETHTOOL_GENL_VERSION, 2);
    const std::size_t header = get.beginNest(ETHTOOL_A_WOL_HEADER);
    get.attribute(ETHTOOL_A_HEADER_DEV_NAME, interface.c_str(), interface.size() + 1);
    const uint32_t flags = ETHTOOL_FLAG_COMPACT_BITSETS;
    get.attribute(ETHTOOL_A_HEADER_FLAGS, &flags, sizeof flags);
    get.endNest(header);
    int refused = 0;
    const auto reply = exchange(fd.get(), get.finish(), 2, &refused);
    // A card without wake-on-LAN cannot wake the computer.
    if (!reply && refused == EOPNOTSUPP) return false;
    if (!reply) return std::nullopt;
    const auto modes = parseWakeModes(*reply);
    if (!modes) return std::nullopt;
    return (*modes & WAKE_MAGIC) != 0;
}

} // namespace dovrel::agent
