// The main dialog's date and time pickers as an operator's keyboard expects them: each is one
// Tab stop (the arrow keys move between its fields), and a click on a field selects it, so the
// digits typed next replace that field.
#pragma once

#include <QDateEdit>
#include <QTimeEdit>

namespace tarnvel::gui {

class DatePicker : public QDateEdit {
 public:
  explicit DatePicker(QWidget* parent = nullptr);

 protected:
  bool focusNextPrevChild(bool next) override;
};

class TimePicker : public QTimeEdit {
 public:
  explicit TimePicker(QWidget* parent = nullptr);

 protected:
  bool focusNextPrevChild(bool next) override;
};

}  // namespace tarnvel::gui
