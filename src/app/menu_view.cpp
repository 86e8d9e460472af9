#include "menu_view.h"

#include "mac_utility_button_style.h"
#include "named_colors.h"
#include "panel_symbols.h"
#include "sidebar_look.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 240;
constexpr int kMargin = 10;
constexpr int kSpacing = 6;

// A frosted sheet standing in for the translucent material: the entries
// show through blurred, the notice reads clearly, and no click gets past.
class PermissionCover : public QWidget {
public:
    PermissionCover(QWidget* covered, QWidget* parent) : QWidget(parent), m_covered(covered)
    {
        auto* notice = new QLabel(MenuView::permissionNotice(), this);
        notice->setWordWrap(true);
        notice->setAlignment(Qt::AlignCenter);
        notice->setFont(sidebar_look::captionFont(notice->font()));
        notice->setForegroundRole(QPalette::WindowText);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
        layout->addWidget(notice, 0, Qt::AlignCenter);
    }

    // Takes a fresh picture of what lies underneath; the entries change
    // rarely, so once per showing is enough.
    void refreshBackdrop()
    {
        if (!isVisible() || size().isEmpty())
            return;
        // Shrinking and growing again with smoothing is a cheap, soft blur.
        const QImage under = m_covered->grab().toImage();
        const QSize small = (under.size() / 8).expandedTo(QSize(1, 1));
        m_backdrop = QPixmap::fromImage(
            under.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .scaled(under.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        m_backdrop.setDevicePixelRatio(under.devicePixelRatio());
        update();
    }

protected:
    void showEvent(QShowEvent*) override { refreshBackdrop(); }
    void resizeEvent(QResizeEvent*) override { refreshBackdrop(); }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        if (!m_backdrop.isNull())
            painter.drawPixmap(m_covered->mapTo(parentWidget(), QPoint(0, 0)), m_backdrop);
        QColor sheet = palette().color(QPalette::Window);
        sheet.setAlphaF(0.7f);
        painter.fillRect(rect(), sheet);
    }

private:
    QWidget* m_covered;
    QPixmap m_backdrop;
};

} // namespace

MenuView::MenuView(CaptureBackend& backend, FilePanel& filePanel, Services services,
                   QWidget* parent)
    : QWidget(parent), m_services(std::move(services)),
      m_flow({backend, filePanel, m_services.openEditor, m_services.checkMovie, {},
              m_services.checkAccess},
             OpenedFrom::trayPanel)
{
    if (!m_services.quit)
        m_services.quit = [] { QApplication::quit(); };

    setFixedWidth(kWidth);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    buildEntries();

    // Out of reach until the first answer, which comes within the event loop's
    // next turns; the cover only once an answer says no.
    m_cover = new PermissionCover(m_stack, this);
    m_cover->hide();
    m_stack->setEnabled(false);
    connect(&m_flow, &OpenFlow::permissionChanged, this, &MenuView::showAccess);
    connect(&screenRecorder(), &ScreenRecorder::isRecordingChanged, this, &MenuView::updateQuit);
    connect(&screenRecorder(), &ScreenRecorder::lastRecordingURLChanged, this,
            [this] { m_showVideoPlayer = true; });
}

MenuView::~MenuView() = default;

QString MenuView::permissionNotice()
{
    return tr("No Screen Recording Permission please grant persmission in system preferences");
}

QList<MacUtilityButton*> MenuView::entries() const
{
    return m_entries;
}

QWidget* MenuView::permissionCover() const
{
    return m_cover;
}

void MenuView::buildEntries()
{
    m_stack = new QWidget(this);
    auto* stack = new QVBoxLayout(m_stack);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(kSpacing);

    const auto add = [&](PanelSymbol symbol, const QString& text, auto action) {
        auto* entry = new MacUtilityButton(panelSymbol(symbol), text, m_stack);
        connect(entry, &QPushButton::clicked, this, action);
        stack->addWidget(entry);
        m_entries.append(entry);
        return entry;
    };
    add(PanelSymbol::window, tr("Capture Window"),
        [this] { captureScreenshot(ScreenshotTypes::window); });
    add(PanelSymbol::crop, tr("Capture Area"),
        [this] { captureScreenshot(ScreenshotTypes::area); });
    add(PanelSymbol::photo, tr("Beautify Image"), [this] { m_flow.chooseImage(); });
    add(PanelSymbol::film, tr("Beautify Recording"), [this] { m_flow.chooseMovie(); });
    m_separator = new QWidget(m_stack);
    m_separator->setFixedHeight(1);
    stack->addWidget(m_separator);
    m_quit = add(PanelSymbol::power, tr("Quit"), [this] {
        if (!screenRecorder().isRecording())
            m_services.quit();
    });
    m_quit->setLabelColor(named_colors::red());
    updateQuit();

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    outer->addWidget(m_stack);
}

void MenuView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_flow.refreshPermission();
}

void MenuView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_cover->setGeometry(rect());
}

void MenuView::paintEvent(QPaintEvent*)
{
    // The separator: a hairline in the text's colour, faint on either palette.
    QPainter painter(this);
    QColor line = palette().color(QPalette::WindowText);
    line.setAlphaF(0.18f);
    const QRect where(m_separator->mapTo(this, QPoint(0, 0)), m_separator->size());
    painter.fillRect(where, line);
}

void MenuView::showAccess(bool granted)
{
    m_cover->setVisible(!granted);
    m_cover->raise();
    // Under the cover the entries can be neither clicked nor reached with Tab.
    m_stack->setEnabled(granted);
}

void MenuView::captureScreenshot(ScreenshotTypes kind)
{
    // The panel is usually the active window: it must be off the screen
    // before the capture freezes it.
    if (QWidget* active = QApplication::activeWindow())
        active->hide();
    m_flow.startCapture(kind);
}

void MenuView::updateQuit()
{
    m_quit->setEnabled(!screenRecorder().isRecording());
}
