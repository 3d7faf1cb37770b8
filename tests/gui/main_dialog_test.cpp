// The main dialog offscreen: texts, initial state, tab order, pickers, results view, keys.
#include "gui/main_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
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
#include <QSignalSpy>
#include <QTest>
#include <QTimeEdit>

#include "gui/control_ids.h"
#include "gui/dialog_units.h"
#include "tests/gui/dialog_checks.h"
#include "tests/gui/scripted_dialogs.h"

namespace tarnvel::gui {
namespace {

namespace id = control_id;

using testing::ScriptedDialogs;

constexpr double kNow = 1321513500.0;  // 2011-11-17 07:05:00 UTC

template <typename Widget>
Widget* Find(const QWidget& dialog, const char* id) {
  auto* widget = dialog.findChild<Widget*>(QString::fromLatin1(id));
  EXPECT_NE(widget, nullptr) << id;
  return widget;
}

// Types `text` into `widget` key by key, letters of any alphabet as a keyboard layout sends them.
void Type(QWidget* widget, const QString& text) {
  for (const QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, c.isLetterOrNumber() ? c.toUpper().unicode() : 0,
                    Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, press.key(), Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &release);
  }
}

// Shows the dialog as the window that has the keyboard, as an operator's dialog is.
void ShowActive(QWidget& window) {
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

class MainDialogTest : public ::testing::Test {
 protected:
  ScriptedDialogs dialogs;
  MainDialog dialog{CssNotRequested{}, dialogs, kNow};
};

TEST_F(MainDialogTest, ShowsItsTextsUnderTheirIds) {
  EXPECT_EQ(dialog.windowTitle(), "tarnvel - конвертер из формата SEED в QOR");
  EXPECT_EQ(Find<QPushButton>(dialog, id::kBrowse)->text(), "...");
  EXPECT_EQ(Find<QPushButton>(dialog, id::kConvert)->text(), "КОНВЕРТИРОВАТЬ");
  EXPECT_EQ(Find<QPushButton>(dialog, id::kList)->text(), "ИНФОРМАЦИЯ О ФАЙЛЕ");
  EXPECT_EQ(Find<QCheckBox>(dialog, id::kUseBegin)->text(), "Задать время начала");
  EXPECT_EQ(Find<QCheckBox>(dialog, id::kUseEnd)->text(), "Задать время конца");
  EXPECT_EQ(Find<QRadioButton>(dialog, id::kToDatabase)->text(), "Базу данных QOR");
  EXPECT_EQ(Find<QRadioButton>(dialog, id::kToCss)->text(), "Файл CSS");
  EXPECT_EQ(Find<QCheckBox>(dialog, id::kShowResults)->text(), "Отображать результаты работы");

  QStringList labels;
  for (const auto* label : dialog.findChildren<QLabel*>()) labels << label->text();
  for (const char* text :
       {"* - Выбрать все", "Станция", "Канал", "LCODE", "Время начала", "Время конца",
        "Выберите конвертируемый файл", "Чтение файла", "Запись в базу данных"}) {
    EXPECT_TRUE(labels.contains(QString::fromUtf8(text))) << text;
  }
  QStringList groups;
  for (const auto* group : dialog.findChildren<QGroupBox*>()) groups << group->title();
  for (const char* text :
       {"Выберите станцию, канал и код расположения", "Выберите время начала и конца (GMT)",
        "Сохранять в ...", "Прогресс конвертирования"}) {
    EXPECT_TRUE(groups.contains(QString::fromUtf8(text))) << text;
  }
}

TEST_F(MainDialogTest, StartsCollapsedWithStarsDatabaseOutputAndDisabledUtcPickers) {
  const auto& c = dialog.controls();
  EXPECT_EQ(c.station->text(), "*");
  EXPECT_EQ(c.channel->text(), "*");
  EXPECT_EQ(c.location->text(), "*");
  EXPECT_TRUE(c.seedPath->text().isEmpty());
  EXPECT_TRUE(c.toDatabase->isChecked());
  EXPECT_FALSE(c.toCss->isChecked());
  EXPECT_FALSE(c.useBegin->isChecked());
  EXPECT_FALSE(c.useEnd->isChecked());
  EXPECT_FALSE(c.showResults->isChecked());
  EXPECT_EQ(c.reading->value(), 0);
  EXPECT_EQ(c.writing->value(), 0);
  EXPECT_TRUE(c.results->toPlainText().isEmpty());
  // The test runs in a time zone far from UTC: the pickers show UTC all the same.
  for (const QDateEdit* date : {c.beginDate, c.endDate}) {
    EXPECT_EQ(date->date(), QDate(2011, 11, 17));
    EXPECT_EQ(date->displayFormat(), "dd.MM.yyyy");
    EXPECT_FALSE(date->isEnabled());
  }
  for (const QTimeEdit* time : {c.beginTime, c.endTime}) {
    EXPECT_EQ(time->time(), QTime(7, 5));
    EXPECT_EQ(time->displayFormat(), "HH:mm");
    EXPECT_FALSE(time->isEnabled());
  }
  EXPECT_EQ(dialog.size(), dialog.CollapsedSize());
  EXPECT_EQ(dialog.CollapsedSize().height(), c.results->geometry().top());
  EXPECT_EQ(dialog.CollapsedSize().width(), dialog.FullSize().width());
  EXPECT_GT(dialog.FullSize().height(), c.results->geometry().bottom());
}

TEST(MainDialogCss, AnyCssRequestTicksTheCssOutput) {
  const CssRequest requests[] = {CssBesideSeed{}, CssBadPath{}, CssNamedPath{"x.wfdisc"},
                                 CssNamedPath{"C:\\out\\x.wfdisc"}, CssNamedPath{"NOT_FOUND"}};
  for (const CssRequest& choice : requests) {
    ScriptedDialogs dialogs;
    MainDialog dialog(choice, dialogs, kNow);
    EXPECT_TRUE(dialog.controls().toCss->isChecked()) << choice.index();
    EXPECT_FALSE(dialog.controls().toDatabase->isChecked()) << choice.index();
  }
}

// The controls the Tab key stops at, from the path box round to it again.
QStringList TabStops(MainDialog& dialog) {
  QStringList order;
  QWidget* start = dialog.controls().seedPath;
  start->setFocus(Qt::TabFocusReason);
  QWidget* focus = start;
  do {
    order << focus->objectName();
    QTest::keyClick(focus, Qt::Key_Tab);
    focus = QApplication::focusWidget();
  } while (focus != nullptr && focus != start && order.size() < 40);
  return order;
}

TEST_F(MainDialogTest, TabStopsOncePerControlInTemplateOrderAndSkipsWhatCannotBeUsed) {
  ShowActive(dialog);
  // Unticked: the pickers are disabled; collapsed: the results box is out of sight.
  EXPECT_EQ(TabStops(dialog).join(' ').toStdString(),
            QStringList({id::kSeedPath, id::kBrowse, id::kConvert, id::kList, id::kStation,
                         id::kChannel, id::kLocation, id::kUseBegin, id::kUseEnd, id::kShowResults})
                .join(' ')
                .toStdString());
  // Each picker is one stop, its fields are reached with the arrow keys.
  dialog.controls().useBegin->click();
  dialog.controls().useEnd->click();
  dialog.controls().showResults->click();
  EXPECT_EQ(TabStops(dialog).join(' ').toStdString(),
            QStringList({id::kSeedPath, id::kBrowse, id::kConvert, id::kList, id::kStation,
                         id::kChannel, id::kLocation, id::kUseBegin, id::kBeginDate, id::kBeginTime,
                         id::kUseEnd, id::kEndDate, id::kEndTime, id::kShowResults, id::kResults})
                .join(' ')
                .toStdString());
  auto* date = dialog.controls().beginDate;
  date->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(date->currentSection(), QDateTimeEdit::DaySection);
  QTest::keyClick(date, Qt::Key_Right);
  QTest::keyClick(date, Qt::Key_Right);
  QTest::keyClick(date, Qt::Key_Right);
  EXPECT_EQ(date->currentSection(), QDateTimeEdit::MonthSection);
}

TEST_F(MainDialogTest, CheckboxesEnableOnlyTheirOwnPickers) {
  const auto& c = dialog.controls();
  c.useBegin->click();
  EXPECT_TRUE(c.beginDate->isEnabled());
  EXPECT_TRUE(c.beginTime->isEnabled());
  EXPECT_FALSE(c.endDate->isEnabled());
  EXPECT_FALSE(c.endTime->isEnabled());
  c.useEnd->click();
  c.useBegin->click();
  EXPECT_FALSE(c.beginDate->isEnabled());
  EXPECT_TRUE(c.endDate->isEnabled());
  EXPECT_TRUE(c.endTime->isEnabled());
}

TEST_F(MainDialogTest, BeginPickersCarryTheEndAlongButNotTheOtherWay) {
  const auto& c = dialog.controls();
  c.beginTime->setTime(QTime(10, 30));
  EXPECT_EQ(c.endTime->time(), QTime(10, 30));
  c.beginDate->setDate(QDate(2012, 2, 29));
  EXPECT_EQ(c.endDate->date(), QDate(2012, 2, 29));
  c.endTime->setTime(QTime(11, 0));
  c.endDate->setDate(QDate(2012, 3, 1));
  EXPECT_EQ(c.beginTime->time(), QTime(10, 30));
  EXPECT_EQ(c.beginDate->date(), QDate(2012, 2, 29));

  // Typed by the operator: the arrow key steps the hours of the begin time.
  c.useBegin->click();
  dialog.show();
  c.beginTime->setFocus();
  c.beginTime->setCurrentSection(QDateTimeEdit::HourSection);
  QTest::keyClick(c.beginTime, Qt::Key_Up);
  EXPECT_EQ(c.beginTime->time(), QTime(11, 30));
  EXPECT_EQ(c.endTime->time(), QTime(11, 30));
}

TEST_F(MainDialogTest, DigitsTypedOverAPickersFieldReplaceIt) {
  const auto& c = dialog.controls();
  c.useBegin->click();
  ShowActive(dialog);
  QLineEdit* editor = c.beginTime->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  // Tabbed into: the hours are selected.
  c.beginTime->setFocus(Qt::TabFocusReason);
  QTest::keyClicks(c.beginTime, "15");
  EXPECT_EQ(c.beginTime->time(), QTime(15, 5));
  // Clicked into the hours, then into the minutes.
  c.seedPath->setFocus();
  QTest::mouseClick(editor, Qt::LeftButton, {}, QPoint(3, editor->height() / 2));
  QTest::keyClicks(c.beginTime, "09");
  EXPECT_EQ(c.beginTime->time(), QTime(9, 5));
  QTest::mouseClick(editor, Qt::LeftButton, {},
                    QPoint(editor->fontMetrics().horizontalAdvance(QStringLiteral("09:3")) + 1,
                           editor->height() / 2));
  QTest::keyClicks(c.beginTime, "42");
  EXPECT_EQ(c.beginTime->time(), QTime(9, 42));
  EXPECT_EQ(c.endTime->time(), QTime(9, 42));
  // The date picker the same way: the day.
  QLineEdit* dateEditor = c.beginDate->findChild<QLineEdit*>();
  QTest::mouseClick(dateEditor, Qt::LeftButton, {}, QPoint(3, dateEditor->height() / 2));
  QTest::keyClicks(c.beginDate, "03");
  EXPECT_EQ(c.beginDate->date(), QDate(2011, 11, 3));
}

TEST_F(MainDialogTest, PickersAreReadAsUtcFields) {
  const auto& c = dialog.controls();
  c.useEnd->click();
  c.endDate->setDate(QDate(2009, 3, 21));
  c.endTime->setTime(QTime(13, 5));
  const PickerTime end = dialog.EndTime();
  EXPECT_TRUE(end.set);
  EXPECT_EQ(end.year, 2009);
  EXPECT_EQ(end.month, 3);
  EXPECT_EQ(end.day, 21);
  EXPECT_EQ(end.hour, 13);
  EXPECT_EQ(end.minute, 5);
  EXPECT_FALSE(dialog.BeginTime().set);
}

TEST_F(MainDialogTest, ChannelChoiceFillsBoxesAndPickersLeavingTheCheckboxesAlone) {
  dialog.ApplyChannelChoice({"ABC", "BHZ", "00", 1237640759.9, 1237644300.0});
  const auto& c = dialog.controls();
  EXPECT_EQ(c.station->text(), "ABC");
  EXPECT_EQ(c.channel->text(), "BHZ");
  EXPECT_EQ(c.location->text(), "00");
  EXPECT_EQ(c.beginDate->date(), QDate(2009, 3, 21));
  EXPECT_EQ(c.beginTime->time(), QTime(13, 5));
  EXPECT_EQ(c.endTime->time(), QTime(14, 5));
  EXPECT_FALSE(c.useBegin->isChecked());
  EXPECT_FALSE(c.beginDate->isEnabled());
}

TEST_F(MainDialogTest, ResultsViewGrowsAndShrinksInPlace) {
  dialog.show();
  dialog.move(40, 50);
  const QPoint position = dialog.pos();
  dialog.SetResultsText("Обнаружено в файле:\r\nABC::BHZ::00 1.00 - 2.00 20\r\n");
  dialog.controls().showResults->click();
  EXPECT_TRUE(dialog.controls().results->isVisible());
  // As laid out where the screen has room for it.
  if (dialog.screen()->availableGeometry().bottom() >= 50 + dialog.FullSize().height()) {
    EXPECT_EQ(dialog.size(), dialog.FullSize());
  }
  EXPECT_EQ(dialog.controls().results->toPlainText(),
            "Обнаружено в файле:\nABC::BHZ::00 1.00 - 2.00 20\n");
  dialog.controls().showResults->click();
  EXPECT_EQ(dialog.size(), dialog.CollapsedSize());
  EXPECT_EQ(dialog.pos(), position);
  EXPECT_FALSE(dialog.controls().results->isVisible());
}

// Shown full on any screen, the dialog stays on it: the results box gives up height (down to a
// few lines) and only a screen too low for that moves the dialog up. The tests run this on the
// offscreen screen and again scaled by 1.5 on a 1280x1024 one.
TEST_F(MainDialogTest, TheFullDialogFitsTheScreenItIsOn) {
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  const DialogUnits du(dialog.font());
  const int bottomMargin = du.Y(418) - du.Y(269) - du.Y(142);
  const QRect screen = dialog.screen()->availableGeometry();
  const QPlainTextEdit& results = *dialog.controls().results;
  // The operator moves the collapsed dialog to `top`, then shows the results.
  const auto openResultsAt = [&](int top) {
    dialog.controls().showResults->setChecked(false);
    dialog.move(dialog.pos().x(), top);
    EXPECT_TRUE(testing::WaitUntil([&] { return dialog.pos().y() == top; }, 5000));
    dialog.controls().showResults->setChecked(true);
  };
  for (const int top : {screen.top(), screen.top() + 150, screen.bottom() - dialog.height()}) {
    openResultsAt(top);
    SCOPED_TRACE("opened at " + std::to_string(top));
    EXPECT_TRUE(screen.contains(dialog.frameGeometry()))
        << dialog.frameGeometry().bottom() << " below " << screen.bottom();
    EXPECT_LE(dialog.height(), dialog.FullSize().height());
    EXPECT_GE(results.height(), MainDialog::kMinResultLines * results.fontMetrics().lineSpacing());
    // The results box ends where the dialog's bottom margin begins.
    EXPECT_EQ(results.geometry().bottom() + 1 + bottomMargin, dialog.height());
  }
  openResultsAt(screen.top() + 150);
  testing::LookAt(dialog, QStringLiteral("main_full_on_screen"));
  testing::SaveScreenOf(dialog, QStringLiteral("screen_with_main_full"));
}

TEST_F(MainDialogTest, AsARunsViewItShowsWhatTheRunHandsIt) {
  const auto& c = dialog.controls();
  RunView& view = dialog;
  EXPECT_EQ(view.Window(), &dialog);
  view.ShowProgress(41, std::nullopt);
  view.ShowProgress(std::nullopt, 57);
  EXPECT_EQ(c.reading->value(), 41);
  EXPECT_EQ(c.writing->value(), 57);

  view.ShowResultsText("Connection string: x\r\nDB write error (A::B::C)\r\n");
  EXPECT_EQ(c.results->toPlainText(), "Connection string: x\nDB write error (A::B::C)\n");
  EXPECT_EQ(dialog.ResultsText(), "Connection string: x\r\nDB write error (A::B::C)\r\n");
  view.SetResultsText("Обнаружено в файле:\r\n");
  view.ClearResultsBox();
  EXPECT_TRUE(c.results->toPlainText().isEmpty());
  EXPECT_EQ(dialog.ResultsText(), "Обнаружено в файле:\r\n");

  view.SetChannels({ChannelInfo{"ABC", "BHZ", "00", 1.0, 2.0, 20.0, -1.0, true}});
  ASSERT_EQ(dialog.Channels().size(), 1u);
  EXPECT_EQ(dialog.Channels()[0].station, "ABC");

  EXPECT_FALSE(view.CssChosen());
  c.toCss->click();
  EXPECT_TRUE(view.CssChosen());
  c.seedPath->setText(QStringLiteral("/данные/x.seed"));
  c.station->setText(QStringLiteral("ABC"));
  EXPECT_EQ(view.SeedPath(), "/данные/x.seed");
  EXPECT_EQ(view.Boxes().station, "ABC");
  EXPECT_EQ(view.Boxes().channel, "*");
}

TEST_F(MainDialogTest, TypedChannelLettersBecomeCapitals) {
  auto* station = dialog.controls().station;
  station->clear();
  QTest::keyClicks(station, "abc");
  EXPECT_EQ(station->text(), "ABC");
}

// A Cyrillic "С" looks like the Latin "C" but names no channel: the boxes take only what the
// converter's channel filter takes, and say why a key did nothing.
TEST_F(MainDialogTest, ChannelBoxesRefuseWhatTheFilterCannotTake) {
  ShowActive(dialog);
  const auto& c = dialog.controls();
  auto* hint = dialog.findChild<QLabel*>(QString::fromLatin1(id::kPatternHint));
  ASSERT_NE(hint, nullptr);
  EXPECT_FALSE(hint->isVisible());
  c.station->clear();
  c.station->setFocus();
  Type(c.station, QStringLiteral("СER"));
  EXPECT_EQ(c.station->text(), "ER");
  EXPECT_TRUE(hint->isVisible());
  EXPECT_EQ(hint->text(), "Только латинские буквы, цифры, * и ?");
  testing::LookAt(dialog, QStringLiteral("lookalike_refused"));
  QTest::keyClick(c.station, Qt::Key_Home);
  QTest::keyClicks(c.station, "C");
  EXPECT_EQ(c.station->text(), "CER");
  // Leaving the box takes the note away.
  c.channel->setFocus();
  EXPECT_FALSE(hint->isVisible());

  // Separators and blanks would split the filter; wildcards are welcome.
  c.channel->clear();
  QTest::keyClicks(c.channel, "b:h ,;z?*");
  EXPECT_EQ(c.channel->text(), "BHZ?*");

  // The filter's limit applies while typing.
  c.location->clear();
  QTest::keyClicks(c.location, "ABCDEFGHIJ");
  EXPECT_EQ(c.location->text(), "ABCDEFG");
  EXPECT_EQ(hint->text(), "Не более 7 символов");

  // Pasted text is refused whole when it holds anything else.
  c.station->selectAll();
  c.station->insert(QStringLiteral("СЕР"));
  EXPECT_EQ(c.station->text(), "CER");

  // Left empty, a box means every code.
  c.station->setFocus();
  QTest::keyClick(c.station, Qt::Key_End);
  for (int i = 0; i < 3; ++i) QTest::keyClick(c.station, Qt::Key_Backspace);
  EXPECT_EQ(c.station->text(), "");
  c.channel->setFocus();
  EXPECT_EQ(c.station->text(), "*");
}

TEST_F(MainDialogTest, FileChooserFillsThePathOrLeavesIt) {
  dialogs.openAnswer = QStringLiteral("/data/x.seed");
  dialog.ChooseSeedFile();
  EXPECT_EQ(dialog.controls().seedPath->text(), "/data/x.seed");
  dialogs.openAnswer.reset();
  dialog.controls().browse->click();
  EXPECT_EQ(dialogs.openRequests, 2);
  EXPECT_EQ(dialog.controls().seedPath->text(), "/data/x.seed");
}

TEST_F(MainDialogTest, EnterDoesNothing) {
  QSignalSpy listings(&dialog, &MainDialog::listingRequested);
  QSignalSpy conversions(&dialog, &MainDialog::conversionRequested);
  dialog.show();
  for (QWidget* target :
       {static_cast<QWidget*>(dialog.controls().station),
        static_cast<QWidget*>(dialog.controls().convert), static_cast<QWidget*>(&dialog)}) {
    QTest::keyClick(target, Qt::Key_Return);
    QTest::keyClick(target, Qt::Key_Enter);
  }
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialogs.questions, 0);
  EXPECT_EQ(listings.count(), 0);
  EXPECT_EQ(conversions.count(), 0);
}

TEST_F(MainDialogTest, EscapeAndCloseAskBeforeEnding) {
  dialog.show();
  dialogs.yesAnswer = false;
  QTest::keyClick(&dialog, Qt::Key_Escape);
  ASSERT_EQ(dialogs.questions, 1);
  EXPECT_EQ(dialogs.messages.back().text, "Завершить работу программы?");
  EXPECT_EQ(dialogs.messages.back().caption, "Завершение работы...");
  EXPECT_TRUE(dialog.isVisible());

  dialog.close();
  EXPECT_EQ(dialogs.questions, 2);
  EXPECT_TRUE(dialog.isVisible());

  dialogs.yesAnswer = true;
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_EQ(dialogs.questions, 3);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(MainDialogTest, ARunTakesNoInputButCanBeStoppedAfterAQuestion) {
  QSignalSpy stops(&dialog, &MainDialog::stopRequested);
  ShowActive(dialog);
  const auto& c = dialog.controls();
  EXPECT_EQ(c.stop->text(), "Прервать");
  EXPECT_TRUE(c.stop->isVisible());
  EXPECT_FALSE(c.stop->isEnabled());
  c.useBegin->click();
  dialog.SetRunning(true);
  for (QWidget* input : std::initializer_list<QWidget*>{c.convert, c.seedPath, c.station,
                                                        c.beginTime, c.showResults}) {
    EXPECT_FALSE(input->isEnabled()) << input->objectName().toStdString();
  }
  EXPECT_TRUE(c.stop->isEnabled());
  EXPECT_EQ(QApplication::focusWidget(), c.stop);
  // What the operator watches during a run is not greyed out.
  EXPECT_TRUE(c.reading->isEnabled());
  EXPECT_TRUE(c.writing->isEnabled());
  c.reading->setValue(41);
  testing::LookAt(dialog, QStringLiteral("run_with_stop_button"));

  // Escape asks; "Нет" lets the run go on.
  dialogs.yesAnswer = false;
  QTest::keyClick(&dialog, Qt::Key_Escape);
  ASSERT_EQ(dialogs.questions, 1);
  EXPECT_EQ(dialogs.messages.back().text, "Прервать работу конвертера?");
  EXPECT_EQ(dialogs.messages.back().caption, "Прерывание операции");
  EXPECT_EQ(stops.count(), 0);
  // "Да" stops it; the dialog stays.
  dialogs.yesAnswer = true;
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_EQ(stops.count(), 1);
  c.stop->click();
  EXPECT_EQ(dialogs.questions, 3);
  EXPECT_EQ(stops.count(), 2);
  EXPECT_TRUE(dialog.isVisible());

  // The close box asks whether to stop and quit.
  dialogs.yesAnswer = false;
  dialog.close();
  EXPECT_EQ(dialogs.messages.back().text,
            "Прервать работу конвертера и завершить работу программы?");
  EXPECT_EQ(dialogs.messages.back().caption, "Завершение работы...");
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(stops.count(), 2);

  // The run ends: the inputs come back as they were, the pickers' own state included.
  dialog.SetRunning(false);
  EXPECT_TRUE(c.convert->isEnabled());
  EXPECT_TRUE(c.beginTime->isEnabled());
  EXPECT_FALSE(c.endTime->isEnabled());
  EXPECT_FALSE(c.stop->isEnabled());
  c.stop->click();
  EXPECT_EQ(dialogs.questions, 4);

  dialog.SetRunning(true);
  dialogs.yesAnswer = true;
  dialog.close();
  EXPECT_EQ(stops.count(), 3);
  EXPECT_FALSE(dialog.isVisible());
}

TEST_F(MainDialogTest, TheWritingBarNamesTheCssFileACssConversionWrites) {
  dialog.show();
  auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(id::kWritingLabel));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), "Запись в базу данных");
  dialog.ShowWritingTarget("/data/css/2005-07-23.wfdisc");
  EXPECT_EQ(label->text(), "Запись в файл CSS: 2005-07-23.wfdisc");
  EXPECT_EQ(label->toolTip(), "/data/css/2005-07-23.wfdisc");
  testing::LookAt(dialog, QStringLiteral("css_writing_label"));
  // A name longer than the bar keeps its start and its end.
  const std::string longName = "/data/" + std::string(120, '7') + "-9.wfdisc";
  dialog.ShowWritingTarget(longName);
  EXPECT_TRUE(label->text().startsWith(QStringLiteral("Запись в файл CSS: 777")));
  EXPECT_TRUE(label->text().endsWith(QStringLiteral("-9.wfdisc")));
  EXPECT_TRUE(label->text().contains(QStringLiteral("…")));
  testing::LookAt(dialog, {});
  dialog.ShowWritingTarget({});
  EXPECT_EQ(label->text(), "Запись в базу данных");
}

