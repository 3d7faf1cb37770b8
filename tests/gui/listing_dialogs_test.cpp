// The channel table and the large-file question, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <filesystem>

#include "gui/channel_list_dialog.h"
#include "gui/control_ids.h"
#include "gui/dialog_units.h"
#include "gui/large_file_dialog.h"
#include "tests/gui/dialog_checks.h"
#include "tests/support/process.h"

namespace tarnvel::gui {
namespace {

namespace id = control_id;

using testing::LookAt;

ChannelInfoList ThreeChannels() {
  ChannelInfo known{"ABC", "BHZ", "00", 1237640700.0, 1237644300.0, 20.0, -1.0, true};
  ChannelInfo missing{"ABC", "BHN", "00", 1237640700.0, 1237644300.0, 20.0, -1.0, false};
  ChannelInfo otherRate{"DEF", "LHE", "??", 1237640000.0, 1237726399.0, 1.0, 20.0, true};
  return {known, missing, otherRate};
}

QString Cell(const QTableWidget* table, int row, int column) {
  return table->item(row, column)->text();
}

TEST(ChannelListDialog, ShowsTheChannelsWithTheirSitechanColumn) {
  ChannelListDialog dialog(ThreeChannels());
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), "Информация о содержимом файла");
  EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_EQ(dialog.findChild<QPushButton*>(id::kOk)->text(), "Выбрать");
  EXPECT_TRUE(dialog.findChild<QPushButton*>(id::kOk)->isDefault());
  EXPECT_EQ(dialog.findChild<QPushButton*>(id::kCancel)->text(), "Закрыть");
  const auto* explanation = dialog.findChild<QLabel*>();
  ASSERT_NE(explanation, nullptr);
  EXPECT_TRUE(explanation->text().startsWith(
      "Информация о каналах, данные по которым находятся в файле.\n\nПоле [БД ] содержит"));

  const QTableWidget* table = dialog.findChild<QTableWidget*>(id::kChannelTable);
  ASSERT_NE(table, nullptr);
  QStringList headers;
  for (int column = 0; column < table->columnCount(); ++column) {
    headers << table->horizontalHeaderItem(column)->text();
  }
  EXPECT_EQ(headers.join('|'), "Станция|Канал|LCODE|Время начала|Время конца|SpS|БД");
  // Each column has at least its share of the template's table (elevenths of it); the wider
  // texts get more.
  const int width = DialogUnits(dialog.font()).X(257) - 2 * table->frameWidth();
  EXPECT_GE(table->columnWidth(0), width / 11);
  EXPECT_GE(table->columnWidth(3), 3 * width / 11);
  EXPECT_GE(table->columnWidth(6), width / 11);

