#pragma once

// The real window with its logic bound, for tests that type into the real
// widgets under the offscreen platform.

#include "FakeWindow.h"
#include "app/MainWindow.h"
#include "app/WindowBinding.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTest>
#include <memory>

struct WindowFixture {
    enum Network { FakeNetwork, RealNetwork };

    // With FakeNetwork every service not given is a fake, so that nothing can
    // leave this machine; RealNetwork is for tests inside their own namespaces.
    explicit WindowFixture(WindowServices services = {}, Network network = FakeNetwork)
        : window(std::make_unique<MainWindow>())
        , binding(std::make_unique<WindowBinding>(*window, withFakes(services, network))) {
        window->show();
        window->activateWindow();
        ready = QTest::qWaitForWindowActive(window.get());
    }

    [[nodiscard]] QLineEdit* edit(const QString& name) const { return window->findChild<QLineEdit*>(name); }
    [[nodiscard]] QString focusName() const {
        QWidget* w = QApplication::focusWidget();
        return w ? w->objectName() : QString();
    }
    [[nodiscard]] QString status() const { return binding->controller().ports.status->message(); }
    // Sets a field's text as the layout or an earlier edit left it, without raising Change.
    void preset(const QString& name, const QString& text) const {
        QLineEdit* e = edit(name);
        const QSignalBlocker block(e);
        e->setText(text);
    }
    void presetStatus(const QString& text) const { binding->controller().ports.status->showMessage(text); }
    // Puts the focus into a field as a click would, then types each key into
    // whichever widget has the focus by then. A leading "^" puts the caret at
    // the start of the field first.
    void typeInto(const QString& name, const QString& keys) const {
        QLineEdit* e = edit(name);
        e->setFocus(Qt::MouseFocusReason);
        QString k = keys;
        if (k.startsWith(QLatin1Char('^'))) {
            e->home(false);
            k.remove(0, 1);
        } else {
            e->end(false);
        }
        for (QChar c : k)
            QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
    }
    [[nodiscard]] bool isActiveColour(QLineEdit* e) const {
        return e->palette().color(QPalette::Base) == window->fieldColour(FieldColour::Active);
    }

    WindowServices withFakes(WindowServices s, Network network) {
        if (network == RealNetwork) {
            if (s.helperProgram.isEmpty())
                s.helperProgram = QStringLiteral(NETRIKA_HELPER);
            return s;
        }
        for (auto [given, fake] :
             {std::pair{&s.commandLineSocket, &fakeClient}, std::pair{&s.setupMenuSocket, &fakeMenu},
              std::pair{&s.datagramSocket, &fakeBroadcast}, std::pair{&s.signSocket, &fakeTest}}) {
            if (!*given)
                *given = fake;
        }
        if (!s.probe)
            s.probe = &fakeProbe;
        if (!s.neighbours)
            s.neighbours = &fakeNeighbours;
        if (!s.finder)
            s.finder = &fakeFinder;
        return s;
    }

    FakeSocket fakeClient, fakeMenu, fakeBroadcast, fakeTest;
    FakeProbe fakeProbe;
    FakeNeighbours fakeNeighbours;
    FakeFinder fakeFinder;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<WindowBinding> binding;
    bool ready = false;
};
