#include "gui/main_dialog.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateEdit>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimeEdit>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "converter/filter_patterns.h"
#include "gui/channel_patterns.h"
#include "gui/control_ids.h"
#include "gui/dialog_services.h"
#include "gui/dialog_units.h"
#include "gui/messages.h"
#include "gui/program_icon.h"
#include "gui/time_pickers.h"
#include "gui/utc_time.h"

namespace tarnvel::gui {
namespace {

namespace id = control_id;

template <typename Widget>
Widget* Place(Widget* widget, const DialogUnits& du, int x, int y, int width, int height,
              const char* id = nullptr) {
  widget->setGeometry(du.Rect(x, y, width, height));
  if (id != nullptr) widget->setObjectName(QString::fromLatin1(id));
  return widget;
}

QLabel* Label(QWidget* parent, const DialogUnits& du, const char* text, int x, int y, int width,
              int height, Qt::Alignment alignment = Qt::AlignLeft) {
  auto* label = Place(new QLabel(QString::fromUtf8(text), parent), du, x, y, width, height);
  label->setAlignment(alignment | Qt::AlignTop);
  return label;
}

QGroupBox* Group(QWidget* parent, const DialogUnits& du, const char* title, int x, int y, int width,
                 int height, Qt::Alignment alignment = Qt::AlignLeft) {
  auto* group = Place(new QGroupBox(QString::fromUtf8(title), parent), du, x, y, width, height);
  group->setAlignment(alignment);
  group->setFocusPolicy(Qt::NoFocus);
  group->setAttribute(Qt::WA_TransparentForMouseEvents);
  group->lower();  // drawn beneath the controls it frames
  return group;
}

QPushButton* Button(QWidget* parent, const DialogUnits& du, const char* text, int x, int y,
                    int width, int height, const char* id) {
  auto* button =
      Place(new QPushButton(QString::fromUtf8(text), parent), du, x, y, width, height, id);
  button->setAutoDefault(false);
  return button;
}

// A station, channel or location box: typed letters become capitals, and only what the
// converter's channel filter takes can be typed (ASCII letters and digits, "*" and "?", at most
// its length); a refused key shows `hint` for a while, or until the operator leaves the box.
QLineEdit* ChannelBox(QWidget* parent, const DialogUnits& du, int x, int y, const char* id,
                      QLabel* hint, QTimer* hintShown) {
  auto* box = Place(new QLineEdit(parent), du, x, y, 51, 14, id);
  box->setMaxLength(static_cast<int>(filter_pattern::kMaxLength));
  box->setValidator(NewChannelPatternValidator(box));
  QObject::connect(box, &QLineEdit::textEdited, box, [box](const QString& text) {
    const QString upper = text.toUpper();
    if (upper == text) return;
    const int cursor = box->cursorPosition();
    box->setText(upper);
    box->setCursorPosition(cursor);
  });
  QObject::connect(box, &QLineEdit::inputRejected, box, [box, hint, hintShown] {
    char length[64];
    std::snprintf(length, sizeof length, text::kPatternLengthHintFormat, box->maxLength());
    const bool full = box->text().size() >= box->maxLength() && !box->hasSelectedText();
    hint->setText(QString::fromUtf8(full ? length : text::kPatternCharactersHint));
    hint->show();
    hintShown->start();
  });
  QObject::connect(box, &QLineEdit::editingFinished, box, [box, hint] {
    hint->hide();
    // Left empty, a box means every code, as "*" says.
    if (box->text().isEmpty()) box->setText(QStringLiteral("*"));
  });
  return box;
}

QDateEdit* NewDatePicker(QWidget* parent, const DialogUnits& du, int x, int y, const char* id) {
  auto* picker = Place(new DatePicker(parent), du, x, y, 61, 15, id);
  picker->setTimeSpec(Qt::UTC);
  picker->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
  picker->setCalendarPopup(true);
  return picker;
}

// Keeps a date picker's drop-down calendar aligned with the picker's right edge (inside the
// screen), where the toolkit would open it from the left edge.
class RightAlignedCalendar : public QObject {
 public:
  explicit RightAlignedCalendar(QDateEdit* picker) : QObject(picker), picker_(picker) {
    picker->calendarWidget()->window()->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      auto* popup = static_cast<QWidget*>(watched);
      int x = picker_->mapToGlobal(QPoint(picker_->width(), 0)).x() - popup->width();
      if (const QScreen* screen = picker_->screen()) {
        x = std::max(x, screen->availableGeometry().left());
      }
      popup->move(x, popup->y());
    }
    return false;
  }

