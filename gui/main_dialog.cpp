#include "gui/main_dialog.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateEdit>
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
#include <algorithm>

#include "gui/control_ids.h"
#include "gui/dialog_services.h"
#include "gui/dialog_units.h"
#include "gui/messages.h"
#include "gui/program_icon.h"
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

QLineEdit* CapitalsBox(QWidget* parent, const DialogUnits& du, int x, int y, const char* id) {
  auto* box = Place(new QLineEdit(parent), du, x, y, 51, 14, id);
  QObject::connect(box, &QLineEdit::textEdited, box, [box](const QString& text) {
    const QString upper = text.toUpper();
    if (upper == text) return;
    const int cursor = box->cursorPosition();
    box->setText(upper);
    box->setCursorPosition(cursor);
  });
  return box;
}

QDateEdit* DatePicker(QWidget* parent, const DialogUnits& du, int x, int y, const char* id) {
  auto* picker = Place(new QDateEdit(parent), du, x, y, 61, 15, id);
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

QTimeEdit* TimePicker(QWidget* parent, const DialogUnits& du, int x, int y, const char* id) {
  auto* picker = Place(new QTimeEdit(parent), du, x, y, 38, 15, id);
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

MainDialog::MainDialog(const std::string& cssChoice, DialogServices& services, double now,
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
  collapsedSize_ = QSize(fullSize_.width(), controls_.results->geometry().top());
  content_->setGeometry(0, 0, fullSize_.width(), fullSize_.height());
  setFixedSize(collapsedSize_);

  controls_.station->setText(QStringLiteral("*"));
  controls_.channel->setText(QStringLiteral("*"));
  controls_.location->setText(QStringLiteral("*"));

  if (cssChoice == "NOT_FOUND") {
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
  QWidget* p = content_;
  Controls& c = controls_;

  c.seedPath = Place(new QLineEdit(p), du, 7, 17, 249, 14, id::kSeedPath);
  c.browse = Button(p, du, "...", 259, 17, 18, 14, id::kBrowse);
  c.convert = Button(p, du, "КОНВЕРТИРОВАТЬ", 187, 43, 90, 22, id::kConvert);
  c.list = Button(p, du, "ИНФОРМАЦИЯ О ФАЙЛЕ", 187, 74, 90, 22, id::kList);
  Label(p, du, "* - Выбрать все", 14, 50, 161, 8);
  c.station = CapitalsBox(p, du, 14, 75, id::kStation);
  c.channel = CapitalsBox(p, du, 69, 75, id::kChannel);
  c.location = CapitalsBox(p, du, 123, 75, id::kLocation);
  c.useBegin = Place(new QCheckBox(QStringLiteral("Задать время начала"), p), du, 14, 117, 157, 10,
                     id::kUseBegin);
  c.beginDate = DatePicker(p, du, 72, 129, id::kBeginDate);
  new RightAlignedCalendar(c.beginDate);
  c.beginTime = TimePicker(p, du, 136, 129, id::kBeginTime);
  c.useEnd = Place(new QCheckBox(QStringLiteral("Задать время конца"), p), du, 14, 149, 157, 10,
                   id::kUseEnd);
  c.endDate = DatePicker(p, du, 71, 162, id::kEndDate);
  c.endTime = TimePicker(p, du, 135, 162, id::kEndTime);
  c.toDatabase = Place(new QRadioButton(QStringLiteral("Базу данных QOR"), p), du, 194, 121, 78, 10,
                       id::kToDatabase);
  c.toDatabase->setFocusPolicy(Qt::ClickFocus);
  c.toCss =
      Place(new QRadioButton(QStringLiteral("Файл CSS"), p), du, 194, 142, 73, 10, id::kToCss);
  c.toCss->setFocusPolicy(Qt::ClickFocus);
  Group(p, du, "Выберите станцию, канал и код расположения", 7, 39, 176, 58);
  Label(p, du, "Станция", 14, 66, 51, 8);
  Label(p, du, "Канал", 69, 66, 51, 8);
  Label(p, du, "LCODE", 123, 66, 51, 8);
  Group(p, du, "Выберите время начала и конца (GMT)", 7, 104, 175, 79, Qt::AlignHCenter);
  Label(p, du, "Время начала", 14, 132, 56, 8);
  Label(p, du, "Время конца", 14, 164, 56, 8);
  Label(p, du, "Выберите конвертируемый файл", 7, 8, 270, 8, Qt::AlignHCenter);
  Group(p, du, "Сохранять в ...", 187, 104, 90, 58);
  c.reading = Bar(p, du, 205, id::kReadingBar);
  Group(p, du, "Прогресс конвертирования", 7, 186, 270, 65, Qt::AlignHCenter);
  Label(p, du, "Чтение файла", 15, 196, 90, 8);
  Label(p, du, "Запись в базу данных", 15, 223, 90, 8);
  c.writing = Bar(p, du, 231, id::kWritingBar);
  c.showResults = Place(new QCheckBox(QStringLiteral("Отображать результаты работы"), p), du, 7,
                        254, 270, 10, id::kShowResults);
  c.results = Place(new QPlainTextEdit(p), du, 7, 269, 270, 142, id::kResults);
  c.results->setReadOnly(true);
  c.results->setTabChangesFocus(true);
  c.results->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  c.results->setFocusPolicy(Qt::StrongFocus);

  connect(c.browse, &QPushButton::clicked, this, &MainDialog::ChooseSeedFile);
  connect(c.convert, &QPushButton::clicked, this, &MainDialog::conversionRequested);
  connect(c.list, &QPushButton::clicked, this, &MainDialog::listingRequested);
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
  if (show) {
    SetResultsBox(resultsText_);
    setFixedSize(fullSize_);
  } else {
    setFixedSize(collapsedSize_);
  }
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
  running_ = running;
  content_->setEnabled(!running);
}

void MainDialog::accept() {
  // Enter is not a way to leave the dialog.
}

void MainDialog::reject() {
  if (running_) return;
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
  reject();
}

}  // namespace tarnvel::gui
