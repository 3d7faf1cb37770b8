// Asks how many megabytes of a large SEED file a listing run should look at.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

namespace tarnvel::gui {

class LargeFileDialog : public QDialog {
  Q_OBJECT

 public:
  LargeFileDialog(const QString& seedPath, int proposedMb, QWidget* parent = nullptr);

  // After "OK": the number typed (0 without digits); after "Отмена": -1.
  int ViewLimit() const { return viewLimit_; }

  void accept() override;
  void reject() override;

 private:
  QLabel* sizeLabel_ = nullptr;
  QLineEdit* limitBox_ = nullptr;
  int viewLimit_ = -1;
};

}  // namespace tarnvel::gui
