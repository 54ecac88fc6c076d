#pragma once

#include <memory>

#include "Platform/MainQueue.h"

typedef struct _GMainContext GMainContext;

namespace corvane {

// Carries the main queue on a GLib main context (the default one, which the file manager's
// main loop runs): each posted item becomes an idle source of default priority there, so items
// run in order on the thread that iterates the context. Thread-safe.
class GLibMainQueueExecutor final : public MainQueue::Executor {
public:
    // Holds a reference to `context`; null means the default main context.
    explicit GLibMainQueueExecutor(GMainContext* context = nullptr);
    ~GLibMainQueueExecutor() override;
    GLibMainQueueExecutor(const GLibMainQueueExecutor&) = delete;
    GLibMainQueueExecutor& operator=(const GLibMainQueueExecutor&) = delete;

    // An item still waiting when the executor goes runs all the same, later.
    void post(MainQueue::Work work) override;

private:
    struct ContextRelease {
        void operator()(GMainContext* context) const;
    };
    const std::unique_ptr<GMainContext, ContextRelease> m_context;
};

}  // namespace corvane
