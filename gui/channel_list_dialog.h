// The table of channels a listing run found; the operator picks one row or closes it.
#pragma once

#include <QDialog>

#include "gui/channel_info.h"

class QTableWidget;

namespace tarnvel::gui {

class ChannelListDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ChannelListDialog(ChannelInfoList channels, QWidget* parent = nullptr);

  // After "Выбрать": the selected row, or station "*" when no row was selected. After
  // "Закрыть": station "*".
  ChannelChoice Choice() const { return choice_; }
  QTableWidget* Table() const { return table_; }

  void accept() override;
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SizeColumns();

  ChannelInfoList channels_;
  ChannelChoice choice_;
  QTableWidget* table_ = nullptr;
};

}  // namespace tarnvel::gui
