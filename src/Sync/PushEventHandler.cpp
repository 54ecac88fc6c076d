#include "Sync/PushEventHandler.h"

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "API/APIClient.h"
#include "Logging/FileLogger.h"
#include "Platform/Error.h"
#include "Sync/ContentHash.h"
#include "Sync/FolderResolver.h"
#include "Sync/LocalStateStore.h"
#include "Sync/RecentDeletions.h"
#include "Sync/SelectiveSyncManager.h"
#include "Sync/Transfers.h"

namespace corvane {
namespace {

bool isContentAction(const std::string& action)
{
    return action == "create" || action == "update";
}

}  // namespace

LoggedContent loggedContent(const SyncEvent& entry)
{
    LoggedContent content;
    const auto details = nlohmann::json::parse(entry.metadata.value_or(""), nullptr, false);
    if (!details.is_object()) {
        return content;
    }
    if (const auto hash = details.find("hash"); hash != details.end() && hash->is_string()) {
        content.hash = hash->get<std::string>();
    }
    const auto number = [&](const char* key) -> std::optional<std::int64_t> {
        const auto found = details.find(key);
        if (found == details.end() || !found->is_number_integer()) {
            return std::nullopt;
        }
        return found->get<std::int64_t>();
    };
    content.size = number("size");
    content.version = number("version");
    return content;
}

PushEventHandler::PushEventHandler(SyncContext context) : m_context(std::move(context)) {}

std::optional<std::string> PushEventHandler::joinedPath(const FileChangedEvent& event) const
{
    if (!event.path || !event.folderId) {
        return event.path;
    }
    return m_context.folderResolver->syncRelativePath(*event.path, *event.folderId);
}

FileChangedEvent PushEventHandler::eventOf(const SyncEvent& entry)
{
    FileChangedEvent event;
    event.id = entry.id;
    event.action = entry.action;
    event.path = entry.path;
    event.userId = entry.userId;
    event.folderId = entry.folderId;
    event.timestamp = entry.timestamp;
    // The log keeps the content's hash and version in its details.
    LoggedContent content = loggedContent(entry);
    event.hash = std::move(content.hash);
    event.version = content.version;
    return event;
}

bool PushEventHandler::needsFolderLookup(const FileChangedEvent& event) const
{
    const FolderResolver& resolver = *m_context.folderResolver;
    return event.path && event.folderId && !resolver.isRootFolder(*event.folderId) &&
           !resolver.getFolderByID(*event.folderId);
}

void PushEventHandler::lookUpFolder(const FileChangedEvent& event) const
{
    if (needsFolderLookup(event)) {
        m_context.folderResolver->indexTree(m_context.apiClient->getFolderTree(*event.folderId));
    }
}

void PushEventHandler::handle(const FileChangedEvent& event) const
{
    m_context.onStatusChange(SyncStatus::syncing);
    try {
        // A folder another device made since this engine started: without its path the file
        // would land in the wrong place.
        lookUpFolder(event);
        const auto joined = joinedPath(event);
        const bool content = isContentAction(event.action) && event.hash;
        if (joined && (content || event.action == "delete")) {
            // Event paths are input: one leading "/", nothing hidden, nothing outside.
            const auto checked = m_context.paths.checkRemotePath(*joined);
            if (!checked.path) {
                FileLogger::shared().error(
                    "sync", "sync error",
                    {{"path", *joined}, {"error", "refused server path: " + checked.refusal}});
            } else if (content) {
                applyContent(*checked.path, *event.hash, event.version);
            } else {
                applyDeletion(*checked.path);
            }
        }
    } catch (const std::exception& error) {
        m_context.onError("Sync error: " + std::string(error.what()));
        return;
    }
    m_context.onStatusChange(SyncStatus::idle);
}

void PushEventHandler::applyContent(const std::string& path, const std::string& hash,
                                    std::optional<std::int64_t> eventVersion) const
{
    if (m_context.selectiveSyncManager->isExcluded(path)) {
        return;
    }
    const auto stored = m_context.state->get(path);
    if (stored && eventVersion && *eventVersion < stored->version) {
        return;  // announced before content this client already holds
    }
    if (m_context.recentDeletions->isStale(path, hash)) {
        return;  // announced before this client's deletion of it reached the server
    }
    const std::int64_t version = eventVersion.value_or(0);
    const auto remember = [&] {
        m_context.state->set(path, FileState{hash, version, currentStateTime()});
        m_context.state->requestSave();
    };
    if (stored && stored->hash == hash) {
        // Nothing new, such as the announcement of this client's own upload; a file the user
        // has removed since is not brought back.
        if (version > stored->version) {
            remember();
        }
        return;
    }
    const auto local = localHash(path);
    if (local == hash) {
        remember();  // already here: fetch nothing
    } else if (!local || (stored && *local == stored->hash)) {
        m_context.transfers->receiveFile(path, hash, version, local);
        m_context.state->requestSave();
    } else {
        // An edit the server has not seen: it stays, and its own file event uploads it. With
        // the server's version kept beside it, the edit counts as made on top of that version,
        // so its upload names it as its base and is not taken for a blind overwrite.
        m_context.transfers->receiveConflictCopy(path, hash);
        remember();
    }
}

void PushEventHandler::applyDeletion(const std::string& path) const
{
    m_context.recentDeletions->confirm(path);
    struct stat info {};
    const bool exists = ::lstat(m_context.paths.localPath(path).c_str(), &info) == 0;
    const auto stored = m_context.state->get(path);
    if (!exists && !stored) {
        return;  // nothing here, such as the announcement of this client's own deletion
    }
    if (exists && S_ISREG(info.st_mode)) {
        // Edited since the last sync (up to the moment of removal), or never synced: the user's
        // copy stays.
        if (!stored || !m_context.transfers->deleteLocalFileIfUnchanged(path, stored->hash)) {
            return;
        }
    } else {
        m_context.transfers->deleteLocalFile(path);
    }
    m_context.state->requestSave();
}

std::optional<std::string> PushEventHandler::localHash(const std::string& path) const
{
    const std::filesystem::path file = m_context.paths.localPath(path);
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        throw Error("\"" + path + "\" is not a file here");
    }
    return hashFile(file);
}

}  // namespace corvane
