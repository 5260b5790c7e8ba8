#pragma once

#include <exception>

#include <QByteArray>
#include <QString>

// Numbers of the failures the program reports, as its log lines and replies show them.
namespace FailureCode {
constexpr int InvalidArgument = 5;
constexpr int Overflow = 6;
// A wait ended because the program is closing.
constexpr int Interrupted = 18;
constexpr int TypeMismatch = 13;
constexpr int FileNotFound = 53;
constexpr int PermissionDenied = 70;
constexpr int PathFileAccess = 75;
constexpr int ObjectRequired = 424;
// A reply sent on a connection that is no longer open.
constexpr int ConnectionClosed = 40006;
} // namespace FailureCode

// The one failure type of the server: a numbered error that a catch site turns into the
// exact log line and reply of the operation that was running.
class Failure : public std::exception
{
public:
    explicit Failure(int code, QString description = {});

    int code() const noexcept { return m_code; }
    const QString& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    int m_code;
    QString m_description;
    QByteArray m_what;
};

// A signed decimal with one leading blank when it is not negative: " 5", "-3".
QString signedNumberText(qint64 number);

// A caught error's number as the log shows it: "Error( 5)".
QString errorNumberText(int code);
