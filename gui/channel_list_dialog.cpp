#include "gui/channel_list_dialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <algorithm>

#include "gui/channel_table.h"
#include "gui/control_ids.h"
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

  choose_ = new QPushButton(QStringLiteral("Выбрать"), this);
  choose_->setObjectName(QString::fromLatin1(control_id::kOk));
  choose_->setDefault(true);
  connect(choose_, &QPushButton::clicked, this, &ChannelListDialog::accept);

  close_ = new QPushButton(QStringLiteral("Закрыть"), this);
  close_->setObjectName(QString::fromLatin1(control_id::kCancel));
  close_->setAutoDefault(false);
  connect(close_, &QPushButton::clicked, this, &ChannelListDialog::reject);

  table_ = new QTableWidget(this);
  table_->setObjectName(QString::fromLatin1(control_id::kChannelTable));
  table_->setShowGrid(true);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSortingEnabled(false);
  table_->setWordWrap(false);
  table_->verticalHeader()->setVisible(false);
  // Rows as high as a line of text with a little air, as a list view has them.
  table_->verticalHeader()->setMinimumSectionSize(1);
  table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
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
  // A double-click chooses the row at once.
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
    table_->selectRow(row);
    accept();
  });

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

  explanation_ = new QLabel(QString::fromUtf8(kExplanation), this);
  explanation_->setWordWrap(true);
  explanation_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ensurePolished();
  Layout();
  // The dialog opens on the table: the arrow keys pick a row, Enter takes it.
  table_->setFocus();
}

// The template's places, grown where the texts need more room: every column at least its share
// of the table (elevenths of its width) and as wide as its header and cells; the table tall
// enough for kVisibleRows rows; the explanation tall enough for its lines. The buttons keep
// their places relative to the lower right corner.
void ChannelListDialog::Layout() {
  const DialogUnits du(font());
  const QRect tableSpace = du.Rect(7, 51, 257, 114);
  const int frame = 2 * table_->frameWidth();
  const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, table_);
  const bool scrolls = table_->rowCount() > kVisibleRows;
  const int shareWidth = tableSpace.width() - frame - (scrolls ? scrollBar : 0);

  const QHeaderView& header = *table_->horizontalHeader();
  const int headerMargin = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header);
  const int cellMargin =
      2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table_) + 1) + 2;
  int columnsWidth = 0;
  for (int column = 0; column < table_->columnCount(); ++column) {
    int width = shareWidth * kColumns[column].elevenths / 11;
    width = std::max(width, header.fontMetrics().horizontalAdvance(
                                table_->horizontalHeaderItem(column)->text()) +
                                headerMargin + 2);
    for (int row = 0; row < table_->rowCount(); ++row) {
      width = std::max(
          width,
          table_->fontMetrics().horizontalAdvance(table_->item(row, column)->text()) + cellMargin);
    }
    table_->setColumnWidth(column, width);
    columnsWidth += width;
  }
  const int rowHeight = table_->verticalHeader()->defaultSectionSize();
  const QSize tableSize(
      std::max(tableSpace.width(), columnsWidth + frame + (scrolls ? scrollBar : 0)),
      std::max(tableSpace.height(), header.sizeHint().height() + kVisibleRows * rowHeight + frame));

  const QRect textSpace = du.Rect(7, 7, 257, 42);
  const int grow = tableSize.width() - tableSpace.width();
  const int textHeight =
      std::max(textSpace.height(), explanation_->heightForWidth(textSpace.width() + grow));
  const int down = (textHeight - textSpace.height()) + (tableSize.height() - tableSpace.height());

  explanation_->setGeometry(textSpace.x(), textSpace.y(), textSpace.width() + grow, textHeight);
  table_->setGeometry(tableSpace.x(), tableSpace.y() + textHeight - textSpace.height(),
                      tableSize.width(), tableSize.height());
  choose_->setGeometry(du.Rect(162, 168, 50, 14).translated(grow, down));
  close_->setGeometry(du.Rect(214, 168, 50, 14).translated(grow, down));
  setFixedSize(du.Size(271, 189) + QSize(grow, down));
}

void ChannelListDialog::accept() {
  choice_ = ChannelChoice{};
  choice_.station = "*";
  const auto selected = table_->selectionModel()->selectedRows();
  if (!selected.isEmpty()) {
    const ChannelInfo& info = channels_[static_cast<std::size_t>(selected.first().row())];
    choice_ = ChannelChoice{
        {ChannelCode(info.station), ChannelCode(info.channel), ChannelCode(info.location)},
        info.begin,
        info.end};
  }
  QDialog::accept();
}

void ChannelListDialog::reject() {
  choice_ = ChannelChoice{};
  choice_.station = "*";
  QDialog::reject();
}

}  // namespace tarnvel::gui
