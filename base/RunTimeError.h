#pragma once

#include <QString>
#include <exception>

// A failure inside a handler or procedure of the window. Handlers that report
// errors turn it into one status line: "<number> - <description><tag>".
class RunTimeError : public std::exception {
public:
    // Every number the program reports, with its description, in one place.
    enum Code : int {
        InvalidArgument = 5,
        Overflow = 6,
        SubscriptOutOfRange = 9,
        TypeMismatch = 13,
        SocketWrongState = 1001,
        ConnectionRefused = 1002,
        ConnectionTimedOut = 1003,
        HostUnreachable = 1004,
        CommandNotStarted = 1005,
        InvalidAddress = 1006,
        SocketFailure = 1007,
        NoAnswer = 1008,
        ConnectionClosed = 1009,

    };

    explicit RunTimeError(Code code);
    RunTimeError(int number, QString description);

    [[nodiscard]] int number() const { return m_number; }
    [[nodiscard]] const QString& description() const { return m_description; }
    // The status line of a handler whose tag is, for example, " (SetupIP)".
    [[nodiscard]] QString report(const QString& tag) const;

    [[nodiscard]] static QString describe(Code code);
    [[nodiscard]] const char* what() const noexcept override { return "run-time error"; }

private:
    int m_number = 0;
    QString m_description;
};
