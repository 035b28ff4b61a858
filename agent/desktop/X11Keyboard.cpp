#include "agent/desktop/X11Keyboard.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <thread>
#include <unordered_set>

#include <xcb/xcb_keysyms.h>

namespace dovrel::agent {

namespace {

// Columns 0 and 1 are the first group's unshifted and shifted levels; the rest hold other groups and
// levels that need modifiers the injector does not press.
constexpr int kColumnsChecked = 8;

} // namespace

X11Keyboard::X11Keyboard(xcb_connection_t* connection) : connection_(connection) { reload(); }

X11Keyboard::~X11Keyboard() {
    const auto now = Clock::now();
    Clock::time_point lastUse{};
    for (const Spare& s : spares_)
        if (s.keysym != 0) lastUse = std::max(lastUse, s.lastUsed);
    if (lastUse + reuseAfter > now) std::this_thread::sleep_for(lastUse + reuseAfter - now);
    for (const Spare& s : spares_) {
        if (s.keysym == 0) continue;
        const std::array<xcb_keysym_t, 2> none{0, 0};
        xcb_change_keyboard_mapping(connection_, 1, s.keycode, 2, none.data());
    }
    // A round trip: the display has put the map back before the connection closes.
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    if (symbols_) xcb_key_symbols_free(symbols_);
}

void X11Keyboard::reload() {
    if (symbols_) xcb_key_symbols_free(symbols_);
    symbols_ = xcb_key_symbols_alloc(connection_);
    where_.clear();
    if (!symbols_ || xcb_connection_has_error(connection_)) return;

    const xcb_setup_t* setup = xcb_get_setup(connection_);
    const int first = setup->min_keycode, last = setup->max_keycode;
    for (int column = 0; column < 2; ++column) {
        for (int kc = first; kc <= last; ++kc) {
            const xcb_keysym_t ks = xcb_key_symbols_get_keysym(symbols_, static_cast<xcb_keycode_t>(kc), column);
            if (ks != XCB_NO_SYMBOL) where_.try_emplace(ks, Stroke{static_cast<xcb_keycode_t>(kc), column == 1});
        }
    }

    // Spares: keycodes with nothing in the map, and the ones this keyboard filled that still hold what
    // it gave them. A spare the user's new layout took over is given up.
    std::vector<Spare> spares;
    for (int kc = first; kc <= last; ++kc) {
        const auto code = static_cast<xcb_keycode_t>(kc);
        std::array<xcb_keysym_t, kColumnsChecked> row{};
        for (int c = 0; c < kColumnsChecked; ++c)
            row[c] = xcb_key_symbols_get_keysym(symbols_, code, c);
        const bool empty = std::all_of(row.begin(), row.end(), [](xcb_keysym_t k) { return k == XCB_NO_SYMBOL; });
        const Spare* known = spareFor(code);
        if (known && known->keysym != 0 && row[0] == known->keysym) {
            spares.push_back(*known);
        } else if (empty) {
            Spare s = known ? *known : Spare{};
            s.keycode = code;
            s.keysym = 0;
            spares.push_back(s);
        }
    }
    spares_ = std::move(spares);
}

std::optional<X11Keyboard::Stroke> X11Keyboard::find(uint32_t keysym) const {
    const auto it = where_.find(keysym);
    if (it == where_.end()) return std::nullopt;
    return it->second;
}

X11Keyboard::Spare* X11Keyboard::spareFor(xcb_keycode_t keycode) {
    for (Spare& s : spares_)
        if (s.keycode == keycode) return &s;
    return nullptr;
}

const X11Keyboard::Spare* X11Keyboard::spareFor(xcb_keycode_t keycode) const {
    for (const Spare& s : spares_)
        if (s.keycode == keycode) return &s;
    return nullptr;
}

bool X11Keyboard::isSpare(xcb_keycode_t keycode) const { return spareFor(keycode) != nullptr; }

void X11Keyboard::remap(Spare& spare, uint32_t keysym) {
    const auto now = Clock::now();
    if (spare.lastUsed + reuseAfter > now) std::this_thread::sleep_for(spare.lastUsed + reuseAfter - now);
    // The same keysym on both levels: Shift or Caps Lock held on the desktop does not change it.
    const std::array<xcb_keysym_t, 2> both{keysym, keysym};
    xcb_change_keyboard_mapping(connection_, 1, spare.keycode, 2, both.data());
    if (spare.keysym != 0) {
        const auto it = where_.find(spare.keysym);
        if (it != where_.end() && it->second.keycode == spare.keycode) where_.erase(it);
    }
    spare.keysym = keysym;
    spare.mappedAt = Clock::now();
    where_[keysym] = Stroke{spare.keycode, false};
}

void X11Keyboard::prepare(std::span<const uint32_t> upcoming) {
    // Spares whose keysym is needed again soon are kept; the others may be given new ones.
    std::unordered_set<xcb_keycode_t> keep;
    std::vector<uint32_t> wanted;
    std::unordered_set<uint32_t> seen;
    std::size_t busy = 0;
    for (const Spare& s : spares_)
        busy += s.holds > 0 ? 1 : 0;
    for (const uint32_t ks : upcoming) {
        if (keep.size() + busy + wanted.size() >= spares_.size()) break;
        if (const auto at = where_.find(ks); at != where_.end()) {
            if (const Spare* s = spareFor(at->second.keycode); s && s->holds == 0) keep.insert(s->keycode);
            continue;
        }
        if (seen.insert(ks).second) wanted.push_back(ks);
    }
    for (const uint32_t ks : wanted) {
        Spare* pick = pickSpare(keep);
        if (!pick) break;
        remap(*pick, ks);
        keep.insert(pick->keycode);
    }
    xcb_flush(connection_);
}

template <typename Keep> X11Keyboard::Spare* X11Keyboard::pickSpare(const Keep& keep) {
    Spare* pick = nullptr;
    for (Spare& s : spares_) {
        if (s.holds > 0 || keep.contains(s.keycode)) continue;
        if (!pick || (pick->keysym != 0 && s.keysym == 0) ||
            ((pick->keysym == 0) == (s.keysym == 0) && s.lastUsed < pick->lastUsed))
            pick = &s;
    }
    return pick;
}

std::optional<xcb_keycode_t> X11Keyboard::mapUnshifted(uint32_t keysym) {
    if (const auto s = find(keysym); s && !s->shift) return s->keycode;
    Spare* pick = pickSpare(std::unordered_set<xcb_keycode_t>{});
    if (!pick) return std::nullopt;
    remap(*pick, keysym);
    xcb_flush(connection_);
    return pick->keycode;
}

void X11Keyboard::beforePress(xcb_keycode_t keycode) {
    const Spare* s = spareFor(keycode);
    if (!s || s->keysym == 0) return;
    const auto visible = s->mappedAt + remapVisible;
    const auto now = Clock::now();
    if (visible > now) std::this_thread::sleep_for(visible - now);
}

void X11Keyboard::used(xcb_keycode_t keycode) {
    if (Spare* s = spareFor(keycode)) s->lastUsed = Clock::now();
}

void X11Keyboard::hold(xcb_keycode_t keycode, bool held) {
    if (Spare* s = spareFor(keycode)) s->holds = std::max(0, s->holds + (held ? 1 : -1));
}

} // namespace dovrel::agent
