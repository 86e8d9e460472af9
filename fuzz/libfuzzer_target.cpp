// libFuzzer's two entry points for one target; FUZZ_ENTRY names the function
// in fuzz_entries.h that the target runs.
#include "fuzz_entries.h"

#include <QCoreApplication>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Qt finds its image plugins through the application object.
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FUZZ_ENTRY(data, size);
    return 0;
}
