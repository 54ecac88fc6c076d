#pragma once

#include <chrono>

#include <QString>

#include "MenuBar/PlainRowButton.h"

class QLabel;

namespace corvane {

class OneLineLabel;
class SymbolLabel;
struct ActivityItem;

// One finished activity: its type's symbol (red when it failed, secondary otherwise), the
// file's name, how long ago it happened and, when it failed, a red marker at the end. A click
// anywhere on the row asks for the folder of the file. Main thread only.
class RecentActivityRow final : public PlainRowButton {
    Q_OBJECT

public:
    static constexpr const char* kFailedMarker = "exclamationmark.circle.fill";

    explicit RecentActivityRow(QWidget* parent = nullptr);

    void setItem(const ActivityItem& item, std::chrono::system_clock::time_point now);
    void refreshTime(std::chrono::system_clock::time_point now);

    // The sync-relative path of the row's file, as the feed gave it.
    const QString& filePath() const { return m_filePath; }
    QString fileName() const;
    QString timeText() const;
    const SymbolLabel& symbol() const { return *m_symbol; }
    // Null while the item has not failed.
    const SymbolLabel* failedMarker() const;

private:
    SymbolLabel* m_symbol;
    OneLineLabel* m_name;
    QLabel* m_time;
    SymbolLabel* m_marker;
    QString m_filePath;
    std::chrono::system_clock::time_point m_timestamp;
};

}  // namespace corvane
