// The table of channels a listing run found; the operator picks one row or closes it.
#pragma once

#include <QDialog>

#include "gui/channel_info.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace tarnvel::gui {

class ChannelListDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ChannelListDialog(ChannelInfoList channels, QWidget* parent = nullptr);

  // Rows the table shows at once.
  static constexpr int kVisibleRows = 12;

  // After "Выбрать" or a double-click: the selected row, its codes cut to 7 characters, or
  // station "*" when no row was selected. After "Закрыть": station "*".
  ChannelChoice Choice() const { return choice_; }
  QTableWidget* Table() const { return table_; }

  void accept() override;
  void reject() override;

 private:
  void Layout();

  ChannelInfoList channels_;
  ChannelChoice choice_;
  QTableWidget* table_ = nullptr;
  QLabel* explanation_ = nullptr;
  QPushButton* choose_ = nullptr;
  QPushButton* close_ = nullptr;
};

}  // namespace tarnvel::gui
