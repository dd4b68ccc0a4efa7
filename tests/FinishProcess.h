#pragma once

#include <QProcess>
#include <QString>

// Waits for a program a test started, killing it if it has not ended in ms;
// its standard output and error go to out and err. The exit status, or -1
// for a program that did not end by itself in time.
inline int finishProcess(QProcess& process, int ms, QString& out, QString& err) {
    if (!process.waitForFinished(ms))
        process.kill();
    process.waitForFinished(5000);
    out = QString::fromUtf8(process.readAllStandardOutput());
    err = QString::fromUtf8(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}