  ASSERT_EQ(table->rowCount(), 3);
  EXPECT_EQ(Cell(table, 0, 0), "ABC");
  EXPECT_EQ(Cell(table, 0, 3), "21/03/2009 13:05");
  EXPECT_EQ(Cell(table, 0, 4), "21/03/2009 14:05");
  EXPECT_EQ(Cell(table, 0, 5), "20.00");
  EXPECT_EQ(Cell(table, 0, 6), "Есть");
  EXPECT_EQ(Cell(table, 1, 6), "Нет");
  EXPECT_EQ(Cell(table, 2, 2), "??");
  EXPECT_EQ(Cell(table, 2, 5), "1.00");
  EXPECT_EQ(Cell(table, 2, 6), "20.00");
  EXPECT_EQ(table->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(table->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_FALSE(table->isSortingEnabled());
}

TEST(ChannelListDialog, ChoosingGivesTheSelectedRowOrNothing) {
  ChannelListDialog none(ThreeChannels());
  none.findChild<QPushButton*>(id::kOk)->click();
  EXPECT_EQ(none.result(), QDialog::Accepted);
  EXPECT_EQ(none.Choice().station, "*");

  ChannelListDialog chosen(ThreeChannels());
  chosen.Table()->selectRow(2);
  chosen.findChild<QPushButton*>(id::kOk)->click();
  const ChannelChoice choice = chosen.Choice();
  EXPECT_EQ(choice.station, "DEF");
  EXPECT_EQ(choice.channel, "LHE");
  EXPECT_EQ(choice.location, "??");
  EXPECT_DOUBLE_EQ(choice.begin, 1237640000.0);
  EXPECT_DOUBLE_EQ(choice.end, 1237726399.0);

  ChannelListDialog closed(ThreeChannels());
  closed.Table()->selectRow(1);
  closed.findChild<QPushButton*>(id::kCancel)->click();
  EXPECT_EQ(closed.result(), QDialog::Rejected);
  EXPECT_EQ(closed.Choice().station, "*");
}

// Fourteen channels with the longest texts the table shows: all of them whole, twelve rows at
// once.
ChannelInfoList ManyChannels() {
  ChannelInfoList channels;
  for (int i = 0; i < 14; ++i) {
    ChannelInfo info{"WWWWW", "BHZ", "00", 1237640700.0 + i, 1237644300.0, 150.0, -1.0, true};
    info.sitechanRate = i % 3 == 0 ? 100000.0 : -1.0;
    info.inSitechan = i % 3 != 1;
    channels.push_back(info);
  }
  return channels;
}

TEST(ChannelListDialog, EveryHeaderAndCellShowsWholeAndTwelveRowsAreVisible) {
  for (const ChannelInfoList& channels : {ThreeChannels(), ManyChannels()}) {
    ChannelListDialog dialog(channels);
    dialog.show();
    LookAt(dialog, channels.size() > 3 ? QStringLiteral("channel_list_14_rows") : QString());
    const QTableWidget* table = dialog.Table();
    const int rowsShown = (table->viewport()->height()) / table->rowHeight(0);
    EXPECT_GE(rowsShown, 12);
    // The template's proportions stay: the dialog only grows.
    EXPECT_GE(dialog.width(), table->geometry().right());
  }
}

TEST(ChannelListDialog, DoubleClickChoosesTheRow) {
  ChannelListDialog dialog(ThreeChannels());
  dialog.show();
  QTableWidget* table = dialog.Table();
  const QRect cell = table->visualRect(table->model()->index(1, 3));
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.Choice().station, "ABC");
  EXPECT_EQ(dialog.Choice().channel, "BHN");
}

// Keyboard only: the table has the focus, the arrow keys pick a row and Enter takes it.
TEST(ChannelListDialog, OpensOnTheTableForTheKeyboard) {
  ChannelListDialog dialog(ThreeChannels());
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  EXPECT_EQ(QApplication::focusWidget(), dialog.Table());
  QTest::keyClick(dialog.Table(), Qt::Key_Down);
  QTest::keyClick(dialog.Table(), Qt::Key_Down);
  QTest::keyClick(dialog.Table(), Qt::Key_Return);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Choice().station, "DEF");
}

TEST(ChannelListDialog, AChosenCodeHoldsAtMostSevenCharacters) {
  ChannelInfoList channels = ThreeChannels();
  channels[0].station = "File open error (/no/such/file.seed): No such file or directory";
  channels[0].channel = "КАНАЛЫВСЕ";  // seven Cyrillic letters are fourteen bytes
  ChannelListDialog dialog(channels);
  dialog.Table()->selectRow(0);
  dialog.accept();
  EXPECT_EQ(dialog.Choice().station, "File op");
  EXPECT_EQ(dialog.Choice().channel, "КАНАЛЫВ");
  EXPECT_EQ(dialog.Choice().location, "00");
}

// The checker the dialog tests rely on finds what an operator would miss.
TEST(DialogChecks, FindClippedAndEnglishTexts) {
  QDialog window;
  window.resize(200, 100);
  auto* fits = new QLabel(QStringLiteral("Станция"), &window);
  fits->setGeometry(0, 0, 150, 30);
  auto* narrow = new QLabel(QStringLiteral("Время начала"), &window);
  narrow->setGeometry(0, 30, 20, 30);
  auto* english = new QPushButton(QStringLiteral("Cancel"), &window);
  english->setGeometry(0, 60, 150, 30);
  window.show();
  const auto clipped = testing::ClippedTexts(window);
  ASSERT_EQ(clipped.size(), 1u);
  EXPECT_NE(clipped[0].find("Время начала"), std::string::npos);
  EXPECT_EQ(testing::EnglishTexts(window), std::vector<std::string>{"Cancel"});
  english->move(180, 60);  // half outside the window
  EXPECT_EQ(testing::ClippedTexts(window).size(), 2u);
}

