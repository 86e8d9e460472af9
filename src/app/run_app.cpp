#include "run_app.h"

#include "console.h"
#include "editor_module.h"
#include "exit_status.h"
#include "quorvel_app.h"
#include "quorvel_style.h"
#include "single_instance.h"

#include <QApplication>

void prepareApplication()
{
    QApplication::setApplicationDisplayName(QStringLiteral("Quorvel"));
    QApplication::setStyle(new QuorvelStyle);
}

int runApp(SingleInstance& instance, AppStart start,
           const std::function<QString(QuorvelApp&)>& first)
{
    int status = exitSuccess;
    {
        QuorvelApp quorvel;
        instance.serve(quorvel.instanceHandlers());
        if (start == AppStart::mainWindow)
            quorvel.show();
        else
            quorvel.showInBackground();
        if (first)
            if (const QString failure = first(quorvel); !failure.isEmpty()) {
                instance.stopServing();
                printErrorLine(oneLine(failure));
                return exitFailure;
            }
        status = QApplication::exec();
        instance.stopServing();
        // Closed editor windows delete themselves from the event loop, which
        // has stopped; the rest go before the app they were opened from.
        if (const EditorModule* editor = loadedEditorModule())
            editor->closeEditorWindows();
    }
    return status;
}
