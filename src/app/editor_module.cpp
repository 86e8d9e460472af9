#include "editor_module.h"

#include "console.h"

#include <QFileInfo>
#include <QLibrary>
#include <atomic>
#include <dlfcn.h>
#include <mutex>

namespace {

std::atomic<const EditorModule*> g_module = nullptr;
QLibrary* g_library = nullptr;

// Our libraries sit together in one folder, in the build tree and installed
// alike; the editor's is found beside our core library (this code itself is
// linked into the program, which lives elsewhere).
QString modulePath()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&oneLine), &info) == 0 || !info.dli_fname)
        return QStringLiteral("libquorvel-editor.so");
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath() +
           QStringLiteral("/libquorvel-editor.so");
}

} // namespace

const EditorModule* loadEditorModule(QString* error)
{
    static std::mutex loading;
    const std::lock_guard lock(loading);
    if (g_module)
        return g_module.load();
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
    const EditorModule* module = entry();
    if (!module || module->version != kEditorModuleVersion) {
        if (error)
            *error = QStringLiteral("%1 is from another version of Quorvel; reinstall Quorvel")
                         .arg(library->fileName());
        // Not unloaded either: its entry may have started libraries of its own.
        return nullptr;
    }
    g_library = library;
    g_module = module;
    return module;
}

const EditorModule* loadedEditorModule()
{
    return g_module.load();
}

void openEditorLazily(const EditorRequest& request)
{
    QString error;
    const EditorModule* module = loadEditorModule(&error);
    if (!module) {
        printErrorLine(QStringLiteral("Cannot open the editor: ") + error);
        return;
    }
    module->openEditor(request);
}

QString movieFailureLazily(const QString& path)
{
    QString error;
    const EditorModule* module = loadEditorModule(&error);
    if (!module)
        return QStringLiteral("cannot load the editor: ") + oneLine(error);
    return module->movieFailure(path);
}
