#pragma once

#include <QString>

// The program's identity: its title (also the default message-box title) and version.
namespace AppInfo {
inline constexpr int kMajor = NETRIKA_VERSION_MAJOR;
inline constexpr int kMinor = NETRIKA_VERSION_MINOR;
inline constexpr int kRevision = NETRIKA_VERSION_PATCH;
inline const QString kTitle = QStringLiteral("Netrika");
inline const QString kDescription = QStringLiteral("Ethernet adaptor IP address setup");
// "1.0.4": each number in plain decimal.
[[nodiscard]] inline QString versionText() {
    return QStringLiteral("%1.%2.%3").arg(kMajor).arg(kMinor).arg(kRevision);
}
} // namespace AppInfo
