#pragma once

#include <vector>

#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace corvane {

class TransferRow;
struct ActivityItem;

// "SYNCING": a row for each of the first five running transfers and "and <n> more..." for the
// rest. Rows are kept and filled anew, so a progress report redraws only what it changed.
// Main thread only.
class TransfersSection final : public QWidget {
    Q_OBJECT

public:
    explicit TransfersSection(QWidget* parent = nullptr);

    void refresh(const std::vector<ActivityItem>& transfers);

    // The rows shown, in list order.
    std::vector<const TransferRow*> rows() const;
    // Empty while it is hidden.
    QString moreText() const;

private:
    QVBoxLayout* m_rows;
    std::vector<TransferRow*> m_rowWidgets;
    QLabel* m_more;
};

}  // namespace corvane
