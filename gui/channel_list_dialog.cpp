#include "gui/channel_list_dialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include "gui/channel_table.h"
#include "gui/dialog_units.h"

namespace tarnvel::gui {
namespace {

constexpr char kExplanation[] =
    "Информация о каналах, данные по которым находятся в файле.\n\nПоле [БД ] содержит "
    "информацию о том, есть ли описание данных каналов в базе данных (таблица SITECHAN). Если "
    "SpS отличается от описанного в базе данных, то отображается значение SpS из базы данных";

// Columns with their share of the table width in elevenths.
struct Column {
  const char* title;
  int elevenths;
};
constexpr Column kColumns[] = {{"Станция", 1},     {"Канал", 1}, {"LCODE", 1}, {"Время начала", 3},
                               {"Время конца", 3}, {"SpS", 1},   {"БД", 1}};

}  // namespace

ChannelListDialog::ChannelListDialog(ChannelInfoList channels, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint),
      channels_(std::move(channels)) {
  choice_.station = "*";
  setFont(DialogFont());
  setWindowTitle(QStringLiteral("Информация о содержимом файла"));
  const DialogUnits du(font());
  setFixedSize(du.Size(271, 189));

  auto* choose = new QPushButton(QStringLiteral("Выбрать"), this);
  choose->setObjectName(QStringLiteral("OK"));
  choose->setGeometry(du.Rect(162, 168, 50, 14));
  choose->setDefault(true);
  connect(choose, &QPushButton::clicked, this, &ChannelListDialog::accept);

  auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
  close->setObjectName(QStringLiteral("Cancel"));
  close->setGeometry(du.Rect(214, 168, 50, 14));
  close->setAutoDefault(false);
  connect(close, &QPushButton::clicked, this, &ChannelListDialog::reject);

  table_ = new QTableWidget(this);
  table_->setObjectName(QStringLiteral("1023"));
  table_->setGeometry(du.Rect(7, 51, 257, 114));
  table_->setShowGrid(true);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSortingEnabled(false);
  table_->verticalHeader()->setVisible(false);
  table_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  table_->horizontalHeader()->setHighlightSections(false);
  table_->setColumnCount(static_cast<int>(std::size(kColumns)));
  QStringList titles;
  for (const auto& column : kColumns) titles << QString::fromUtf8(column.title);
  table_->setHorizontalHeaderLabels(titles);
  // The selected row stays visible while the table has no focus.
  QPalette palette = table_->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight,
                   palette.color(QPalette::Active, QPalette::Highlight));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Active, QPalette::HighlightedText));
  table_->setPalette(palette);

  table_->setRowCount(static_cast<int>(channels_.size()));
  for (int row = 0; row < table_->rowCount(); ++row) {
    const ChannelInfo& info = channels_[static_cast<std::size_t>(row)];
    const std::string cells[] = {info.station,        info.channel,
                                 info.location,       TableTime(info.begin),
                                 TableTime(info.end), TableRate(info.sampleRate),
                                 DatabaseCell(info)};
    for (int column = 0; column < table_->columnCount(); ++column) {
      table_->setItem(row, column, new QTableWidgetItem(QString::fromStdString(cells[column])));
    }
  }
  SizeColumns();

  auto* explanation = new QLabel(QString::fromUtf8(kExplanation), this);
  explanation->setGeometry(du.Rect(7, 7, 257, 42));
  explanation->setWordWrap(true);
  explanation->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void ChannelListDialog::SizeColumns() {
  const int width = table_->viewport()->width();
  for (int column = 0; column < table_->columnCount(); ++column) {
    table_->setColumnWidth(column, width * kColumns[column].elevenths / 11);
  }
}

void ChannelListDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  SizeColumns();
}

void ChannelListDialog::accept() {
  choice_ = ChannelChoice{};
  choice_.station = "*";
  const auto selected = table_->selectionModel()->selectedRows();
  if (!selected.isEmpty()) {
    const ChannelInfo& info = channels_[static_cast<std::size_t>(selected.first().row())];
    choice_ = ChannelChoice{info.station, info.channel, info.location, info.begin, info.end};
  }
  QDialog::accept();
}

void ChannelListDialog::reject() {
  choice_ = ChannelChoice{};
  choice_.station = "*";
  QDialog::reject();
}

}  // namespace tarnvel::gui
