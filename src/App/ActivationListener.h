#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

namespace corvane {

class ActivationService;

// Serves the running instance's activation service from the Qt event loop: the bus descriptor
// is watched by socket notifiers, its time-outs by a timer, so requests of a second start are
// answered on the main thread. Main thread only.
class ActivationListener final : public QObject {
    Q_OBJECT

public:
    // Nothing when there is no session bus or the name is taken; the application runs on
    // without it.
    static std::unique_ptr<ActivationListener> start(std::optional<std::string> address = {});
    ~ActivationListener() override;

signals:
    // A second start asked this instance to show its window.
    void activationRequested();

private:
    ActivationListener() = default;
    void watch();
    void serve();
    void watchAgain();

    std::unique_ptr<ActivationService> m_service;
    std::unique_ptr<QSocketNotifier> m_readable;
    std::unique_ptr<QSocketNotifier> m_writable;
    QTimer m_timeout;
};

}  // namespace corvane
