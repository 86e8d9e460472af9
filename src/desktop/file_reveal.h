#pragma once

#include <QString>

// Shows a file selected in the desktop's file manager.
class FileReveal {
public:
    virtual ~FileReveal() = default;
    virtual void reveal(const QString& path) = 0;
};
