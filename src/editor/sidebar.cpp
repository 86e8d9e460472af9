#include "sidebar.h"

// Placeholder until the real controls land.
Sidebar::Sidebar(FilePanel& panel, QWidget* parent) : QWidget(parent), m_panel(panel)
{
    setFixedWidth(232);
}

Sidebar::~Sidebar() = default;

void Sidebar::setGradientPadding(double) {}
void Sidebar::setCornerRadius(double) {}
void Sidebar::setSelectedGradient(const GradientStyle&) {}
bool Sidebar::showColorPicker() const
{
    return false;
}
