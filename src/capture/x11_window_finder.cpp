#include "x11_window_finder.h"

#include <cstdlib>
#include <memory>
#include <vector>
#include <xcb/xcb.h>

namespace {

// xcb replies are malloc'ed.
template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> reply(T* raw)
{
    return Reply<T>(raw, &std::free);
}

// Empty when the server would not say; XCB_ATOM_NONE when no window manager
// ever ran on it.
std::optional<xcb_atom_t> wmStateAtom(xcb_connection_t* c)
{
    const char name[] = "WM_STATE";
    auto atom =
        reply(xcb_intern_atom_reply(c, xcb_intern_atom(c, true, sizeof name - 1, name), nullptr));
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

// Window managers put the client one or two levels inside the frame; without
// a window manager the top-level window is the client itself.
bool holdsClient(xcb_connection_t* c, xcb_window_t window, xcb_atom_t wmState, int depth)
{
    if (wmState == XCB_ATOM_NONE)
        return true;
    auto property = reply(xcb_get_property_reply(
        c, xcb_get_property(c, false, window, wmState, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
    if (property && property->type != XCB_ATOM_NONE)
        return true;
    if (depth == 0)
        return false;
    // A window that vanished meanwhile holds nothing.
    for (xcb_window_t child : children(c, window).value_or(std::vector<xcb_window_t>())) {
        if (holdsClient(c, child, wmState, depth - 1))
            return true;
    }
    return false;
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
    const std::optional<xcb_atom_t> wmState = wmStateAtom(c);
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
        if (!geometry || !holdsClient(c, window, *wmState, 3))
            continue;
        const int border = geometry->border_width;
        finder.m_frames.append(QRect(geometry->x, geometry->y, geometry->width + 2 * border,
                                     geometry->height + 2 * border));
    }
    return finder;
}

std::optional<QRect> X11WindowFinder::frameAt(QPoint rootPoint) const
{
    for (const QRect& frame : m_frames) {
        if (frame.contains(rootPoint))
            return frame;
    }
    return std::nullopt;
}
