#include "display/DisplayProfile.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "imaging/ColorProfile.h"

std::vector<uint8_t> ReadDisplayProfile() {
    auto* x11 = qGuiApp == nullptr ? nullptr
                                   : qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 == nullptr ? nullptr : x11->connection();
    if (connection == nullptr) return {};
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (screen == nullptr) return {};
    static constexpr char kName[] = "_ICC_PROFILE";
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection,
                              xcb_intern_atom(connection, 1, uint16_t(std::strlen(kName)), kName),
                              nullptr),
        &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE) return {};
    // The length is counted in 32-bit units; a larger property is not read at all.
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(
            connection,
            xcb_get_property(connection, 0, screen->root, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0,
                             uint32_t(kMaxIccProfileBytes / 4)),
            nullptr),
        &std::free);
    if (!reply || reply->format != 8 || reply->bytes_after != 0) return {};
    const int length = xcb_get_property_value_length(reply.get());
    if (length <= 0) return {};
    const auto* data = static_cast<const uint8_t*>(xcb_get_property_value(reply.get()));
    return {data, data + length};
}
