#include "editor_module.h"

#include "console.h"

#include <QFileInfo>
#include <QLibrary>
#include <dlfcn.h>

namespace {

const EditorModule* g_module = nullptr;
QLibrary* g_library = nullptr;

// Our libraries sit together in one folder, in the build tree and installed
// alike; the editor's is found beside the one this code is in.
QString modulePath()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&loadEditorModule), &info) == 0 || !info.dli_fname)
        return QStringLiteral("libquorvel-editor.so");
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath() +
           QStringLiteral("/libquorvel-editor.so");
}

} // namespace

const EditorModule* loadEditorModule(QString* error)
{
    if (g_module)
        return g_module;
    // Never unloaded: its windows and Qt's plugins keep pointers into it.
    auto* library = new QLibrary(modulePath());
    using Entry = const EditorModule* (*)();
    const auto entry = reinterpret_cast<Entry>(library->resolve(kEditorModuleEntry));
    if (!entry) {
        if (error)
            *error = library->errorString();
        delete library;
        return nullptr;
    }
    g_library = library;
    g_module = entry();
    return g_module;
}

const EditorModule* loadedEditorModule()
{
    return g_module;
}

void openEditorWindowLazily(const Screencapture& capture, const ScreenRecorder& recorder,
                            bool showVideoPlayer, OpenedFrom from, const QString& fileName)
{
    QString error;
    const EditorModule* module = loadEditorModule(&error);
    if (!module) {
        printErrorLine(QStringLiteral("Cannot open the editor: ") + error);
        return;
    }
    module->openEditorWindow(capture, recorder, showVideoPlayer, from, fileName);
}

QString openFileLazily(const QString& path)
{
    QString error;
    const EditorModule* module = loadEditorModule(&error);
    if (!module)
        return QStringLiteral("cannot load the editor: ") + error;
    return module->openFile(path);
}
