#pragma once

// Everything the simulated adaptor prints. The tool recognises a question only
// by the last few characters of the latest chunk it received, so the endings
// here are exact and each question leaves the adaptor as one chunk:
//
//   setup menu (family 1)
//     main menu        ends "Your choice ? "                    (last 14; last 9 "choice ? ")
//     gateway question ends "Set Gateway IP Address (N) "       (last 27 begin "Set Gateway IP Address")
//     host bits        ends " (0=default) (<bits>) "            (of the last 17, the first 12 trimmed
//                                                                 of spaces are "(0=default)")
//   command line (family 2)
//     login            ends "Username> "                         (last 10)
//     user level       ends "Local_1> "                          (last 9 begin "Local_")
//     password         ends "Password> "                         (last 10)
//     privileged level ends "Local_1>> "                         (last 10 begin "Local_", end ">> ")
//
// The host-bits question holds for one and two digits alike: with one digit
// "(0=default)" is followed by exactly five characters " (8) " and preceded by
// a space; with two digits it is followed by a space and exactly five more,
// "(16) ".

#include <QByteArray>
#include <QList>

namespace AdaptorPrompts {

inline QByteArray number(int value, int width = 0) {
    return QByteArray::number(value).rightJustified(width, '0');
}

// ---- family 1: the numbered setup menu on TCP 9999 ----

inline QByteArray menuBanner(const QByteArray& macUpper) {
    return "\r\nAdaptor MAC " + macUpper + "\r\nType Enter to open the setup menu\r\n";
}

inline QByteArray mainMenu(const QByteArray& settings) {
    return "\r\n" + settings +
           "\r\nChange setup:\r\n"
           "  0 Server\r\n"
           "  1 Channel 1\r\n"
           "  8 Exit without save\r\n"
           "  9 Save and exit\r\n"
           "\r\nYour choice ? ";
}

// The current value of each octet in brackets; an empty answer keeps it.
inline QByteArray ipOctetQuestion(int index, int value) {
    return (index == 0 ? QByteArray("\r\nIP Address : (") : QByteArray(".(")) + number(value, 3) + ") ";
}

inline QByteArray gatewayQuestion(bool gatewaySet) {
    return QByteArray("\r\nSet Gateway IP Address (") + (gatewaySet ? "Y" : "N") + ") ";
}

inline QByteArray gatewayOctetQuestion(int index, int value) {
    return (index == 0 ? QByteArray("\r\nGateway IP Address : (") : QByteArray(".(")) + number(value, 3) +
           ") ";
}

inline QByteArray hostBitsQuestion(int hostBits) {
    return "\r\nNetmask: Number of Bits for Host Part (0=default) (" + number(hostBits) + ") ";
}

inline QByteArray setupPasswordQuestion() {
    return "\r\nChange setup password (N) ? ";
}

inline QByteArray baudQuestion(int baud) {
    return "\r\n\r\nBaudrate (" + number(baud) + ") ? ";
}
inline QByteArray interfaceModeQuestion(const QByteArray& mode) {
    return "\r\nI/F Mode (" + mode + ") ? ";
}
inline QByteArray flowQuestion(const QByteArray& flow) {
    return "\r\nFlow (" + flow + ") ? ";
}
inline QByteArray portQuestion(int port) {
    return "\r\nPort No (" + number(port, 5) + ") ? ";
}

// The twelve channel questions after the port number; the tool keeps all of
// them with an empty answer.
inline QList<QByteArray> furtherChannelQuestions() {
    return {"\r\nConnect mode (C0) ? ",     "\r\nRemote IP address (000.000.000.000) ? ",
            "\r\nRemote port (00000) ? ",   "\r\nDisconnect mode (00) ? ",
            "\r\nFlush mode (00) ? ",       "\r\nPacking (00) ? ",
            "\r\nIdle time (00:00) ? ",     "\r\nSend character 1 (00) ? ",
            "\r\nSend character 2 (00) ? ", "\r\nInactivity time-out (0000) ? ",
            "\r\nStart character (0D) ? ",  "\r\nLine delay (00) ? "};
}

inline QByteArray savedGoodbye() {
    return "\r\nParameters stored ...\r\n";
}
inline QByteArray unsavedGoodbye() {
    return "\r\nExiting without save ...\r\n";
}

// ---- family 2: the command line on TCP 23 ----

inline QByteArray loginPrompt() {
    return "\r\nUsername> ";
}
inline QByteArray userPrompt() {
    return "\r\nLocal_1> ";
}
inline QByteArray passwordPrompt() {
    return "\r\nPassword> ";
}
inline QByteArray privilegedPrompt() {
    return "\r\nLocal_1>> ";
}

inline QByteArray wrongPassword() {
    return "\r\nError: password not accepted\r\n";
}
inline QByteArray notPrivileged() {
    return "\r\nError: this needs the privileged level\r\n";
}
inline QByteArray unknownCommand() {
    return "\r\nError: unknown command\r\n";
}
inline QByteArray badValue() {
    return "\r\nError: value not accepted\r\n";
}
inline QByteArray logoutGoodbye() {
    return "\r\nGoodbye\r\n";
}

} // namespace AdaptorPrompts
