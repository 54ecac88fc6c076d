#include "Sync/PushIntake.h"

#include <utility>

#include "API/APIClient.h"
#include "API/WebSocketClient.h"
#include "Logging/FileLogger.h"
#include "Platform/MainQueue.h"
#include "Sync/PushEventHandler.h"
#include "Sync/RecentDeletions.h"
#include "Sync/WorkLanes.h"

namespace corvane {

PushIntake::PushIntake(SyncContext context, WorkLanes& lanes, std::function<bool()> isRunning)
    : m_context(std::move(context)), m_lanes(lanes), m_isRunning(std::move(isRunning)),
      m_handler(std::make_unique<PushEventHandler>(m_context))
{
}

PushIntake::~PushIntake() = default;

void PushIntake::openChannel()
{
    const auto token = m_context.apiClient->token();
    if (!token) {
        return;  // signed out: no push channel
    }
    auto channel = std::make_shared<WebSocketClient>(m_context.apiClient->baseURL(), *token);
    {
        std::lock_guard lock(m_channelMutex);
        if (!m_isRunning()) {
            return;
        }
        m_channel = channel;
    }
    const std::weak_ptr<const void> engine = m_context.holdEngine();
    channel->connect(
        [this, engine](const WSMessage& message) {
            if (const auto held = engine.lock()) {
                handleWSMessage(message);
            }
        },
        [] {},
        [this, engine] {
            if (const auto held = engine.lock()) {
                catchUpAfterReconnect();
            }
        });
    // stop() may have come while connecting and found the channel not yet open.
    if (!m_isRunning()) {
        channel->disconnect();
    }
}

void PushIntake::closeChannel()
{
    std::shared_ptr<WebSocketClient> channel;
    {
        std::lock_guard lock(m_channelMutex);
        channel = std::exchange(m_channel, nullptr);
    }
    if (channel) {
        channel->disconnect();
    }
}

void PushIntake::release()
{
    m_released = true;
    if (m_isRunning()) {
        for (const WSMessage& message : std::exchange(m_held, {})) {
            applyWSMessage(message);
        }
    }
}

void PushIntake::drop()
{
    m_dropped = true;
    m_held.clear();
}

void PushIntake::catchUpAfterReconnect()
{
    if (!std::exchange(m_connectedBefore, true)) {
        return;  // the first connection: the start-up cycle reads what came before it
    }
    const auto since = m_context.recentDeletions->lastAnnouncement();
    if (!since) {
        return;  // nothing was heard yet, so nothing tells where the gap began
    }
    // What the server announced while the socket was down, from its change log, in order and
    // ahead of what the new socket brings, which waits until then; each is handled as if it had
    // been pushed.
    ++m_catchUpsInFlight;
    m_lanes.submitLookup([this, engine = m_context.holdEngine(), since] {
        std::vector<SyncEvent> missed;
        try {
            missed = m_context.apiClient->listEvents(since, {});
        } catch (const std::exception& error) {
            // The next reconnection tries again; until then the gap waits for the next start.
            FileLogger::shared().warn("sync", "changes missed while offline not read",
                                      {{"error", error.what()}});
        }
        MainQueue::async([this, engine, missed = std::move(missed)] { finishCatchUp(missed); });
    });
}

void PushIntake::finishCatchUp(const std::vector<SyncEvent>& missed)
{
    for (const SyncEvent& entry : missed) {
        applyWSMessage(WSMessage{"file_changed", PushEventHandler::eventOf(entry)});
    }
    if (--m_catchUpsInFlight == 0) {
        for (const WSMessage& message : std::exchange(m_afterCatchUp, {})) {
            applyWSMessage(message);
        }
    }
}

void PushIntake::handleWSMessage(const WSMessage& message)
{
    if (m_catchUpsInFlight > 0) {
        m_afterCatchUp.push_back(message);  // newer than what the change log is read for
        return;
    }
    applyWSMessage(message);
}

void PushIntake::applyWSMessage(const WSMessage& message)
{
    // A message the socket received before a failed start closed it is dropped too.
    if (message.type != "file_changed" || !message.event || m_dropped) {
        return;
    }
    if (!m_released) {
        m_held.push_back(message);  // applied once the cycle has done its work
        return;
    }
    const FileChangedEvent& event = *message.event;
    m_context.recentDeletions->noteAnnouncement(event.id);
    if (m_handler->needsFolderLookup(event)) {
        // Looked up off the main thread, in arrival order, then handled in the file's lane.
        m_lanes.submitLookup([this, engine = m_context.holdEngine(), event] {
            try {
                m_handler->lookUpFolder(event);
            } catch (const std::exception&) {
                // The event's own handling tries again and reports the failure.
            }
            submit(event);
        });
        return;
    }
    m_lanes.afterFolderLookups([this, engine = m_context.holdEngine(), event] { submit(event); });
}

void PushIntake::submit(const FileChangedEvent& event)
{
    // Events of one path take the lane of its local changes, so that they apply in order.
    const std::string joined = m_handler->joinedPath(event).value_or("");
    const std::string lane = joined.starts_with('/') ? joined : "/" + joined;
    m_lanes.submit(lane,
                   [this, engine = m_context.holdEngine(), event] { m_handler->handle(event); });
}

}  // namespace corvane
