#include "app/LauncherProgress.h"

#include <QGuiApplication>
#include <QWindow>

#include <shobjidl.h>
#include <windows.h>

namespace {
// The program's main window: the first top-level window shown that is no dialog.
QWindow* mainWindow() {
    for (QWindow* w : QGuiApplication::topLevelWindows())
        if (w->isVisible() && w->type() == Qt::Window)
            return w;
    return nullptr;
}
} // namespace

LauncherProgress::~LauncherProgress() {
    if (m_taskbar)
        static_cast<ITaskbarList3*>(m_taskbar)->Release();
}

void LauncherProgress::show(double progress, bool visible) {
    // Nothing to hide that was never shown.
    if (!visible && !m_shown)
        return;
    QWindow* window = mainWindow();
    if (!window)
        return;
    if (!m_looked) {
        m_looked = true;
        ITaskbarList3* taskbar = nullptr;
        if (SUCCEEDED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                         reinterpret_cast<void**>(&taskbar)))) {
            if (SUCCEEDED(taskbar->HrInit()))
                m_taskbar = taskbar;
            else
                taskbar->Release();
        }
    }
    if (!m_taskbar)
        return;
    auto* taskbar = static_cast<ITaskbarList3*>(m_taskbar);
    const auto button = reinterpret_cast<HWND>(window->winId());
    if (visible) {
        taskbar->SetProgressState(button, TBPF_NORMAL);
        taskbar->SetProgressValue(button, ULONGLONG(qBound(0.0, progress, 1.0) * 1000), 1000);
    } else {
        taskbar->SetProgressState(button, TBPF_NOPROGRESS);
    }
    m_shown = visible;
}