TEST_F(MainDialogTest, EveryTextShowsWholeCollapsedAndFull) {
  dialog.show();
  dialog.controls().reading->setValue(100);
  testing::LookAt(dialog, QStringLiteral("main_collapsed"));
  dialog.controls().showResults->click();
  testing::LookAt(dialog, QStringLiteral("main_full"));
}

TEST_F(MainDialogTest, ProgressBarsShowTheirPercentage) {
  const auto& c = dialog.controls();
  EXPECT_TRUE(c.reading->isTextVisible());
  EXPECT_TRUE(c.writing->isTextVisible());
  c.reading->setValue(41);
  c.writing->setValue(7);
  EXPECT_EQ(c.reading->text(), "41%");
  EXPECT_EQ(c.writing->text(), "7%");
}

TEST_F(MainDialogTest, BeginCalendarOpensAlignedWithThePickersRightEdge) {
  const auto& c = dialog.controls();
  dialog.show();
  c.useBegin->click();
  QWidget* popup = c.beginDate->calendarWidget()->window();
  ASSERT_NE(popup, &dialog);
  // The drop-down arrow at the picker's right end opens the calendar.
  QTest::mouseClick(c.beginDate, Qt::LeftButton, {},
                    QPoint(c.beginDate->width() - 4, c.beginDate->height() / 2));
  ASSERT_TRUE(popup->isVisible());
  const QPoint pickerRight = c.beginDate->mapToGlobal(QPoint(c.beginDate->width(), 0));
  EXPECT_EQ(popup->geometry().right() + 1, pickerRight.x());
  EXPECT_GT(popup->width(), c.beginDate->width());
  // Outside a Russian locale the calendar is Russian all the same.
  EXPECT_EQ(c.beginDate->calendarWidget()->locale().language(), QLocale::Russian);
  popup->hide();
}

}  // namespace
}  // namespace tarnvel::gui
