#pragma once

#include <QApplication>

#include <functional>

// The application object of the tray program. An exception that escapes an event handler on the
// user-interface thread does not end the program silently: the user sees the crash report window,
// and the program then ends in order (the event loop is left with kFailureExitCode, so the
// running job is stopped and the settings are saved), since it cannot tell what state the
// failed handler left behind. An exception on another thread's event loop goes on to
// std::terminate, which the crash handlers report.
class GuardedApplication : public QApplication
{
    Q_OBJECT
public:
    static constexpr int kFailureExitCode = 70;

    GuardedApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // True once an exception escaped an event handler: the program is ending.
    bool failed() const { return m_failed; }
    // What happens after the report window; the default leaves every event loop with
    // kFailureExitCode.
    void setFailureAction(std::function<void()> action) { m_failureAction = std::move(action); }

private:
    void reportFailure(const QString& what);

    bool m_failed = false;
    bool m_showing = false;
    std::function<void()> m_failureAction;
};
