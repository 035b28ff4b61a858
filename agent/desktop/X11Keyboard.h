#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include <xcb/xcb.h>

struct _XCBKeySymbols;

namespace dovrel::agent {

// The live keyboard map of an X display as the injector needs it: which keycode, with or without
// Shift, types a keysym; and spare keycodes (empty in the map) that are remapped to characters the
// map lacks. Used from one thread only.
//
// A remap is seen by other clients only after they fetch the new map, so a freshly remapped keycode is
// pressed no sooner than 20 ms later; and a keycode just pressed is not given another keysym for
// 100 ms, so that no client reads an earlier press through the newer map.
class X11Keyboard {
public:
    static constexpr std::chrono::milliseconds remapVisible{20};
    static constexpr std::chrono::milliseconds reuseAfter{100};

    struct Stroke {
        xcb_keycode_t keycode = 0;
        bool shift = false; // the keysym is on the shifted level
        bool operator==(const Stroke&) const = default;
    };

    explicit X11Keyboard(xcb_connection_t* connection);
    ~X11Keyboard(); // gives the spare keycodes back their empty entries
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    // Reads the map again (after a MappingNotify: the user changed the layout, or a remap landed).
    void reload();

    // Where `keysym` is on the map, the unshifted level preferred.
    std::optional<Stroke> find(uint32_t keysym) const;

    // Gives spare keycodes the keysyms in `upcoming` that the map lacks, in order, as many as there are
    // spares; keysyms that `upcoming` also needs keep their keycodes. Afterwards `find` knows them.
    void prepare(std::span<const uint32_t> upcoming);

    // A keycode with `keysym` on its unshifted level: the map's, or a spare one remapped to it even when
    // the map has the keysym with Shift. None when every spare keycode is held down.
    std::optional<xcb_keycode_t> mapUnshifted(uint32_t keysym);

    // Before pressing: waits until a just remapped keycode is visible to clients.
    void beforePress(xcb_keycode_t keycode);
    // After a press or release of a keycode: a spare one is then not reused for a while.
    void used(xcb_keycode_t keycode);
    // A spare keycode held down keeps its keysym until released.
    void hold(xcb_keycode_t keycode, bool held);

    std::size_t spareCount() const { return spares_.size(); }
    bool isSpare(xcb_keycode_t keycode) const;

private:
    using Clock = std::chrono::steady_clock;
    struct Spare {
        xcb_keycode_t keycode = 0;
        uint32_t keysym = 0; // 0 while empty
        Clock::time_point mappedAt{};
        Clock::time_point lastUsed{};
        int holds = 0;
    };

    Spare* spareFor(xcb_keycode_t keycode);
    const Spare* spareFor(xcb_keycode_t keycode) const;
    void remap(Spare& spare, uint32_t keysym);
    // The spare keycode to give a new keysym: an empty one, else the one pressed longest ago; none
    // when all are held down or in `keep`.
    template <typename Keep> Spare* pickSpare(const Keep& keep);

    xcb_connection_t* connection_;
    _XCBKeySymbols* symbols_ = nullptr;
    std::unordered_map<uint32_t, Stroke> where_;
    std::vector<Spare> spares_;
};

} // namespace dovrel::agent
