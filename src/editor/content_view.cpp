#include "content_view.h"

// Placeholder until the real view lands.
ContentView::ContentView(Screencapture& screencapture, ScreenRecorder& screenRecorder,
                         bool showVideoPlayer, FilePanel& panel, FileReveal& reveal,
                         QWidget* parent)
    : QWidget(parent), m_screencapture(screencapture), m_screenRecorder(screenRecorder),
      m_showVideoPlayer(showVideoPlayer), m_panel(panel), m_reveal(reveal)
{
}

ContentView::~ContentView() = default;

void ContentView::setSelectedGradient(const GradientStyle& style)
{
    m_selectedGradient = style;
    Q_EMIT selectedGradientChanged();
}

void ContentView::setGradientPadding(double points)
{
    m_gradientPadding = points;
    Q_EMIT gradientPaddingChanged();
}

void ContentView::setCornerRadius(double points)
{
    m_cornerRadius = points;
    Q_EMIT cornerRadiusChanged();
}
