#include "base/RunTimeError.h"

RunTimeError::RunTimeError(Code code)
    : m_number(code)
    , m_description(describe(code)) {}

RunTimeError::RunTimeError(int number, QString description)
    : m_number(number)
    , m_description(std::move(description)) {}

QString RunTimeError::report(const QString& tag) const {
    return QString::number(m_number) + QStringLiteral(" - ") + m_description + tag;
}

QString RunTimeError::describe(Code code) {
    switch (code) {
    case InvalidArgument:
        return QStringLiteral("Invalid procedure call or argument");
    case Overflow:
        return QStringLiteral("Overflow");
    case SubscriptOutOfRange:
        return QStringLiteral("Subscript out of range");
    case TypeMismatch:
        return QStringLiteral("Type mismatch");
    case SocketWrongState:
        return QStringLiteral("Wrong connection state for the requested operation");
    case ConnectionRefused:
        return QStringLiteral("Connection refused by the remote host");
    case ConnectionTimedOut:
        return QStringLiteral("Connection attempt timed out");
    case HostUnreachable:
        return QStringLiteral("Remote host is unreachable");
    case CommandNotStarted:
        return QStringLiteral("Command could not be started");
    case InvalidAddress:
        return QStringLiteral("Invalid address");
    case ConnectionClosed:
        return QStringLiteral("Connection closed by the remote host");
    case NoAnswer:
        return QStringLiteral("The adaptor has stopped answering");
    case SocketFailure:

        return QStringLiteral("Socket operation failed");
    }
    return QStringLiteral("Application-defined or object-defined error");
}
