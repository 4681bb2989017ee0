#pragma once

#include <QString>
#include <exception>

// The one family of errors the program reports to the user. Handlers let these
// escape; the general error report catches them around every command.
class AppError : public std::exception
{
public:
    explicit AppError(QString message)
        : m_message(std::move(message))
        , m_utf8(m_message.toUtf8())
    {
    }

    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// Raised by the table engine: the file, SQLite or a cursor operation failed.
class EngineError : public AppError
{
public:
    using AppError::AppError;
};

// A record could not be saved or deleted because another program changed or deleted
// it after it was read.
class StaleRecordError : public EngineError
{
public:
    using EngineError::EngineError;
};

// A blank field or a read with no current record has no value to convert.
class ConversionError : public AppError
{
public:
    ConversionError()
        : AppError(QStringLiteral("Invalid variant type conversion"))
    {
    }
    using AppError::AppError;
};

// The favourites and history files: "Cannot open file %s" / "Cannot create file %s".
class FileError : public AppError
{
public:
    using AppError::AppError;
    static FileError cannotOpen(const QString& path)
    {
        return FileError(QStringLiteral("Cannot open file %1").arg(path));
    }
    static FileError cannotCreate(const QString& path)
    {
        return FileError(QStringLiteral("Cannot create file %1").arg(path));
    }
};
