#include "gui/time_pickers.h"

#include <QEvent>
#include <QLineEdit>

namespace tarnvel::gui {
namespace {

// Selects the field under the cursor once a click has placed it there, unless the click
// selected text of its own.
class SelectFieldOnClick : public QObject {
 public:
  SelectFieldOnClick(QDateTimeEdit* picker, QLineEdit* editor) : QObject(picker), picker_(picker) {
    editor->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonRelease &&
        !static_cast<QLineEdit*>(watched)->hasSelectedText()) {
      picker_->setSelectedSection(picker_->currentSection());
    }
    return false;
  }

 private:
  QDateTimeEdit* picker_;
};

}  // namespace

DatePicker::DatePicker(QWidget* parent) : QDateEdit(parent) {
  new SelectFieldOnClick(this, lineEdit());
}

// Tab leaves the picker instead of stepping through its fields.
bool DatePicker::focusNextPrevChild(bool next) {
  return QWidget::focusNextPrevChild(next);
}

TimePicker::TimePicker(QWidget* parent) : QTimeEdit(parent) {
  new SelectFieldOnClick(this, lineEdit());
}

bool TimePicker::focusNextPrevChild(bool next) {
  return QWidget::focusNextPrevChild(next);
}

}  // namespace tarnvel::gui
