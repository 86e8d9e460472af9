#include "console.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex consoleMutex;

void writeLine(std::FILE* stream, const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    const std::lock_guard lock(consoleMutex);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void printLine(const QString& line)
{
    writeLine(stdout, line);
}
void printErrorLine(const QString& line)
{
    writeLine(stderr, line);
}
