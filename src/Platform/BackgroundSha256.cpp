#include "Platform/BackgroundSha256.h"

#include <algorithm>
#include <utility>

namespace corvane {

BackgroundSha256::BackgroundSha256() = default;

BackgroundSha256::~BackgroundSha256()
{
    if (m_worker.joinable()) {
        m_worker.request_stop();
        m_changed.notify_all();
    }
}

void BackgroundSha256::update(std::string_view bytes)
{
    while (!bytes.empty()) {
        const std::size_t taken = std::min(bytes.size(), kBlockSize - m_block.size());
        m_block.append(bytes.substr(0, taken));
        bytes.remove_prefix(taken);
        if (m_block.size() == kBlockSize) {
            handOver();
        }
    }
}

std::string BackgroundSha256::finish()
{
    if (!m_worker.joinable()) {
        m_hash.update(m_block);  // small: not worth a thread
        return m_hash.finish();
    }
    if (!m_block.empty()) {
        handOver();
    }
    {
        const std::lock_guard lock(m_mutex);
        m_fed = true;
    }
    m_changed.notify_all();
    m_worker.join();
    if (m_failure) {
        std::rethrow_exception(m_failure);
    }
    return m_hash.finish();
}

void BackgroundSha256::handOver()
{
    std::string next;
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_waiting.size() < kMostWaiting; });
        m_waiting.push_back(std::move(m_block));
        if (!m_spare.empty()) {
            next = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    m_changed.notify_all();
    next.clear();
    next.reserve(kBlockSize);
    m_block = std::move(next);
    if (!m_worker.joinable()) {
        m_worker = std::jthread([this](const std::stop_token& stop) { work(stop); });
    }
}

void BackgroundSha256::work(const std::stop_token& stop)
{
    std::unique_lock lock(m_mutex);
    while (true) {
        m_changed.wait(lock, stop, [&] { return !m_waiting.empty() || m_fed; });
        if (stop.stop_requested() || m_waiting.empty()) {
            return;
        }
        std::string block = std::move(m_waiting.front());
        m_waiting.pop_front();
        lock.unlock();
        m_changed.notify_all();  // room for one more
        try {
            if (!m_failure) {
                m_hash.update(block);
            }
        } catch (...) {
            m_failure = std::current_exception();  // finish() throws it; later blocks are skipped
        }
        lock.lock();
        m_spare.push_back(std::move(block));
    }
}

}  // namespace corvane
