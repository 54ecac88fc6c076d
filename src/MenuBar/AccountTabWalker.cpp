#include "MenuBar/AccountTabWalker.h"

#include <utility>

#include "App/BackgroundCall.h"
#include "Logging/FileLogger.h"
#include "Platform/MainQueue.h"

namespace corvane {

AccountTabWalker::AccountTabWalker(Walk walk, QObject* parent)
    : QObject(parent), m_walk(std::move(walk))
{
}

AccountTabWalker::~AccountTabWalker()
{
    m_stop.request_stop();
}

void AccountTabWalker::request(const std::filesystem::path& folder)
{
    MainQueue::assertMainThread("AccountTabWalker::request");
    if (m_walking) {
        m_next = folder;
        return;
    }
    start(folder);
}

void AccountTabWalker::start(const std::filesystem::path& folder)
{
    m_walking = true;
    m_stop = std::stop_source();
    runInBackground(
        this, [walk = m_walk, folder, stop = m_stop.get_token()] { return walk(folder, stop); },
        [this](std::optional<LocalFolderUsage> usage) {
            m_hasResult = true;
            m_result = usage;
            finish();
        },
        [this](const QString& error) {
            // Only running out of memory gets here; the last result stays on screen.
            FileLogger::shared().warn("settings", "sync folder not measured",
                                      {{"error", error.toStdString()}});
            finish();
        });
}

void AccountTabWalker::finish()
{
    m_walking = false;
    if (m_next) {
        start(*std::exchange(m_next, std::nullopt));
    }
    emit resultChanged();
}

}  // namespace corvane
