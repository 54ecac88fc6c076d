#pragma once

#include <chrono>
#include <vector>

#include <QString>
#include <QWidget>

class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace corvane {

class RecentActivityRow;
struct ActivityItem;

// "RECENT": "No recent activity", or the eight newest finished activities in a scroll area at
// most 200 pixels high. The rows are made once and filled anew. Main thread only.
class RecentActivitySection final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kMaxListHeight = 200;

    explicit RecentActivitySection(QWidget* parent = nullptr);

    void refresh(const std::vector<ActivityItem>& recent,
                 std::chrono::system_clock::time_point now);
    void refreshTimes(std::chrono::system_clock::time_point now);

    // The rows shown, newest first.
    std::vector<RecentActivityRow*> rows() const;
    bool showsEmptyNotice() const;
    const QScrollArea& list() const { return *m_scroll; }

signals:
    // A row was clicked: the sync-relative path of its file.
    void rowClicked(const QString& filePath);

private:
    void fitListHeight();

    QLabel* m_empty;
    QScrollArea* m_scroll;
    QVBoxLayout* m_rows;
    std::vector<RecentActivityRow*> m_rowWidgets;
};

}  // namespace corvane
