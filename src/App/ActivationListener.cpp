#include "App/ActivationListener.h"

#include <chrono>
#include <ctime>

#include <poll.h>

#include "Platform/ActivationService.h"

namespace corvane {
namespace {

std::uint64_t monotonicMicros()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000 +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000;
}

}  // namespace

std::unique_ptr<ActivationListener> ActivationListener::start(std::optional<std::string> address)
{
    std::unique_ptr<ActivationListener> listener(new ActivationListener());
    listener->m_service = ActivationService::start(
        [target = listener.get()] { emit target->activationRequested(); }, std::move(address));
    if (!listener->m_service) {
        return nullptr;
    }
    listener->watch();
    return listener;
}

void ActivationListener::watch()
{
    const int fd = m_service->fd();
    m_readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    m_writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    connect(m_readable.get(), &QSocketNotifier::activated, this, &ActivationListener::serve);
    connect(m_writable.get(), &QSocketNotifier::activated, this, &ActivationListener::serve);
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, &ActivationListener::serve);
    serve();  // the name request's reply may be waiting already
}

ActivationListener::~ActivationListener() = default;

void ActivationListener::serve()
{
    if (!m_service->process()) {
        // The bus went away: no second start can reach this instance any more.
        m_readable->setEnabled(false);
        m_writable->setEnabled(false);
        m_timeout.stop();
        return;
    }
    watchAgain();
}

void ActivationListener::watchAgain()
{
    m_writable->setEnabled((m_service->events() & POLLOUT) != 0);
    if (const auto until = m_service->timeoutMicros()) {
        const std::uint64_t now = monotonicMicros();
        const auto wait = *until > now ? (*until - now + 999) / 1000 : 0;
        m_timeout.start(std::chrono::milliseconds(std::min<std::uint64_t>(wait, 60000)));
    } else {
        m_timeout.stop();
    }
}

}  // namespace corvane
