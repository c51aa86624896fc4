#pragma once
// The history window: this month's reported groups from the history file, newest first, with a search box
// that keeps the rows holding its text in any cell. It reads the file when it opens and on 刷新.

#include <QDialog>
#include <filesystem>

class QLabel;
class QLineEdit;
class QTableWidget;

namespace tandrel {

class HistoryWindow : public QDialog {
    Q_OBJECT

  public:
    HistoryWindow(std::filesystem::path dataDir, QWidget* parent = nullptr);

    // Re-reads this month's file.
    void Reload();
    // Keeps the rows with text in any cell (no text: every row).
    void Filter(const QString& text);

    QTableWidget* table() const { return table_; }

  private:
    std::filesystem::path dataDir_;
    QLineEdit* search_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* count_ = nullptr;
};

}  // namespace tandrel
