#include "gui/file_dialog_columns.h"

#include <QDateTime>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLocale>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
#include <algorithm>

namespace tarnvel::gui {
namespace {

enum Column { kName = 0, kSize = 1, kType = 2, kDate = 3 };

const QLocale& Russian() {
  static const QLocale locale(QLocale::Russian, QLocale::Russia);
  return locale;
}

}  // namespace

QString RussianFileSize(qint64 bytes) {
  static const char* const kUnits[] = {"КБ", "МБ", "ГБ", "ТБ"};
  if (bytes < 1024) return Russian().toString(bytes) + QStringLiteral(" байт");
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
    value /= 1024.0;
    ++unit;
  }
  return Russian().toString(value, 'f', 1) + QLatin1Char(' ') + QString::fromUtf8(kUnits[unit]);
}

QString RussianFileType(bool isFolder, const QString& suffix) {
  if (isFolder) return QStringLiteral("Папка");
  return suffix.isEmpty() ? QStringLiteral("Файл") : QStringLiteral("Файл ") + suffix;
}

QString RussianFileDate(const QDateTime& modified) {
  return Russian().toString(modified.toLocalTime(), QStringLiteral("dd.MM.yyyy HH:mm"));
}

QVariant RussianFileColumns::data(const QModelIndex& index, int role) const {
  const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
  if (role != Qt::DisplayRole || files == nullptr || index.column() == kName) {
    return QIdentityProxyModel::data(index, role);
  }
  const QModelIndex source = mapToSource(index);
  const QFileInfo info = files->fileInfo(source);
  switch (index.column()) {
    case kSize:
      return files->isDir(source) ? QString() : RussianFileSize(files->size(source));
    case kType:
      return RussianFileType(files->isDir(source), info.suffix());
    case kDate:
      return RussianFileDate(files->lastModified(source));
    default:
      return QIdentityProxyModel::data(index, role);
  }
}

namespace {

// Keeps the size, type and date columns as wide as the widest text the listed folder gives
// them (at least as wide as the common ones), while the folder loads and when another is
// entered; the name column takes the rest.
class ColumnFitter : public QObject {
 public:
  ColumnFitter(QFileDialog& dialog, QTreeView& view) : QObject(&dialog), view_(view) {
    refit_.setSingleShot(true);
    connect(&refit_, &QTimer::timeout, this, &ColumnFitter::Fit);
    const auto later = [this] { refit_.start(0); };
    QAbstractItemModel* model = view.model();
    connect(model, &QAbstractItemModel::rowsInserted, this, later);
    connect(model, &QAbstractItemModel::modelReset, this, later);
    connect(model, &QAbstractItemModel::layoutChanged, this, later);
    connect(model, &QAbstractItemModel::dataChanged, this, later);
    connect(&dialog, &QFileDialog::directoryEntered, this, later);
    QHeaderView* header = view.header();
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(1);
    header->setSectionResizeMode(kName, QHeaderView::Stretch);
    for (const int column : {kSize, kType, kDate}) {
      header->setSectionResizeMode(column, QHeaderView::Fixed);
    }
    Fit();
  }

  void Fit() {
    const QAbstractItemModel* model = view_.model();
    const QFontMetrics metrics = view_.fontMetrics();
    const QHeaderView& header = *view_.header();
    const int margin =
        2 * view_.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header) +
        2 * view_.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view_) +
        kSortIndicator;
    const QString common[] = {RussianFileSize(1073636966), RussianFileType(false, "wfdisc"),
                              RussianFileDate(QDateTime(QDate(2026, 12, 28), QTime(23, 58)))};
    const QModelIndex root = view_.rootIndex();
    const int rows = std::min(model->rowCount(root), kRowsMeasured);
    for (const int column : {kSize, kType, kDate}) {
      int width = std::max(metrics.horizontalAdvance(common[column - 1]),
                           header.fontMetrics().horizontalAdvance(
                               model->headerData(column, Qt::Horizontal).toString()));
      for (int row = 0; row < rows; ++row) {
        width = std::max(
            width, metrics.horizontalAdvance(model->index(row, column, root).data().toString()));
      }
      if (view_.columnWidth(column) != width + margin) view_.setColumnWidth(column, width + margin);
    }
  }

 private:
  static constexpr int kSortIndicator = 12;
  // A folder of many thousand files is measured by its first rows.
  static constexpr int kRowsMeasured = 2000;

  QTreeView& view_;
  QTimer refit_;
};

}  // namespace

void PrepareFileDialog(QFileDialog& dialog) {
  dialog.setProxyModel(new RussianFileColumns(&dialog));
  auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
  if (view == nullptr) return;
  new ColumnFitter(dialog, *view);
  // Room for the columns beside the folder list, and a name column of its own, within the
  // screen.
  const QFontMetrics metrics = view->fontMetrics();
  int columns = 0;
  for (const int column : {kSize, kType, kDate}) columns += view->columnWidth(column);
  QSize size = dialog.sizeHint().expandedTo(
      QSize(columns + 30 * metrics.averageCharWidth() + 220, 30 * metrics.height()));
  if (const QScreen* screen = dialog.screen()) {
    size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
  }
  dialog.resize(size);
}

}  // namespace tarnvel::gui
