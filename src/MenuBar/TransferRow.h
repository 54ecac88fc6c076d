#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

namespace corvane {

class OneLineLabel;
class SymbolLabel;
struct ActivityItem;

// One running transfer: its type's symbol in blue, the file's name, a progress bar and the
// status text ("42% - 1.5 MB / 3.6 MB"). Main thread only.
class TransferRow final : public QWidget {
    Q_OBJECT

public:
    // The bar's steps between nothing and done.
    static constexpr int kProgressSteps = 1000;

    explicit TransferRow(QWidget* parent = nullptr);

    // Shows `item`; what did not change is left as it is.
    void setItem(const ActivityItem& item);

    const SymbolLabel& symbol() const { return *m_symbol; }
    QString fileName() const;
    int progressValue() const;
    QString statusText() const;

private:
    SymbolLabel* m_symbol;
    OneLineLabel* m_name;
    QProgressBar* m_progress;
    QLabel* m_status;
};

}  // namespace corvane
