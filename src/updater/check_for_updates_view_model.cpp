#include "check_for_updates_view_model.h"

#include "updater.h"

#include <QAction>

CheckForUpdatesViewModel::CheckForUpdatesViewModel(Updater& updater, QObject* parent)
    : QObject(parent), m_updater(updater)
{
    connect(&updater, &Updater::canCheckForUpdatesChanged, this,
            &CheckForUpdatesViewModel::setCanCheckForUpdates);
    setCanCheckForUpdates(updater.canCheckForUpdates());
}

void CheckForUpdatesViewModel::checkForUpdates()
{
    m_updater.checkForUpdates();
}

QAction* CheckForUpdatesViewModel::createAction(QObject* parent)
{
    auto* action = new QAction(title(), parent);
    action->setMenuRole(QAction::ApplicationSpecificRole);
    action->setEnabled(m_canCheckForUpdates);
    connect(this, &CheckForUpdatesViewModel::canCheckForUpdatesChanged, action,
            &QAction::setEnabled);
    connect(action, &QAction::triggered, this, &CheckForUpdatesViewModel::checkForUpdates);
    return action;
}

QString CheckForUpdatesViewModel::title()
{
    return tr("Check for Updates…");
}

void CheckForUpdatesViewModel::setCanCheckForUpdates(bool canCheck)
{
    if (m_canCheckForUpdates == canCheck)
        return;
    m_canCheckForUpdates = canCheck;
    Q_EMIT canCheckForUpdatesChanged(canCheck);
}
