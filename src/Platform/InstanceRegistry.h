#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace corvane {

// The process's instances of T, one per file, created on first use. Thread-safe.
template <typename T>
class InstanceRegistry {
public:
    // The instance on `file`; `make(file)` creates it when there is none yet.
    template <typename Make>
    std::shared_ptr<T> get(const std::filesystem::path& file, Make&& make)
    {
        {
            std::lock_guard lock(m_mutex);
            if (const auto found = m_instances.find(file); found != m_instances.end()) {
                return found->second;
            }
        }
        // Made outside the lock (it may read the file); a thread that raced us may have added
        // one first, and wins.
        std::shared_ptr<T> created = make(file);
        std::lock_guard lock(m_mutex);
        return m_instances.try_emplace(file, std::move(created)).first->second;
    }

    // Forgets every instance; those that nobody else holds are destroyed here, outside the lock.
    void clear()
    {
        std::map<std::filesystem::path, std::shared_ptr<T>> instances;
        std::lock_guard lock(m_mutex);
        instances.swap(m_instances);
    }

private:
    std::mutex m_mutex;
    std::map<std::filesystem::path, std::shared_ptr<T>> m_instances;
};

}  // namespace corvane
