#include "Misbehaviour.h"

bool Misbehaviour::parse(const QStringList& modes, QString* error) {
    for (const QString& mode : modes) {
        const QString name = mode.section(QLatin1Char(':'), 0, 0);
        const QString value = mode.section(QLatin1Char(':'), 1);
        bool ok = true;
        if (mode == QLatin1String("silent")) {
            m_silent = true;
        } else if (mode == QLatin1String("slow")) {
            m_slow = true;
        } else if (mode == QLatin1String("close-mid")) {
            m_closeMid = true;
        } else if (mode == QLatin1String("wrong-password")) {
            m_wrongPassword = true;
        } else if (name == QLatin1String("no-prompt") && !value.isEmpty()) {
            m_noPrompt << value.toLatin1();
        } else if (name == QLatin1String("flood")) {
            const int megabytes = value.toInt(&ok);
            ok = ok && megabytes > 0 && megabytes <= 1024;
            m_floodBytes = qint64(megabytes) * 1024 * 1024;
        } else if (name == QLatin1String("refuse")) {
            const uint port = value.toUInt(&ok);
            ok = ok && port > 0 && port <= 65535;
            m_refused.insert(quint16(port));
        } else {
            ok = false;
        }
        if (!ok) {
            *error = QStringLiteral("unknown misbehaviour \"%1\" (silent, slow, no-prompt:<text>, close-mid, "
                                    "flood:<megabytes>, refuse:<port>, wrong-password)")
                         .arg(mode);
            return false;
        }
        m_modes << mode;
    }
    return true;
}

bool Misbehaviour::suppresses(const QByteArray& question) const {
    for (const QByteArray& text : m_noPrompt) {
        if (question.contains(text))
            return true;
    }
    return false;
}
