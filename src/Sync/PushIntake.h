#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "Models/Models.h"
#include "Sync/SyncContext.h"

namespace corvane {

class PushEventHandler;
class WebSocketClient;
class WorkLanes;

// The intake of server changes: the push channel, the messages held while the start-up cycle
// runs, and the catch-up after a reconnection, when what the server announced while the socket
// was down is read from its change log and handled ahead of what the new socket brings. Each
// "file_changed" event goes to its path's lane (after a lookup of its folder when that is new),
// where PushEventHandler applies it.
//
// Threads: openChannel() from the start-up task, closeChannel() from any thread; the channel's
// callbacks, release() and drop() on the main thread. Work handed to the lanes holds the engine;
// the channel's callbacks hold it weakly.
class PushIntake {
public:
    PushIntake(SyncContext context, WorkLanes& lanes, std::function<bool()> isRunning);
    ~PushIntake();
    PushIntake(const PushIntake&) = delete;
    PushIntake& operator=(const PushIntake&) = delete;

    // Opens the push channel, unless signed out or stopped meanwhile.
    void openChannel();
    void closeChannel();

    // The start-up cycle is done: the messages held so far are applied, and those that follow.
    void release();
    // The start failed: what was held is dropped, and so is what comes later.
    void drop();

private:
    void handleWSMessage(const WSMessage& message);
    void applyWSMessage(const WSMessage& message);
    void catchUpAfterReconnect();
    void finishCatchUp(const std::vector<SyncEvent>& missed);
    void submit(const FileChangedEvent& event);

    const SyncContext m_context;
    WorkLanes& m_lanes;
    const std::function<bool()> m_isRunning;
    const std::unique_ptr<PushEventHandler> m_handler;

    std::mutex m_channelMutex;  // guards m_channel
    std::shared_ptr<WebSocketClient> m_channel;

    // Main thread only.
    bool m_released = false;                // until then pushes are held
    bool m_dropped = false;                 // nothing is held or applied any more
    std::vector<WSMessage> m_held;          // pushes that came during the start-up cycle
    bool m_connectedBefore = false;         // the push channel has been connected once
    int m_catchUpsInFlight = 0;             // change-log reads after a reconnection
    std::vector<WSMessage> m_afterCatchUp;  // pushes that came while one was read
};

}  // namespace corvane
