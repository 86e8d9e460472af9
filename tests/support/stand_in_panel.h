#pragma once

#include "file_panel.h"

#include <QList>
#include <QtTest>

// Stands in for a person at the open panels: every request waits until the
// test answers it, oldest first, with a path or with nothing (cancelled).
struct StandInPanel : FilePanel {
    QList<OpenRequest> requests;
    QList<Answer> pending;
    void chooseFileToOpen(const OpenRequest& request, Answer done) override
    {
        requests.append(request);
        pending.append(std::move(done));
    }
    void chooseSaveLocation(const SaveRequest&, Answer) override { QFAIL("no saving here"); }
    void answer(std::optional<QString> path) { pending.takeFirst()(std::move(path)); }
};