 private:
  QDateEdit* picker_;
};

QTimeEdit* NewTimePicker(QWidget* parent, const DialogUnits& du, int x, int y, const char* id) {
  auto* picker = Place(new TimePicker(parent), du, x, y, 38, 15, id);
  picker->setTimeSpec(Qt::UTC);
  picker->setDisplayFormat(QStringLiteral("HH:mm"));
  return picker;
}

QProgressBar* Bar(QWidget* parent, const DialogUnits& du, int y, const char* id) {
  auto* bar = Place(new QProgressBar(parent), du, 14, y, 256, 14, id);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setFormat(QStringLiteral("%p%"));
  bar->setTextVisible(true);
  bar->setFocusPolicy(Qt::NoFocus);
  return bar;
}

PickerTime ReadPickers(const QCheckBox* use, const QDateEdit* date, const QTimeEdit* time) {
  PickerTime value;
  value.set = use->isChecked();
  value.year = date->date().year();
  value.month = date->date().month();
  value.day = date->date().day();
  value.hour = time->time().hour();
  value.minute = time->time().minute();
  return value;
}

}  // namespace

MainDialog::MainDialog(const CssRequest& cssChoice, DialogServices& services, double now,
                       QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      services_(services) {
  setFont(DialogFont());
  setWindowTitle(QStringLiteral("tarnvel - конвертер из формата SEED в QOR"));
  setWindowIcon(ProgramIcon());
  BuildControls();

  const DialogUnits du(font());
  fullSize_ = du.Size(284, 418);
  resultsPlace_ = controls_.results->geometry();
  collapsedSize_ = QSize(fullSize_.width(), resultsPlace_.top());
  content_->setGeometry(0, 0, fullSize_.width(), fullSize_.height());
  inputs_->setGeometry(content_->rect());
  controls_.results->hide();
  setFixedSize(collapsedSize_);

  controls_.station->setText(QStringLiteral("*"));
  controls_.channel->setText(QStringLiteral("*"));
  controls_.location->setText(QStringLiteral("*"));

  if (std::holds_alternative<CssNotRequested>(cssChoice)) {
    controls_.toDatabase->setChecked(true);
  } else {
    controls_.toCss->setChecked(true);
  }

  couplingPickers_ = true;
  SetPickers(controls_.beginDate, controls_.beginTime, now);
  SetPickers(controls_.endDate, controls_.endTime, now);
  couplingPickers_ = false;
  for (QWidget* picker :
       {static_cast<QWidget*>(controls_.beginDate), static_cast<QWidget*>(controls_.beginTime),
        static_cast<QWidget*>(controls_.endDate), static_cast<QWidget*>(controls_.endTime)}) {
    picker->setEnabled(false);
  }
}

void MainDialog::BuildControls() {
  const DialogUnits du(font());
  content_ = new QWidget(this);
  // Every control that takes input but "Прервать": the part of the dialog a run disables.
  inputs_ = new QWidget(content_);
  QWidget* p = inputs_;
  Controls& c = controls_;

  c.seedPath = Place(new QLineEdit(p), du, 7, 17, 249, 14, id::kSeedPath);
  c.browse = Button(p, du, "...", 259, 17, 18, 14, id::kBrowse);
  c.convert = Button(p, du, "КОНВЕРТИРОВАТЬ", 187, 43, 90, 22, id::kConvert);
  c.list = Button(p, du, "ИНФОРМАЦИЯ О ФАЙЛЕ", 187, 74, 90, 22, id::kList);
  Label(p, du, "* - Выбрать все", 14, 50, 161, 8);
  // Below the boxes, inside their group: why a key was refused.
  patternHint_ = Label(p, du, "", 14, 89, 161, 8);
  patternHint_->setObjectName(QString::fromLatin1(id::kPatternHint));
  QPalette warning = patternHint_->palette();
  warning.setColor(QPalette::WindowText, QColor(0xb0, 0x00, 0x00));
  patternHint_->setPalette(warning);
  patternHint_->hide();
  auto* hintShown = new QTimer(patternHint_);
  hintShown->setSingleShot(true);
  hintShown->setInterval(kPatternHintMs);
  connect(hintShown, &QTimer::timeout, patternHint_, &QLabel::hide);
  c.station = ChannelBox(p, du, 14, 75, id::kStation, patternHint_, hintShown);
  c.channel = ChannelBox(p, du, 69, 75, id::kChannel, patternHint_, hintShown);
  c.location = ChannelBox(p, du, 123, 75, id::kLocation, patternHint_, hintShown);
  c.useBegin = Place(new QCheckBox(QStringLiteral("Задать время начала"), p), du, 14, 117, 157, 10,
                     id::kUseBegin);
  c.beginDate = NewDatePicker(p, du, 72, 129, id::kBeginDate);
  new RightAlignedCalendar(c.beginDate);
  c.beginTime = NewTimePicker(p, du, 136, 129, id::kBeginTime);
  c.useEnd = Place(new QCheckBox(QStringLiteral("Задать время конца"), p), du, 14, 149, 157, 10,
                   id::kUseEnd);
  c.endDate = NewDatePicker(p, du, 71, 162, id::kEndDate);
  c.endTime = NewTimePicker(p, du, 135, 162, id::kEndTime);
  c.toDatabase = Place(new QRadioButton(QStringLiteral("Базу данных QOR"), p), du, 194, 121, 78, 10,
                       id::kToDatabase);
  c.toDatabase->setFocusPolicy(Qt::ClickFocus);
  c.toCss =
      Place(new QRadioButton(QStringLiteral("Файл CSS"), p), du, 194, 142, 73, 10, id::kToCss);
  c.toCss->setFocusPolicy(Qt::ClickFocus);
  Group(p, du, "Выберите станцию, канал и код расположения", 7, 39, 176, 58);
  Label(p, du, text::kStationBox, 14, 66, 51, 8);
  Label(p, du, text::kChannelBox, 69, 66, 51, 8);
  Label(p, du, text::kLocationBox, 123, 66, 51, 8);
  Group(p, du, "Выберите время начала и конца (GMT)", 7, 104, 175, 79, Qt::AlignHCenter);
  Label(p, du, "Время начала", 14, 132, 56, 8);
  Label(p, du, "Время конца", 14, 164, 56, 8);
  Label(p, du, "Выберите конвертируемый файл", 7, 8, 270, 8, Qt::AlignHCenter);
  Group(p, du, "Сохранять в ...", 187, 104, 90, 58);
  // The progress of a run, outside the inputs: it stays as readable as it is while a run lasts.
  QWidget* const progress = content_;
  c.reading = Bar(progress, du, 205, id::kReadingBar);
  Group(progress, du, "Прогресс конвертирования", 7, 186, 270, 65, Qt::AlignHCenter);
  Label(progress, du, "Чтение файла", 15, 196, 90, 8);
  // As wide as the bar below it: during a CSS conversion it names the file written.
  writingLabel_ = Label(progress, du, text::kWritingToDatabase, 15, 223, 255, 8);
  writingLabel_->setObjectName(QString::fromLatin1(id::kWritingLabel));
  c.writing = Bar(progress, du, 231, id::kWritingBar);
  c.showResults = Place(new QCheckBox(QStringLiteral("Отображать результаты работы"), p), du, 7,
                        254, 200, 10, id::kShowResults);
  c.results = Place(new QPlainTextEdit(p), du, 7, 269, 270, 142, id::kResults);
  c.results->setReadOnly(true);
  c.results->setTabChangesFocus(true);
  c.results->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  c.results->setFocusPolicy(Qt::StrongFocus);
  // Outside the inputs: the one control a run leaves enabled.
  c.stop = Button(content_, du, text::kStop, 217, 252, 60, 14, id::kStop);
  c.stop->setEnabled(false);

  connect(c.browse, &QPushButton::clicked, this, &MainDialog::ChooseSeedFile);
  connect(c.convert, &QPushButton::clicked, this, &MainDialog::conversionRequested);
  connect(c.list, &QPushButton::clicked, this, &MainDialog::listingRequested);
  connect(c.stop, &QPushButton::clicked, this, &MainDialog::AskToStop);
  connect(c.useBegin, &QCheckBox::toggled, this, [this](bool on) {
    controls_.beginDate->setEnabled(on);
    controls_.beginTime->setEnabled(on);
  });
  connect(c.useEnd, &QCheckBox::toggled, this, [this](bool on) {
    controls_.endDate->setEnabled(on);
    controls_.endTime->setEnabled(on);
  });
  // The end of the window follows its begin while the operator edits the begin.
  connect(c.beginDate, &QDateEdit::dateChanged, this, [this](QDate date) {
    if (!couplingPickers_) controls_.endDate->setDate(date);
  });
  connect(c.beginTime, &QTimeEdit::timeChanged, this, [this](QTime time) {
    if (!couplingPickers_) controls_.endTime->setTime(time);
  });
  connect(c.showResults, &QCheckBox::toggled, this, &MainDialog::ShowResults);
}

void MainDialog::ChooseSeedFile() {
  if (const auto path = services_.OpenSeedFile(this)) controls_.seedPath->setText(*path);
}

void MainDialog::ShowResults(bool show) {
  controls_.results->setVisible(show);
  if (show) {
    SetResultsBox(resultsText_);
    setFixedSize(FitFullSize());
  } else {
    setFixedSize(collapsedSize_);
  }
}

QSize MainDialog::FitFullSize() {
  int height = fullSize_.height();
  if (const QScreen* screen = this->screen(); screen != nullptr && isVisible()) {
    const QRect available = screen->availableGeometry();
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    const int frameAbove = client.top() - frame.top();
    const int frameBelow = frame.bottom() - client.bottom();
    const int room = available.bottom() + 1 - frameBelow - client.top();
    const QPlainTextEdit& results = *controls_.results;
    const int smallest =
        resultsPlace_.top() + kMinResultLines * results.fontMetrics().lineSpacing() +
        2 * (results.frameWidth() + static_cast<int>(results.document()->documentMargin())) +
        (fullSize_.height() - resultsPlace_.bottom() - 1);
    height = std::min(height, std::max(room, smallest));
    // Only a screen too low for the smallest results box moves the dialog, and only up.
    if (height > room) {
      const int up = std::min(height - room, client.top() - frameAbove - available.top());
      if (up > 0) move(pos().x(), pos().y() - up);
    }
  }
  const int bottomMargin = fullSize_.height() - resultsPlace_.bottom() - 1;
  controls_.results->setGeometry(resultsPlace_.x(), resultsPlace_.y(), resultsPlace_.width(),
                                 height - resultsPlace_.y() - bottomMargin);
  return {fullSize_.width(), height};
}

void MainDialog::SetResultsBox(const std::string& text) {
  QString shown = QString::fromStdString(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  controls_.results->setPlainText(shown);
}

void MainDialog::SetPickers(QDateEdit* date, QTimeEdit* time, double epochSeconds) {
  const UtcFields fields = UtcFieldsOf(epochSeconds);
  date->setDate(QDate(fields.year, fields.month, fields.day));
  time->setTime(QTime(fields.hour, fields.minute));
}

PickerTime MainDialog::BeginTime() const {
  return ReadPickers(controls_.useBegin, controls_.beginDate, controls_.beginTime);
}

PickerTime MainDialog::EndTime() const {
  return ReadPickers(controls_.useEnd, controls_.endDate, controls_.endTime);
}

bool MainDialog::CssChosen() const {
  return controls_.toCss->isChecked();
}

void MainDialog::ShowProgress(std::optional<int> reading, std::optional<int> writing) {
  if (reading) controls_.reading->setValue(*reading);
  if (writing) controls_.writing->setValue(*writing);
}

void MainDialog::ShowWritingTarget(const std::string& wfdiscPath) {
  if (wfdiscPath.empty()) {
    writingLabel_->setText(QString::fromUtf8(text::kWritingToDatabase));
    writingLabel_->setToolTip({});
    return;
  }
  const QString path = QString::fromStdString(wfdiscPath);
  const QString name = QFileInfo(path).fileName();
  const QString full =
      QString::fromUtf8(text::kWritingToCssFormat).replace(QLatin1String("%s"), name);
  const QString head = QString::fromUtf8(text::kWritingToCssFormat).remove(QLatin1String("%s"));
  // A long name gives up its middle, so its start and its extension stay readable.
  const int room = writingLabel_->width() - writingLabel_->fontMetrics().horizontalAdvance(head);
  const QString shown =
      writingLabel_->fontMetrics().horizontalAdvance(full) <= writingLabel_->width()
          ? full
          : head + writingLabel_->fontMetrics().elidedText(name, Qt::ElideMiddle, room);
  writingLabel_->setText(shown);
  writingLabel_->setToolTip(path);
}

void MainDialog::ShowResultsText(const std::string& text) {
  resultsText_ = text;
  SetResultsBox(text);
}

void MainDialog::ClearResultsBox() {
  controls_.results->clear();
}

ChannelBoxes MainDialog::Boxes() const {
  return {controls_.station->text().toStdString(), controls_.channel->text().toStdString(),
          controls_.location->text().toStdString()};
}

std::string MainDialog::SeedPath() const {
  return controls_.seedPath->text().toStdString();
}

void MainDialog::ApplyChannelChoice(const ChannelChoice& choice) {
  controls_.station->setText(QString::fromStdString(choice.station));
  controls_.channel->setText(QString::fromStdString(choice.channel));
  controls_.location->setText(QString::fromStdString(choice.location));
  couplingPickers_ = true;
  SetPickers(controls_.beginDate, controls_.beginTime, choice.begin);
  SetPickers(controls_.endDate, controls_.endTime, choice.end);
  couplingPickers_ = false;
}

void MainDialog::SetRunning(bool running) {
  if (running == running_) return;
  running_ = running;
  if (running) {
    focusBeforeRun_ = focusWidget();
    patternHint_->hide();
  }
  inputs_->setEnabled(!running);
  controls_.stop->setEnabled(running);
  if (running) {
    controls_.stop->setFocus(Qt::OtherFocusReason);
  } else if (focusBeforeRun_ != nullptr) {
    focusBeforeRun_->setFocus(Qt::OtherFocusReason);
  }
}

void MainDialog::AskToStop() {
  if (!running_) return;
  if (services_.AskYesNo(this, QString::fromUtf8(text::kStopQuestion),
                         QString::fromUtf8(text::kStopCaption))) {
    emit stopRequested();
  }
}

void MainDialog::accept() {
  // Enter is not a way to leave the dialog.
}

void MainDialog::reject() {
  if (running_) {
    AskToStop();
    return;
  }
  if (services_.AskYesNo(this, QString::fromUtf8(text::kQuitQuestion),
                         QString::fromUtf8(text::kQuitCaption))) {
    QDialog::reject();
  }
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void MainDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (!running_) {
    reject();
    return;
  }
  // Closing while a converter runs stops it; the program ends without waiting for the run's
  // closing message, and its converter is ended with it.
  if (services_.AskYesNo(this, QString::fromUtf8(text::kStopAndQuitQuestion),
                         QString::fromUtf8(text::kQuitCaption))) {
    emit stopRequested();
    QDialog::reject();
  }
}

}  // namespace tarnvel::gui
