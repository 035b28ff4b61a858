#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"
#include "protocol/Bytes.h"
#include "protocol/FlagSet.h"
#include "protocol/SessionCmd.h"

// The small control messages. Each is a value with the request identifier first; encode() writes the
// fields in order and decode() reads them back, failing only with WEXError::truncated. Enumeration
// bytes (command, format, code, statistics flags) are kept as received, known or not.
namespace wex {

// Control message 13: the controller's clock, echoed back in a Pong.
struct Ping {
    static constexpr std::size_t size = 10;
    uint16_t reqId = 0;
    uint64_t clientTsUs = 0;

    Bytes encode() const;
    static Ping decode(ByteView payload);
    bool operator==(const Ping&) const = default;
};

// Control message 14: the Ping's request identifier and clock, and the agent's clock when it answered.
struct Pong {
    static constexpr std::size_t size = 18;
    uint16_t reqId = 0;
    uint64_t clientTsUs = 0;
    uint64_t agentTsUs = 0;

    Bytes encode() const;
    static Pong decode(ByteView payload);
    bool operator==(const Pong&) const = default;
};

// Control message 9: stream this display.
struct StreamStart {
    static constexpr std::size_t size = 3;
    uint16_t reqId = 0;
    uint8_t displayId = 0;

    Bytes encode() const;
    static StreamStart decode(ByteView payload);
    bool operator==(const StreamStart&) const = default;
};

// Control message 12: send a keyframe of this display soon.
struct KeyframeRequest {
    static constexpr std::size_t size = 3;
    uint16_t reqId = 0;
    uint8_t displayId = 0;

    Bytes encode() const;
    static KeyframeRequest decode(ByteView payload);
    bool operator==(const KeyframeRequest&) const = default;
};

// Control message 23: a desktop command with a one-byte argument.
struct SessionCommand {
    static constexpr std::size_t size = 4;
    uint16_t reqId = 0;
    uint8_t cmd = 0; // a SessionCmd raw value, or whatever a peer sent
    uint8_t arg = 0;

    SessionCommand() = default;
    SessionCommand(uint16_t id, SessionCmd command, uint8_t argument)
        : reqId(id), cmd(static_cast<uint8_t>(command)), arg(argument) {}
    SessionCommand(uint16_t id, uint8_t rawCommand, uint8_t argument) : reqId(id), cmd(rawCommand), arg(argument) {}

    std::optional<SessionCmd> command() const { return sessionCmdFromRaw(cmd); }

    Bytes encode() const;
    static SessionCommand decode(ByteView payload);
    bool operator==(const SessionCommand&) const = default;
};

enum class CursorFlag : uint8_t { visible = 0x01, shapeIncluded = 0x02 };
using CursorFlags = FlagSet<CursorFlag>;

// Control message 22: where the cursor is and, optionally, its picture (4 bytes a pixel, row by row).
struct CursorMsg {
    static constexpr std::size_t fixedSize = 20;
    uint16_t reqId = 0;
    uint8_t displayId = 0;
    CursorFlags flags;
    int32_t x = 0;
    int32_t y = 0;
    uint16_t hotX = 0;
    uint16_t hotY = 0;
    uint16_t shapeW = 0;
    uint16_t shapeH = 0;
    Bytes shape; // shapeW x shapeH x 4 bytes when flags has shapeIncluded, else empty

    // Bytes of a shape of that size; up to 2^34, so always computed in 64 bits.
    static constexpr uint64_t shapeBytes(uint16_t w, uint16_t h) { return uint64_t{w} * h * 4; }

    // Appends `shape` whatever the flags say; the sender keeps the two consistent.
    Bytes encode() const;
    // Reads the shape only when the flags announce one.
    static CursorMsg decode(ByteView payload);
    bool operator==(const CursorMsg&) const = default;
};

enum class DisplayFlag : uint8_t { primary = 0x01, streaming = 0x02 };
using DisplayFlags = FlagSet<DisplayFlag>;

// One display of a DisplayList, 12 bytes plus its name.
struct DisplayInfo {
    uint8_t displayId = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    int16_t originX = 0;
    int16_t originY = 0;
    DisplayFlags flags;
    std::string name; // UTF-8; cut at a character boundary past 65535 bytes

    void encode(ByteWriter& w) const;
    static DisplayInfo decode(ByteReader& r);
    bool operator==(const DisplayInfo&) const = default;
};

// Control message 8: the agent's displays.
struct DisplayList {
    static constexpr std::size_t maxDisplays = 255;
    uint16_t reqId = 0;
    std::vector<DisplayInfo> displays;

    // A count byte cannot say more than 255, so only the first 255 displays are written.
    Bytes encode() const;
    static DisplayList decode(ByteView payload);
    bool operator==(const DisplayList&) const = default;
};

enum class ClipboardFormat : uint8_t { text = 1 };
std::optional<ClipboardFormat> clipboardFormatFromRaw(uint8_t raw);

// Control message 15: clipboard contents. Senders fit text with clipboardTextForWire first.
struct Clipboard {
    uint16_t reqId = 0;
    uint8_t format = static_cast<uint8_t>(ClipboardFormat::text);
    Bytes data; // UTF-8 text for the text format, kept as received

    Clipboard() = default;
    Clipboard(uint16_t id, uint8_t rawFormat, Bytes bytes) : reqId(id), format(rawFormat), data(std::move(bytes)) {}
    // Text format.
    Clipboard(uint16_t id, std::string_view utf8);

    // `data` as text, ill-formed UTF-8 repaired.
    std::string text() const;

    Bytes encode() const;
    static Clipboard decode(ByteView payload);
    bool operator==(const Clipboard&) const = default;
};

// Control message 27: the agent's load once a second.
struct DeckStat {
    static constexpr std::size_t size = 6;
    static constexpr uint8_t flagAwake = 0x01;
    static constexpr uint8_t flagFullControl = 0x02;
    static constexpr uint8_t flagSecureDesktop = 0x04;

    uint16_t reqId = 0;
    uint8_t cpu = 0;     // percent
    uint8_t ram = 0;     // percent in use
    int8_t battery = -1; // percent; -1 when not reported
    uint8_t flags = 0;

    bool awake() const { return flags & flagAwake; }
    bool fullControl() const { return flags & flagFullControl; }
    bool secureDesktop() const { return flags & flagSecureDesktop; }

    Bytes encode() const;
    static DeckStat decode(ByteView payload);
    bool operator==(const DeckStat&) const = default;
};

enum class ErrCode : uint8_t { unsupported = 1, disabled = 2, refused = 3, internalError = 4 };

// Control message 20: a request failed. Laid out like AuthFail: u16, u8, string.
struct ErrorMsg {
    uint16_t reqId = 0;
    uint8_t code = 0; // an ErrCode raw value, or whatever a peer sent
    std::string message;

    ErrorMsg() = default;
    ErrorMsg(uint16_t id, uint8_t rawCode, std::string text) : reqId(id), code(rawCode), message(std::move(text)) {}
    ErrorMsg(uint16_t id, ErrCode errCode, std::string text)
        : reqId(id), code(static_cast<uint8_t>(errCode)), message(std::move(text)) {}

    // The text to show a person: the message when there is one, else a sentence for the code.
    std::string humanReason() const;

    Bytes encode() const;
    static ErrorMsg decode(ByteView payload);
    bool operator==(const ErrorMsg&) const = default;
};

} // namespace wex
