#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>
#include <system_error>
#include <utility>

// The system's words for an errno value, e.g. "No such file or directory".
inline QString systemErrorText(int error)
{
    return QString::fromStdString(std::generic_category().message(error));
}

// A value or the reason there is none. Failures are never swallowed: callers
// check ok() and pass error() on, word for word, to whoever prints it.
//
// value() is for a success only: a debug build stops on the spot, naming the
// reason, when it is asked of a failure; a release build does not check.
// error() is empty for a success, so "ok() or say why" reads in one line.
template <typename T> class Result {
public:
    Result(T value) : m_value(std::move(value)) {}
    static Result failure(QString reason) { return Result(std::move(reason), 0); }
    static Result systemFailure(int error) { return failure(systemErrorText(error)); }

    bool ok() const { return m_value.has_value(); }
    const T& value() const&
    {
        expectValue();
        return *m_value;
    }
    T&& value() &&
    {
        expectValue();
        return std::move(*m_value);
    }
    const QString& error() const { return m_error; }

private:
    Result(QString reason, int) : m_error(std::move(reason)) {}

    void expectValue() const
    {
#ifndef QT_NO_DEBUG
        if (!ok())
            qFatal("Result::value() asked of a failure: %s", qUtf8Printable(m_error));
#endif
    }

    std::optional<T> m_value;
    QString m_error;
};

template <> class Result<void> {
public:
    Result() = default;
    static Result failure(QString reason)
    {
        Result result;
        result.m_failed = true;
        result.m_error = std::move(reason);
        return result;
    }
    static Result systemFailure(int error) { return failure(systemErrorText(error)); }

    bool ok() const { return !m_failed; }
    const QString& error() const { return m_error; }

private:
    bool m_failed = false;
    QString m_error;
};
