#pragma once

#include <QString>

// The run's progress on the program's entry in a dock or task manager, by the
// launcher-entry signal that KDE's and GNOME's docks read. Optional: without
// a session bus, or with no dock listening, nothing happens and nothing is
// said. The bus is looked for only once a run shows progress, so the window's
// start never waits for it. On Windows the same shows on the window's
// taskbar button (ITaskbarList3), looked for as late.
class LauncherProgress {
public:
    inline static const QString kInterface = QStringLiteral("com.canonical.Unity.LauncherEntry");
    inline static const QString kPath = QStringLiteral("/org/netrika/Netrika");

    // The desktop entry's id, as the dock knows the program: "org.netrika.Netrika".
    explicit LauncherProgress(QString desktopId)
        : m_desktopId(std::move(desktopId)) {}

    // progress from 0 to 1; visible false hides the dock's bar.
    void show(double progress, bool visible);

#ifdef Q_OS_WIN
    ~LauncherProgress();
    LauncherProgress(const LauncherProgress&) = delete;
    LauncherProgress& operator=(const LauncherProgress&) = delete;
#endif

private:
    QString m_desktopId;
    bool m_looked = false;
    bool m_bus = false;
    bool m_shown = false;
#ifdef Q_OS_WIN
    void* m_taskbar = nullptr; // the taskbar's interface, once looked for
#endif
};
