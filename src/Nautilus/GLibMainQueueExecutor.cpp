#include "Nautilus/GLibMainQueueExecutor.h"

#include <utility>

#include <glib.h>

#include "Platform/CallGuarded.h"

namespace corvane {
namespace {

gboolean runWork(gpointer data)
{
    // Main-thread work reports its own failures; one that escapes must not reach GLib.
    callGuarded("main queue: work item", [data] { (*static_cast<MainQueue::Work*>(data))(); });
    return G_SOURCE_REMOVE;
}

void releaseWork(gpointer data)
{
    const std::unique_ptr<MainQueue::Work> work(static_cast<MainQueue::Work*>(data));
}

}  // namespace

void GLibMainQueueExecutor::ContextRelease::operator()(GMainContext* context) const
{
    g_main_context_unref(context);
}

GLibMainQueueExecutor::GLibMainQueueExecutor(GMainContext* context)
    : m_context(g_main_context_ref(context ? context : g_main_context_default()))
{
}

GLibMainQueueExecutor::~GLibMainQueueExecutor() = default;

void GLibMainQueueExecutor::post(MainQueue::Work work)
{
    auto owned = std::make_unique<MainQueue::Work>(std::move(work));
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_static_name(source, "corvane main queue");
    // The source owns the work from here on and frees it with releaseWork().
    g_source_set_callback(source, runWork, owned.release(), releaseWork);
    g_source_attach(source, m_context.get());
    g_source_unref(source);
}

}  // namespace corvane
