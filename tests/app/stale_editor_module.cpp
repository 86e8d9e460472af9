// An editor library left over from another build: its table says version 1.

#include "editor_module.h"

extern "C" Q_DECL_EXPORT const EditorModule* quorvelEditorModule()
{
    static const EditorModule stale{1, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &stale;
}
