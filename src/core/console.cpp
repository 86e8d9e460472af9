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

QString oneLine(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\n')
            shown += QLatin1String("\\n");
        else if (u == '\t')
            shown += QLatin1String("\\t");
        else if (u == '\r')
            shown += QLatin1String("\\r");
        else if (u < 0x20 || u == 0x7f)
            shown += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}
