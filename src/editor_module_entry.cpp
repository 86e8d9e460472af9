// The one way into libquorvel-editor.so: the program loads it with
// loadEditorModule() when it first needs an editor window or a command.

#include "editor_module.h"
#include "editor_window.h"
#include "editor_window_opener.h"
#include "ffmpeg_media_backend.h"
#include "movie_check.h"
#include "open_command.h"
#include "record_command.h"
#include "video_command.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

void openEditor(const EditorRequest& request)
{
    openEditorWindow(request);
}

void closeEditorWindows()
{
    const QList<EditorWindow*> left = editorWindows();
    qDeleteAll(left);
}

EditorModule makeModule()
{
    // libav talks on standard error about odd files; each file gets our own
    // one line instead, unless QUORVEL_DEBUG asks for everything.
    if (qEnvironmentVariableIsEmpty("QUORVEL_DEBUG"))
        av_log_set_level(AV_LOG_QUIET);
    // Before the first media object: Qt reads the backend's name once.
    useFfmpegMediaBackend();
    return EditorModule{kEditorModuleVersion, openEditor,      movieFailure,
                        closeEditorWindows,   runOpenCommand, runVideoCommand,
                        runRecordCommand};
}

} // namespace

extern "C" Q_DECL_EXPORT const EditorModule* quorvelEditorModule()
{
    static const EditorModule module = makeModule();
    return &module;
}
