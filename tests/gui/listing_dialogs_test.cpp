// The channel table and the large-file question, offscreen.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <filesystem>

#include "gui/channel_list_dialog.h"
#include "gui/large_file_dialog.h"
#include "tests/support/process.h"

namespace tarnvel::gui {
namespace {

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
  EXPECT_EQ(dialog.findChild<QPushButton*>("OK")->text(), "Выбрать");
  EXPECT_TRUE(dialog.findChild<QPushButton*>("OK")->isDefault());
  EXPECT_EQ(dialog.findChild<QPushButton*>("Cancel")->text(), "Закрыть");
  const auto* explanation = dialog.findChild<QLabel*>();
  ASSERT_NE(explanation, nullptr);
  EXPECT_TRUE(explanation->text().startsWith(
      "Информация о каналах, данные по которым находятся в файле.\n\nПоле [БД ] содержит"));

  const QTableWidget* table = dialog.findChild<QTableWidget*>("1023");
  ASSERT_NE(table, nullptr);
  QStringList headers;
  for (int column = 0; column < table->columnCount(); ++column) {
    headers << table->horizontalHeaderItem(column)->text();
  }
  EXPECT_EQ(headers.join('|'), "Станция|Канал|LCODE|Время начала|Время конца|SpS|БД");
  const int width = table->viewport()->width();
  EXPECT_EQ(table->columnWidth(0), width / 11);
  EXPECT_EQ(table->columnWidth(3), 3 * width / 11);
  EXPECT_EQ(table->columnWidth(6), width / 11);

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
  none.findChild<QPushButton*>("OK")->click();
  EXPECT_EQ(none.result(), QDialog::Accepted);
  EXPECT_EQ(none.Choice().station, "*");

  ChannelListDialog chosen(ThreeChannels());
  chosen.Table()->selectRow(2);
  chosen.findChild<QPushButton*>("OK")->click();
  const ChannelChoice choice = chosen.Choice();
  EXPECT_EQ(choice.station, "DEF");
  EXPECT_EQ(choice.channel, "LHE");
  EXPECT_EQ(choice.location, "??");
  EXPECT_DOUBLE_EQ(choice.begin, 1237640000.0);
  EXPECT_DOUBLE_EQ(choice.end, 1237726399.0);

  ChannelListDialog closed(ThreeChannels());
  closed.Table()->selectRow(1);
  closed.findChild<QPushButton*>("Cancel")->click();
  EXPECT_EQ(closed.result(), QDialog::Rejected);
  EXPECT_EQ(closed.Choice().station, "*");
}

class LargeFileDialogTest : public ::testing::Test {
 protected:
  QString SizedFile(std::uintmax_t bytes) {
    const auto path = dir_ / "big.seed";
    testing::WriteFile(path, "");
    std::filesystem::resize_file(path, bytes);
    return QString::fromStdString(path.string());
  }
  testing::TempDir dir_;
};

TEST_F(LargeFileDialogTest, ShowsTheSizeInWholeMegabytesAndTheProposal) {
  LargeFileDialog twelve(SizedFile(12 * 1048576), 10);
  EXPECT_EQ(twelve.windowTitle(), "Большой файл...");
  EXPECT_EQ(twelve.findChild<QLabel*>("1024")->text(), "12 МБайт");
  EXPECT_EQ(twelve.findChild<QLineEdit*>("1025")->text(), "10");
  EXPECT_EQ(twelve.findChild<QPushButton*>("OK")->text(), "OK");
  EXPECT_EQ(twelve.findChild<QPushButton*>("Cancel")->text(), "Отмена");

  LargeFileDialog ten(SizedFile(11000000), 10);
  EXPECT_EQ(ten.findChild<QLabel*>("1024")->text(), "10 МБайт");
  ten.findChild<QPushButton*>("OK")->click();
  EXPECT_EQ(ten.ViewLimit(), 10);
}

TEST_F(LargeFileDialogTest, TakesOnlyDigitsAndCancelGivesMinusOne) {
  LargeFileDialog dialog(SizedFile(10485760), 10);
  auto* box = dialog.findChild<QLineEdit*>("1025");
  box->clear();
  QTest::keyClicks(box, "a5b");
  EXPECT_EQ(box->text(), "5");
  dialog.findChild<QPushButton*>("OK")->click();
  EXPECT_EQ(dialog.ViewLimit(), 5);

  LargeFileDialog empty(SizedFile(10485760), 10);
  empty.findChild<QLineEdit*>("1025")->clear();
  empty.findChild<QPushButton*>("OK")->click();
  EXPECT_EQ(empty.ViewLimit(), 0);

  LargeFileDialog cancelled(SizedFile(10485760), 10);
  cancelled.findChild<QPushButton*>("Cancel")->click();
  EXPECT_EQ(cancelled.ViewLimit(), -1);
}

TEST_F(LargeFileDialogTest, AFileThatDoesNotOpenLeavesBothEmpty) {
  LargeFileDialog dialog(QString::fromStdString((dir_ / "missing.seed").string()), 10);
  EXPECT_TRUE(dialog.findChild<QLabel*>("1024")->text().isEmpty());
  EXPECT_TRUE(dialog.findChild<QLineEdit*>("1025")->text().isEmpty());
  dialog.findChild<QPushButton*>("OK")->click();
  EXPECT_EQ(dialog.ViewLimit(), 0);
}

}  // namespace
}  // namespace tarnvel::gui
