#include "agent/media/X11Grabber.h"

#include <algorithm>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <utility>

#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include "agent/common/AgentError.h"
#include "agent/common/AgentLog.h"

namespace dovrel::agent {

namespace {

[[noreturn]] void fail(const std::string& text) { throw AgentError(AgentError::Kind::capture, text); }

const xcb_query_extension_reply_t* extension(xcb_connection_t* c, xcb_extension_t* ext) {
    const xcb_query_extension_reply_t* r = xcb_get_extension_data(c, ext);
    return r && r->present ? r : nullptr;
}

// How far from the captured area a pointer move can still show in it: the largest usual cursor.
constexpr int cursorReach = 64;

} // namespace

// One System V shared-memory segment the X server writes grabs into. The segment is marked for removal
// as soon as the server has attached it, so it cannot outlive both processes.
struct X11Grabber::ShmBuffer {
    std::shared_ptr<xcb::Connection> conn;
    uint32_t seg = 0;
    uint8_t* addr = nullptr;
    int width = 0;
    int height = 0;

    ShmBuffer(std::shared_ptr<xcb::Connection> connection, int w, int h)
        : conn(std::move(connection)), width(w), height(h) {
        const std::size_t size = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4;
        const int id = ::shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (id < 0) return;
        void* at = ::shmat(id, nullptr, 0);
        if (at == reinterpret_cast<void*>(-1)) {
            ::shmctl(id, IPC_RMID, nullptr);
            return;
        }
        addr = static_cast<uint8_t*>(at);
        const uint32_t s = xcb_generate_id(conn->get());
        xcb::Reply<xcb_generic_error_t> err(
            xcb_request_check(conn->get(), xcb_shm_attach_checked(conn->get(), s, static_cast<uint32_t>(id), 0)));
        ::shmctl(id, IPC_RMID, nullptr);
        if (!err) seg = s;
    }
    ~ShmBuffer() {
        if (seg) {
            xcb_shm_detach(conn->get(), seg);
            xcb_flush(conn->get());
        }
        if (addr) ::shmdt(addr);
    }
    ShmBuffer(const ShmBuffer&) = delete;
    ShmBuffer& operator=(const ShmBuffer&) = delete;
    bool usable() const { return seg != 0; }
};

X11Grabber::X11Grabber(const std::string& displayName) : conn_(std::make_shared<xcb::Connection>(displayName)) {
    xcb_connection_t* c = conn_->get();
    const xcb_setup_t* setup = xcb_get_setup(c);
    const uint8_t depth = conn_->screen()->root_depth;
    int bpp = 0;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == depth) bpp = it.data->bits_per_pixel;
    if (bpp != 32 || (depth != 24 && depth != 32) || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        fail("unsupported X pixel format (depth " + std::to_string(depth) + ", " + std::to_string(bpp) +
             " bits per pixel)");

    xcb_prefetch_extension_data(c, &xcb_shm_id);
    xcb_prefetch_extension_data(c, &xcb_xfixes_id);
    xcb_prefetch_extension_data(c, &xcb_damage_id);
    xcb_prefetch_extension_data(c, &xcb_randr_id);

    if (extension(c, &xcb_shm_id)) {
        xcb::Reply<xcb_shm_query_version_reply_t> v(xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
        shm_ = v != nullptr;
    }
    if (const auto* ext = extension(c, &xcb_xfixes_id)) {
        xcb::Reply<xcb_xfixes_query_version_reply_t> v(
            xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
        if (v && v->major_version >= 2) {
            xfixes_ = true;
            xfixesEventBase_ = ext->first_event;
            xcb_xfixes_select_cursor_input(c, conn_->root(), XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
        }
    }
    if (const auto* ext = extension(c, &xcb_damage_id)) {
        xcb::Reply<xcb_damage_query_version_reply_t> v(
            xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
        if (v) {
            damageEventBase_ = ext->first_event;
            damage_ = xcb_generate_id(c);
            xcb_damage_create(c, damage_, conn_->root(), XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
        }
    }
    if (const auto* ext = extension(c, &xcb_randr_id)) {
        xcb::Reply<xcb_randr_query_version_reply_t> v(
            xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
        randr15_ = v && (v->major_version > 1 || v->minor_version >= 5);
        if (v) {
            randrEventBase_ = ext->first_event;
            xcb_randr_select_input(c, conn_->root(), XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE);
        }
    }
    xcb_flush(c);
    failIfBroken();
}

X11Grabber::~X11Grabber() {
    buffers_.clear(); // frames still out keep their buffers (and the connection) alive on their own
    if (damage_ && !xcb_connection_has_error(conn_->get())) {
        xcb_damage_destroy(conn_->get(), damage_);
        xcb_flush(conn_->get());
    }
}

void X11Grabber::failIfBroken() {
    const std::string why = conn_->failure();
    if (!why.empty()) fail(why);
}

std::vector<MonitorInfo> X11Grabber::monitors() {
    xcb_connection_t* c = conn_->get();
    std::vector<MonitorInfo> out;
    if (randr15_) {
        xcb::Reply<xcb_randr_get_monitors_reply_t> r(
            xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, conn_->root(), 1), nullptr));
        if (r) {
            std::vector<xcb_get_atom_name_cookie_t> names;
            for (auto it = xcb_randr_get_monitors_monitors_iterator(r.get()); it.rem;
                 xcb_randr_monitor_info_next(&it)) {
                const xcb_randr_monitor_info_t* m = it.data;
                if (m->width == 0 || m->height == 0) continue;
                out.push_back({{}, m->x, m->y, m->width, m->height, m->primary != 0});
                names.push_back(xcb_get_atom_name(c, m->name));
            }
            for (std::size_t i = 0; i < names.size(); ++i) {
                xcb::Reply<xcb_get_atom_name_reply_t> n(xcb_get_atom_name_reply(c, names[i], nullptr));
                if (n)
                    out[i].name.assign(xcb_get_atom_name_name(n.get()),
                                       static_cast<std::size_t>(xcb_get_atom_name_name_length(n.get())));
            }
        }
    }
    failIfBroken();
    if (out.empty()) {
        const xcb_screen_t* s = conn_->screen();
        out.push_back({"screen", 0, 0, s->width_in_pixels, s->height_in_pixels, true});
    }
    return out;
}

void X11Grabber::select(const MonitorInfo& area) {
    if (area.width != area_.width || area.height != area_.height) buffers_.clear();
    area_ = area;
    dirty_ = true;
}

bool X11Grabber::changedSinceLastGrab() {
    xcb_connection_t* c = conn_->get();
    const xcb_query_pointer_cookie_t pointer = xcb_query_pointer(c, conn_->root());
    bool layoutChanged = false;
    while (xcb::Reply<xcb_generic_event_t> ev{xcb_poll_for_event(c)})
        layoutChanged = takeEvent(*ev) || layoutChanged;
    xcb::Reply<xcb_query_pointer_reply_t> p(xcb_query_pointer_reply(c, pointer, nullptr));
    failIfBroken();
    if (std::exchange(layoutPending_, false)) layoutChanged = true;
    if (layoutChanged) {
        // A monitor that moved or changed size needs a fresh capture (and encoder); one that stayed
        // as it was keeps going.
        const std::vector<MonitorInfo> now = monitors();
        const auto same = [&](const MonitorInfo& m) {
            return m.x == area_.x && m.y == area_.y && m.width == area_.width && m.height == area_.height;
        };
        if (std::none_of(now.begin(), now.end(), same)) fail("the display layout changed");
        dirty_ = true;
    }
    if (p && (p->root_x != pointerX_ || p->root_y != pointerY_)) {
        const auto near = [&](int x, int y) {
            return x >= area_.x - cursorReach && x < area_.x + area_.width + cursorReach &&
                   y >= area_.y - cursorReach && y < area_.y + area_.height + cursorReach;
        };
        if (near(p->root_x, p->root_y) || near(pointerX_, pointerY_)) dirty_ = true;
        pointerX_ = p->root_x;
        pointerY_ = p->root_y;
    }
    return dirty_ || !damage_;
}

bool X11Grabber::takeEvent(const xcb_generic_event_t& ev) {
    const uint8_t type = ev.response_type & 0x7F;
    if (damage_ && type == damageEventBase_ + XCB_DAMAGE_NOTIFY)
        dirty_ = true;
    else if (xfixes_ && type == xfixesEventBase_ + XCB_XFIXES_CURSOR_NOTIFY)
        dirty_ = true;
    else if (randrEventBase_ && type == randrEventBase_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY)
        return true;
    return false;
}

bool X11Grabber::changedInQueuedEvents() {
    bool layoutChanged = false;
    while (xcb::Reply<xcb_generic_event_t> ev{xcb_poll_for_queued_event(conn_->get())})
        layoutChanged = takeEvent(*ev) || layoutChanged;
    // A layout change is looked into by the next changedSinceLastGrab(), which also reads the monitors.
    if (layoutChanged) layoutPending_ = true;
    return dirty_ || layoutChanged || !damage_;
}

int X11Grabber::eventFd() const { return xcb_get_file_descriptor(conn_->get()); }

std::optional<CapturedFrame> X11Grabber::grab(Instant at) {
    if (area_.width <= 0 || area_.height <= 0) fail("no display found");
    failIfBroken();
    if (shm_) {
        if (auto frame = grabShared(at)) return frame;
        if (shm_) return std::nullopt; // every buffer is out
    }
    return grabCopied(at);
}

void X11Grabber::updateCursor(const xcb_xfixes_get_cursor_image_reply_t* cur) {
    if (!cur) return; // keep the last known picture
    cursor_.x = cur->x - cur->xhot;
    cursor_.y = cur->y - cur->yhot;
    cursor_.width = cur->width;
    cursor_.height = cur->height;
    cursor_.serial = cur->cursor_serial;
    const uint32_t* px = xcb_xfixes_get_cursor_image_cursor_image(cur);
    cursor_.argb.assign(px, px + xcb_xfixes_get_cursor_image_cursor_image_length(cur));
}

std::optional<CapturedFrame> X11Grabber::grabShared(Instant at) {
    xcb_connection_t* c = conn_->get();
    std::shared_ptr<ShmBuffer> buffer = buffers_.take(
        [&]() -> std::shared_ptr<ShmBuffer> { return std::make_shared<ShmBuffer>(conn_, area_.width, area_.height); });
    if (!buffer) return std::nullopt;
    if (!buffer->usable()) {
        // The server cannot reach our memory (a remote display, or segments used up): copy from now on.
        buffers_.clear();
        shm_ = false;
        print("⚠︎ X shared memory is not available — capturing through the socket, which is slower");
        return std::nullopt;
    }
    if (damage_) xcb_damage_subtract(c, damage_, XCB_NONE, XCB_NONE); // changes from here on mark the next grab
    const auto image = xcb_shm_get_image(c, conn_->root(), static_cast<int16_t>(area_.x), static_cast<int16_t>(area_.y),
                                         static_cast<uint16_t>(area_.width), static_cast<uint16_t>(area_.height), ~0u,
                                         XCB_IMAGE_FORMAT_Z_PIXMAP, buffer->seg, 0);
    const auto cursor = xfixes_ ? xcb_xfixes_get_cursor_image(c) : xcb_xfixes_get_cursor_image_cookie_t{0};
    xcb_generic_error_t* rawErr = nullptr;
    xcb::Reply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(c, image, &rawErr));
    xcb::Reply<xcb_generic_error_t> err(rawErr);
    xcb::Reply<xcb_xfixes_get_cursor_image_reply_t> cur(xfixes_ ? xcb_xfixes_get_cursor_image_reply(c, cursor, nullptr)
                                                                : nullptr);
    failIfBroken();
    if (!reply) fail("the X server refused the grab (error " + std::to_string(err ? err->error_code : 0) + ")");
    dirty_ = false;

    updateCursor(cur.get());
    const int stride = area_.width * 4;
    drawCursor(buffer->addr, stride, area_.width, area_.height, area_.x, area_.y, cursor_);

    CapturedFrame f;
    f.format = PixelFormat::bgra;
    f.width = area_.width;
    f.height = area_.height;
    f.planes[0] = buffer->addr;
    f.strides[0] = stride;
    f.capturedAt = at;
    f.owner = std::move(buffer);
    return f;
}

std::optional<CapturedFrame> X11Grabber::grabCopied(Instant at) {
    xcb_connection_t* c = conn_->get();
    if (damage_) xcb_damage_subtract(c, damage_, XCB_NONE, XCB_NONE);
    const auto image = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, conn_->root(), static_cast<int16_t>(area_.x),
                                     static_cast<int16_t>(area_.y), static_cast<uint16_t>(area_.width),
                                     static_cast<uint16_t>(area_.height), ~0u);
    const auto cursor = xfixes_ ? xcb_xfixes_get_cursor_image(c) : xcb_xfixes_get_cursor_image_cookie_t{0};
    xcb_generic_error_t* rawErr = nullptr;
    xcb_get_image_reply_t* raw = xcb_get_image_reply(c, image, &rawErr);
    xcb::Reply<xcb_generic_error_t> err(rawErr);
    xcb::Reply<xcb_xfixes_get_cursor_image_reply_t> cur(xfixes_ ? xcb_xfixes_get_cursor_image_reply(c, cursor, nullptr)
                                                                : nullptr);
    // The reply's own memory becomes the frame: no copy beyond the socket read.
    std::shared_ptr<xcb_get_image_reply_t> reply(raw, [](xcb_get_image_reply_t* r) { std::free(r); });
    failIfBroken();
    const int stride = area_.width * 4;
    if (!reply || xcb_get_image_data_length(reply.get()) < stride * area_.height)
        fail("the X server refused the grab (error " + std::to_string(err ? err->error_code : 0) + ")");
    dirty_ = false;
    updateCursor(cur.get());
    uint8_t* pixels = xcb_get_image_data(reply.get());
    drawCursor(pixels, stride, area_.width, area_.height, area_.x, area_.y, cursor_);

    CapturedFrame f;
    f.format = PixelFormat::bgra;
    f.width = area_.width;
    f.height = area_.height;
    f.planes[0] = pixels;
    f.strides[0] = stride;
    f.capturedAt = at;
    f.owner = std::move(reply);
    return f;
}

} // namespace dovrel::agent