class LargeFileDialogTest : public ::testing::Test {
 protected:
  QString SizedFile(std::uintmax_t bytes) {
    const auto path = dir_ / "big.seed";
    tarnvel::testing::WriteFile(path, "");
    std::filesystem::resize_file(path, bytes);
    return QString::fromStdString(path.string());
  }
  tarnvel::testing::TempDir dir_;
};

TEST_F(LargeFileDialogTest, ShowsTheSizeInWholeMegabytesAndTheProposal) {
  LargeFileDialog twelve(SizedFile(12 * 1048576), 10);
  EXPECT_EQ(twelve.windowTitle(), "Большой файл...");
  EXPECT_EQ(twelve.findChild<QLabel*>(id::kFileSize)->text(), "12 МБайт");
  EXPECT_EQ(twelve.findChild<QLineEdit*>(id::kViewLimit)->text(), "10");
  EXPECT_EQ(twelve.findChild<QPushButton*>(id::kOk)->text(), "OK");
  EXPECT_EQ(twelve.findChild<QPushButton*>(id::kCancel)->text(), "Отмена");

  LargeFileDialog ten(SizedFile(11000000), 10);
  EXPECT_EQ(ten.findChild<QLabel*>(id::kFileSize)->text(), "10 МБайт");
  ten.findChild<QPushButton*>(id::kOk)->click();
  EXPECT_EQ(ten.ViewLimit(), 10);
}

TEST_F(LargeFileDialogTest, LabelsAndValuesStandApartAndShowWhole) {
  LargeFileDialog dialog(SizedFile(12 * 1048576), 10);
  dialog.show();
  LookAt(dialog, QStringLiteral("large_file"));
  const QLabel* size = dialog.findChild<QLabel*>(id::kFileSize);
  for (const QLabel* label : dialog.findChildren<QLabel*>()) {
    if (label->text() != "Исходный размер файла") continue;
    const int textEnd = label->x() + label->fontMetrics().horizontalAdvance(label->text());
    EXPECT_GE(size->x() - textEnd, label->fontMetrics().horizontalAdvance(' '));
  }
}

TEST_F(LargeFileDialogTest, TakesOnlyDigitsAndCancelGivesMinusOne) {
  LargeFileDialog dialog(SizedFile(10485760), 10);
  auto* box = dialog.findChild<QLineEdit*>(id::kViewLimit);
  box->clear();
  QTest::keyClicks(box, "a5b");
  EXPECT_EQ(box->text(), "5");
  dialog.findChild<QPushButton*>(id::kOk)->click();
  EXPECT_EQ(dialog.ViewLimit(), 5);

  LargeFileDialog empty(SizedFile(10485760), 10);
  empty.findChild<QLineEdit*>(id::kViewLimit)->clear();
  empty.findChild<QPushButton*>(id::kOk)->click();
  EXPECT_EQ(empty.ViewLimit(), 0);

  LargeFileDialog cancelled(SizedFile(10485760), 10);
  cancelled.findChild<QPushButton*>(id::kCancel)->click();
  EXPECT_EQ(cancelled.ViewLimit(), -1);
}

// Keyboard only: the dialog opens on the number, typed digits replace it, Enter takes it.
TEST_F(LargeFileDialogTest, OpensOnTheNumberForTheKeyboard) {
  LargeFileDialog dialog(SizedFile(10485760), 10);
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  auto* box = dialog.findChild<QLineEdit*>(id::kViewLimit);
  EXPECT_EQ(QApplication::focusWidget(), box);
  QTest::keyClicks(box, "25");
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.ViewLimit(), 25);
}

TEST_F(LargeFileDialogTest, AFileThatDoesNotOpenLeavesBothEmpty) {
  LargeFileDialog dialog(QString::fromStdString((dir_ / "missing.seed").string()), 10);
  EXPECT_TRUE(dialog.findChild<QLabel*>(id::kFileSize)->text().isEmpty());
  EXPECT_TRUE(dialog.findChild<QLineEdit*>(id::kViewLimit)->text().isEmpty());
  dialog.findChild<QPushButton*>(id::kOk)->click();
  EXPECT_EQ(dialog.ViewLimit(), 0);
}

}  // namespace
}  // namespace tarnvel::gui
