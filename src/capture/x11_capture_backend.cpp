#include "x11_capture_backend.h"

#include "capture_overlay.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <algorithm>

namespace {

const QString kOutOfMemory = QStringLiteral("not enough memory for the screen's picture");

xcb_connection_t* xcbConnection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// Drags shorter than this are clicks, which we ignore rather than capture a sliver.
bool isDrag(QPoint from, QPoint to)
{
    return from.x() != to.x() && from.y() != to.y();
}

QRect spanned(QPoint from, QPoint to)
{
    const QPoint topLeft(std::min(from.x(), to.x()), std::min(from.y(), to.y()));
    return {topLeft, QSize(std::abs(to.x() - from.x()), std::abs(to.y() - from.y()))};
}

} // namespace

X11CaptureBackend::X11CaptureBackend(QObject* parent) : CaptureBackend(parent) {}

X11CaptureBackend::~X11CaptureBackend()
{
    closeOverlays();
}

QString X11CaptureBackend::name() const
{
    return QStringLiteral("x11");
}

QList<ScreenshotTypes> X11CaptureBackend::supportedKinds() const
{
    if (!xcbConnection())
        return {ScreenshotTypes::full, ScreenshotTypes::area};
    return {ScreenshotTypes::full, ScreenshotTypes::window, ScreenshotTypes::area};
}

void X11CaptureBackend::capture(ScreenshotTypes kind)
{
    begin(kind, false);
}

void X11CaptureBackend::pick(ScreenshotTypes kind)
{
    begin(kind, true);
}

void X11CaptureBackend::begin(ScreenshotTypes kind, bool picking)
{
    if (m_state != State::idle) {
        QTimer::singleShot(
            0, this, [this] { Q_EMIT failed(QStringLiteral("a capture is already in progress")); });
        return;
    }
    m_state = State::capturing;
    m_picking = picking;
    // Answer from the event loop, never from inside capture().
    QTimer::singleShot(0, this, [this, kind] { start(kind); });
}

void X11CaptureBackend::start(ScreenshotTypes kind)
{
    if (!supportedKinds().contains(kind)) {
        finish([this] { Q_EMIT failed(QStringLiteral("window capture needs an X11 session")); });
        return;
    }
    if (const Result<void> frozen = freeze(); !frozen.ok()) {
        failWith(frozen.error());
        return;
    }
    if (kind == ScreenshotTypes::full && m_picking) {
        const QRect desktop = m_desktopRect;
        finish([this, desktop] { Q_EMIT picked(desktop, 0); });
        return;
    }
    if (kind == ScreenshotTypes::full) {
        qreal ratio = 1;
        for (const FrozenScreen& s : m_screens)
            ratio = std::max(ratio, s.picture.devicePixelRatio());
        answerWith(cut(m_desktopRect, ratio));
        return;
    }
    if (const Result<void> shown = showOverlays(kind); !shown.ok())
        failWith(shown.error());
}

void X11CaptureBackend::failWith(const QString& reason)
{
    finish([this, reason] { Q_EMIT failed(reason); });
}

// A cut only comes out null when memory ran out; say so rather than hang.
void X11CaptureBackend::answerWith(const QImage& picture)
{
    if (picture.isNull())
        failWith(kOutOfMemory);
    else
        finish([this, picture] { Q_EMIT captured(picture); });
}

// Grabs every screen before anything of ours is shown.
Result<void> X11CaptureBackend::freeze()
{
    m_screens.clear();
    m_desktopRect = {};
    for (QScreen* screen : QGuiApplication::screens()) {
        QPixmap picture = screen->grabWindow(0);
        if (picture.isNull())
            return Result<void>::failure(
                QStringLiteral("the screen %1 could not be read").arg(screen->name()));
        picture.setDevicePixelRatio(screen->devicePixelRatio());
        // Qt keeps a screen's top-left in device pixels and scales only its size.
        const QRect rootRect(screen->geometry().topLeft(), picture.size());
        m_desktopRect |= rootRect;
        m_screens.push_back({screen, picture, rootRect});
    }
    if (m_screens.empty())
        return Result<void>::failure(QStringLiteral("there is no screen to capture"));

    // Gaps between screens of a non-rectangular layout stay transparent.
    m_desktop = QImage(m_desktopRect.size(), QImage::Format_ARGB32_Premultiplied);
    if (m_desktop.isNull())
        return Result<void>::failure(kOutOfMemory);
    m_desktop.fill(Qt::transparent);
    QPainter painter(&m_desktop);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const FrozenScreen& s : m_screens) {
        QImage image = s.picture.toImage();
        image.setDevicePixelRatio(1);
        painter.drawImage(s.rootRect.topLeft() - m_desktopRect.topLeft(), image);
    }
    return {};
}

