#include "FaultInjector.h"

namespace corvane::server {

void FaultInjector::add(Fault fault)
{
    std::lock_guard lock(m_mutex);
    m_faults.push_back(std::move(fault));
}

void FaultInjector::clear()
{
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

std::optional<Fault> FaultInjector::take(const std::string& path, const std::string& method)
{
    std::lock_guard lock(m_mutex);
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        if (!path.starts_with(it->pathPrefix) || (it->method && *it->method != method)) {
            continue;
        }
        Fault hit = *it;
        if (--it->count <= 0) {
            m_faults.erase(it);
        }
        return hit;
    }
    return std::nullopt;
}

}  // namespace corvane::server
