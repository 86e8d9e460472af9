#include "x11_window_finder.h"

#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>
#include <xcb/xcb.h>

namespace {

// xcb replies are malloc'ed.
template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> reply(T* raw)
{
    return Reply<T>(raw, &std::free);
}

// Empty when the server would not say; XCB_ATOM_NONE when no client ever
// named it on this server (no window manager for WM_STATE, no GTK window
// for _GTK_FRAME_EXTENTS).
std::optional<xcb_atom_t> existingAtom(xcb_connection_t* c, std::string_view name)
{
    auto atom = reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, true, uint16_t(name.size()), name.data()), nullptr));
    if (!atom)
        return std::nullopt;
    return atom->atom;
}

// Empty when the window is gone (or the server would not say).
std::optional<std::vector<xcb_window_t>> children(xcb_connection_t* c, xcb_window_t window)
{
    auto tree = reply(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
    if (!tree)
        return std::nullopt;
    const xcb_window_t* first = xcb_query_tree_children(tree.get());
    return std::vector<xcb_window_t>(first, first + xcb_query_tree_children_length(tree.get()));
}

// The application's own window: window managers put it one or two levels
// inside the frame; without a window manager it is the top-level window.
std::optional<xcb_window_t> clientIn(xcb_connection_t* c, xcb_window_t window, xcb_atom_t wmState,
                                     int depth)
{
    if (wmState == XCB_ATOM_NONE)
        return window;
    auto property = reply(xcb_get_property_reply(
        c, xcb_get_property(c, false, window, wmState, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
    if (property && property->type != XCB_ATOM_NONE)
        return window;
    if (depth == 0)
        return std::nullopt;
    // A window that vanished meanwhile holds nothing.
    for (xcb_window_t child : children(c, window).value_or(std::vector<xcb_window_t>())) {
        if (auto client = clientIn(c, child, wmState, depth - 1))
            return client;
    }
    return std::nullopt;
}

// A client-side-decorated window (GTK, libadwaita) draws its own shadow in a
// transparent margin inside its X window and names that margin in
// _GTK_FRAME_EXTENTS (left, right, top, bottom, in device pixels like the
// root). What the user sees as the window is the client less that margin.
// Empty for a window without the property, or with one that makes no sense.
std::optional<QRect> visibleClient(xcb_connection_t* c, xcb_window_t client, xcb_atom_t extentsAtom,
                                   xcb_window_t root)
{
    if (extentsAtom == XCB_ATOM_NONE)
        return std::nullopt;
    auto property = reply(xcb_get_property_reply(
        c, xcb_get_property(c, false, client, extentsAtom, XCB_ATOM_CARDINAL, 0, 4), nullptr));
    if (!property || property->format != 32 || xcb_get_property_value_length(property.get()) != 16)
        return std::nullopt;
    const auto* extents = static_cast<const uint32_t*>(xcb_get_property_value(property.get()));
    auto geometry = reply(xcb_get_geometry_reply(c, xcb_get_geometry(c, client), nullptr));
    auto origin = reply(xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, client, root, 0, 0), nullptr));
    if (!geometry || !origin)
        return std::nullopt;
    const QRect whole(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    // Extents as large as the window would leave nothing of it.
    if (uint64_t(extents[0]) + extents[1] >= uint64_t(whole.width()) ||
        uint64_t(extents[2]) + extents[3] >= uint64_t(whole.height()))
        return std::nullopt;
    return whole.adjusted(int(extents[0]), int(extents[2]), -int(extents[1]), -int(extents[3]));
}

} // namespace

Result<X11WindowFinder> X11WindowFinder::snapshot(xcb_connection_t* c,
                                                  const QList<quint32>& ignored)
{
    const auto unreadable = [] {
        return Result<X11WindowFinder>::failure(
            QStringLiteral("the X server would not list its windows"));
    };
    if (!c || xcb_connection_has_error(c))
        return unreadable();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const std::optional<xcb_atom_t> wmState = existingAtom(c, "WM_STATE");
    const xcb_atom_t extents = existingAtom(c, "_GTK_FRAME_EXTENTS").value_or(XCB_ATOM_NONE);
    if (!screen || !wmState)
        return unreadable();
    // query_tree lists bottom to top; we want the topmost first.
    const std::optional<std::vector<xcb_window_t>> topLevels = children(c, screen->root);
    if (!topLevels)
        return unreadable();

    X11WindowFinder finder;
    for (auto it = topLevels->rbegin(); it != topLevels->rend(); ++it) {
        const xcb_window_t window = *it;
        if (ignored.contains(window))
            continue;
        auto attributes = reply(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
        // A window closed since the listing has no attributes; it is simply gone.
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
            attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY)
            continue;
        auto geometry = reply(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
        const std::optional<xcb_window_t> client = clientIn(c, window, *wmState, 3);
        if (!geometry || !client)
            continue;
        if (auto visible = visibleClient(c, *client, extents, screen->root)) {
            finder.m_frames.append(*visible);
            finder.m_windows.append(window);
            continue;
        }
        const int border = geometry->border_width;
        finder.m_frames.append(QRect(geometry->x, geometry->y, geometry->width + 2 * border,
                                     geometry->height + 2 * border));
        finder.m_windows.append(window);
    }
    return finder;
}

std::optional<QRect> X11WindowFinder::frameAt(QPoint rootPoint) const
{
    if (const auto found = windowAt(rootPoint))
        return found->frame;
    return std::nullopt;
}

std::optional<X11WindowFinder::Found> X11WindowFinder::windowAt(QPoint rootPoint) const
{
    for (qsizetype i = 0; i < m_frames.size(); ++i) {
        if (m_frames[i].contains(rootPoint))
            return Found{m_frames[i], m_windows[i]};
    }
    return std::nullopt;
}