Result<void> X11CaptureBackend::showOverlays(ScreenshotTypes kind)
{
    QList<quint32> ours;
    for (const FrozenScreen& s : m_screens) {
        auto* overlay = new CaptureOverlay(s.screen, s.picture, kind);
        ours.append(quint32(overlay->winId()));
        connect(overlay, &CaptureOverlay::cancelRequested, this,
                [this] { finish([this] { Q_EMIT cancelled(); }); });
        connect(overlay, &CaptureOverlay::released, this,
                [this, kind](QPoint from, QPoint to) { onReleased(kind, from, to); });
        if (kind == ScreenshotTypes::area) {
            connect(overlay, &CaptureOverlay::dragged, this,
                    [this](QPoint from, QPoint to) { markAll(spanned(from, to)); });
        } else {
            connect(overlay, &CaptureOverlay::hovered, this,
                    [this](QPoint at) { markAll(m_windows.frameAt(at).value_or(QRect())); });
        }
        m_overlays.emplace_back(overlay);
    }
    // Taken while the overlays exist but are unmapped; they are skipped anyway.
    if (kind == ScreenshotTypes::window) {
        Result<X11WindowFinder> windows = X11WindowFinder::snapshot(xcbConnection(), ours);
        if (!windows.ok())
            return Result<void>::failure(windows.error());
        m_windows = std::move(windows).value();
    }
    for (const auto& overlay : m_overlays)
        overlay->present();
    return {};
}

void X11CaptureBackend::markAll(const QRect& rootRect)
{
    for (const auto& overlay : m_overlays) {
        if (overlay)
            overlay->setMarked(rootRect);
    }
}

void X11CaptureBackend::onReleased(ScreenshotTypes kind, QPoint from, QPoint to)
{
    QRect rootRect;
    quint32 window = 0;
    if (kind == ScreenshotTypes::area) {
        if (!isDrag(from, to)) {
            markAll({});
            return;
        }
        rootRect = spanned(from, to);
    } else {
        const auto found = m_windows.windowAt(to);
        if (!found)
            return; // a click on the bare desktop picks nothing; keep waiting
        rootRect = found->frame;
        window = found->window;
    }
    if (m_picking)
        finish([this, rootRect, window] { Q_EMIT picked(rootRect, window); });
    else
        answerWith(cut(rootRect, ratioAt(from)));
}

QImage X11CaptureBackend::cut(const QRect& rootRect, qreal ratio) const
{
    const QRect inside = rootRect & m_desktopRect;
    if (inside.isEmpty())
        return {};
    QImage picture = m_desktop.copy(inside.translated(-m_desktopRect.topLeft()));
    picture.setDevicePixelRatio(ratio);
    return picture;
}

qreal X11CaptureBackend::ratioAt(QPoint rootPoint) const
{
    for (const FrozenScreen& s : m_screens) {
        if (s.rootRect.contains(rootPoint))
            return s.picture.devicePixelRatio();
    }
    return m_screens.empty() ? 1.0 : m_screens.front().picture.devicePixelRatio();
}

void X11CaptureBackend::closeOverlays()
{
    for (const auto& overlay : m_overlays) {
        if (!overlay)
            continue;
        overlay->releaseKeyboard();
        overlay->hide();
        overlay->deleteLater();
    }
    m_overlays.clear();
}

// Closes everything first, then answers once, from the event loop.
void X11CaptureBackend::finish(std::function<void()> answer)
{
    if (m_state != State::capturing)
        return; // a second Esc or click after the first already decided
    m_state = State::answering;
    closeOverlays();
    m_screens.clear();
    m_desktop = {};
    m_windows = {};
    QTimer::singleShot(0, this, [this, answer = std::move(answer)] {
        m_state = State::idle;
        answer();
    });
}

std::unique_ptr<CaptureBackend> makeX11CaptureBackend()
{
    return std::make_unique<X11CaptureBackend>();
}
