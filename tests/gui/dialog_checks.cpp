#include "tests/gui/dialog_checks.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <set>

#include "gui/control_ids.h"

namespace tarnvel::gui::testing {
namespace {

QString Plain(QString text) {
  return text.remove(QLatin1Char('&'));
}

class Findings {
 public:
  explicit Findings(const QWidget& root) : root_(root) {}

  void Check(const QWidget& widget, const QString& text, QSize needed, QSize given) {
    if (needed.width() <= given.width() && needed.height() <= given.height()) return;
    Add(widget, text,
        QStringLiteral("needs %1x%2, has %3x%4")
            .arg(needed.width())
            .arg(needed.height())
            .arg(given.width())
            .arg(given.height()));
  }

  // The widget lies whole inside the window.
  void CheckInside(const QWidget& widget, const QString& text) {
    const QRect inRoot(widget.mapTo(&root_, QPoint(0, 0)), widget.size());
    if (!root_.rect().contains(inRoot)) Add(widget, text, QStringLiteral("outside the window"));
  }

  void Add(const QWidget& widget, const QString& text, const QString& what) {
    list_.push_back(QStringLiteral("%1 '%2': %3")
                        .arg(QString::fromLatin1(widget.metaObject()->className()), text, what)
                        .toStdString());
  }

  std::vector<std::string> Take() { return std::move(list_); }

 private:
  const QWidget& root_;
  std::vector<std::string> list_;
};

QSize TextSize(const QFontMetrics& metrics, const QString& text) {
  return metrics.boundingRect(QRect(0, 0, 100000, 100000), Qt::AlignLeft | Qt::AlignTop, text)
      .size();
}

void CheckLabel(const QLabel& label, Findings& findings) {
  if (label.text().isEmpty()) return;
  const QRect space = label.contentsRect().adjusted(label.margin(), label.margin(), -label.margin(),
                                                    -label.margin());
  if (label.wordWrap()) {
    findings.Check(label, label.text(), QSize(0, label.heightForWidth(label.width())),
                   QSize(0, label.height()));
  } else {
    findings.Check(label, label.text(), TextSize(label.fontMetrics(), label.text()), space.size());
  }
  findings.CheckInside(label, label.text());
}

void CheckButton(const QAbstractButton& button, Findings& findings) {
  const QString text = Plain(button.text());
  if (text.isEmpty()) return;
  const QStyle& style = *button.style();
  QSize needed = TextSize(button.fontMetrics(), text);
  if (qobject_cast<const QCheckBox*>(&button) != nullptr) {
    needed.rwidth() += style.pixelMetric(QStyle::PM_IndicatorWidth, nullptr, &button) +
                       style.pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, &button);
  } else if (qobject_cast<const QRadioButton*>(&button) != nullptr) {
    needed.rwidth() += style.pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, &button) +
                       style.pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, &button);
  } else {
    needed.rwidth() += 2 * style.pixelMetric(QStyle::PM_ButtonMargin, nullptr, &button);
  }
  findings.Check(button, text, needed, button.size());
  findings.CheckInside(button, text);
}

void CheckGroup(const QGroupBox& group, Findings& findings) {
  if (group.title().isEmpty()) return;
  QStyleOptionGroupBox option;
  option.initFrom(&group);
  option.text = group.title();
  option.textAlignment = group.alignment();
  option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
  option.lineWidth = 1;
  const QRect label =
      group.style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, &group);
  const QSize needed(label.right() + 1 + (label.left() > 0 ? label.left() : 0), label.height());
  findings.Check(group, group.title(),
                 needed.expandedTo(TextSize(group.fontMetrics(), group.title())), group.size());
  findings.CheckInside(group, group.title());
}

void CheckLineEdit(const QLineEdit& edit, Findings& findings) {
  if (edit.text().isEmpty()) return;
  const QRect space = edit.contentsRect();
  // Qt's line edits keep two pixels of margin on each side of their text.
  const QSize needed(edit.fontMetrics().horizontalAdvance(edit.text()) + 4,
                     edit.fontMetrics().height());
  findings.Check(edit, edit.text(), needed, space.size());
}

void CheckProgress(const QProgressBar& bar, Findings& findings) {
  if (!bar.isTextVisible() || bar.text().isEmpty()) return;
  findings.Check(bar, bar.text(), TextSize(bar.fontMetrics(), bar.text()), bar.size());
}

void CheckTable(const QTableView& table, Findings& findings) {
  const QAbstractItemModel* model = table.model();
  if (model == nullptr) return;
  const QHeaderView& header = *table.horizontalHeader();
  const int headerMargin = header.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header);
  const int cellMargin =
      2 * (table.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &table) + 1);
  int total = 0;
  for (int column = 0; column < model->columnCount(); ++column) {
    if (table.isColumnHidden(column)) continue;
    const int width = table.columnWidth(column);
    total += width;
    const QString title = model->headerData(column, Qt::Horizontal).toString();
    if (header.isVisible() && !title.isEmpty()) {
      findings.Check(header, title,
                     TextSize(header.fontMetrics(), title) + QSize(2 * headerMargin, 0),
                     QSize(width, header.height()));
    }
    for (int row = 0; row < model->rowCount(); ++row) {
      const QString cell = model->index(row, column).data().toString();
      if (cell.isEmpty()) continue;
      findings.Check(table, cell, TextSize(table.fontMetrics(), cell) + QSize(cellMargin, 0),
                     QSize(width, table.rowHeight(row)));
    }
  }
  if (total > table.viewport()->width()) {
    findings.Add(
        table, QStringLiteral("columns"),
        QStringLiteral("need %1, the table shows %2").arg(total).arg(table.viewport()->width()));
  }
}

// The rows a list of files or items shows under its root: their cells need their text's width
// (the first column also its icon) within their column.
void CheckTree(const QTreeView& tree, Findings& findings) {
  const QAbstractItemModel* model = tree.model();
  if (model == nullptr) return;
  const QModelIndex root = tree.rootIndex();
  const int cellMargin =
      2 * (tree.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &tree) + 1);
  const QHeaderView& header = *tree.header();
  const int headerMargin = header.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header);
  for (int column = 0; column < model->columnCount(root); ++column) {
    if (tree.isColumnHidden(column)) continue;
    const int width = tree.columnWidth(column);
    const QString title = model->headerData(column, Qt::Horizontal).toString();
    if (!header.isHidden() && !title.isEmpty()) {
      findings.Check(header, title,
                     TextSize(header.fontMetrics(), title) + QSize(2 * headerMargin, 0),
                     QSize(width, header.height()));
    }
    for (int row = 0; row < model->rowCount(root) && row < 100; ++row) {
      const QModelIndex index = model->index(row, column, root);
      const QString cell = index.data().toString();
      if (cell.isEmpty()) continue;
      int needed = TextSize(tree.fontMetrics(), cell).width() + cellMargin;
      if (column == 0) needed += tree.iconSize().width() + 4;
      findings.Check(tree, cell, QSize(needed, 0), QSize(width, 0));
    }
  }
}

}  // namespace

std::vector<std::string> ClippedTexts(const QWidget& root, const std::vector<QString>& scrolling) {
  Findings findings(root);
  for (const QWidget* widget : root.findChildren<QWidget*>()) {
    if (!widget->isVisibleTo(&root)) continue;
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
      CheckLabel(*label, findings);
    } else if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
      CheckButton(*button, findings);
    } else if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
      CheckGroup(*group, findings);
    } else if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
      const bool scrolls =
          std::find(scrolling.begin(), scrolling.end(), edit->objectName()) != scrolling.end();
      if (!scrolls) CheckLineEdit(*edit, findings);
    } else if (const auto* bar = qobject_cast<const QProgressBar*>(widget)) {
      CheckProgress(*bar, findings);
    } else if (const auto* table = qobject_cast<const QTableView*>(widget)) {
      CheckTable(*table, findings);
    } else if (const auto* tree = qobject_cast<const QTreeView*>(widget)) {
      CheckTree(*tree, findings);
    }
  }
  return findings.Take();
}

namespace {

QString ScreenshotFolder(const QWidget& widget) {
  // Offscreen at the natural size in the folder itself; other platforms and scale factors each
  // in a folder of their own, such as "xcb-x1.5".
  QString folder = QStringLiteral(TARNVEL_BINARY_DIR "/screenshots");
  const QString platform = QGuiApplication::platformName();
  const qreal scale = widget.devicePixelRatio();
  if (platform != QLatin1String("offscreen") || scale != 1.0) {
    folder += QLatin1Char('/') + platform;
    if (scale != 1.0) folder += QStringLiteral("-x") + QString::number(scale);
  }
  QDir().mkpath(folder);
  return folder;
}

}  // namespace

QString SaveScreenOf(QWidget& widget, const QString& name) {
  QScreen* screen = widget.screen();
  if (screen == nullptr || QGuiApplication::platformName() == QLatin1String("offscreen")) return {};
  // The display server draws the window's last changes on its own time.
  QTest::qWait(500);
  const QPixmap picture = screen->grabWindow(0);
  if (picture.isNull()) return {};
  const QString path = ScreenshotFolder(widget) + QLatin1Char('/') + name + QStringLiteral(".png");
  picture.save(path);
  return path;
}

QString SaveScreenshot(QWidget& widget, const QString& name) {
  const QString path = ScreenshotFolder(widget) + QLatin1Char('/') + name + QStringLiteral(".png");
  widget.grab().save(path);
  return path;
}

std::vector<std::string> EnglishTexts(const QWidget& root, const QString& quoted) {
  static const std::set<QString> kOwnWords = {
      QStringLiteral("tarnvel"), QStringLiteral("SEED"),     QStringLiteral("QOR"),
      QStringLiteral("CSS"),     QStringLiteral("LCODE"),    QStringLiteral("SpS"),
      QStringLiteral("GMT"),     QStringLiteral("SITECHAN"), QStringLiteral("OK"),
      QStringLiteral("Wfdisc"),  QStringLiteral("wfdisc")};
  static const QRegularExpression kWord(QStringLiteral("\\b[A-Za-z]{2,}\\b"));
  std::vector<std::string> found;
  // `own`: a text whose words are a file's own (its name), not the toolkit's.
  const auto check = [&](const QString& text, const QString& own = {}) {
    auto words = kWord.globalMatch(Plain(text));
    while (words.hasNext()) {
      const QString word = words.next().captured();
      if (kOwnWords.count(word) == 0 && !own.contains(word) && !quoted.contains(word)) {
        found.push_back(text.toStdString());
        return;
      }
    }
  };
  for (const QWidget* widget : root.findChildren<QWidget*>()) {
    if (!widget->isVisibleTo(&root)) continue;
    if (const auto* label = qobject_cast<const QLabel*>(widget)) check(label->text());
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) check(button->text());
    if (const auto* group = qobject_cast<const QGroupBox*>(widget)) check(group->title());
    if (const auto* view = qobject_cast<const QAbstractItemView*>(widget)) {
      if (const auto* table = qobject_cast<const QTableView*>(view)) {
        if (!table->horizontalHeader()->isVisible()) continue;
      }
      const QAbstractItemModel* model = view->model();
      for (int column = 0; model != nullptr && column < model->columnCount(); ++column) {
        check(model->headerData(column, Qt::Horizontal).toString());
      }
      // The detail columns of a file list: the names, and the suffixes the type column takes
      // from them, are the files' own.
      if (const auto* tree = qobject_cast<const QTreeView*>(view); tree != nullptr && model) {
        const QModelIndex listed = tree->rootIndex();
        for (int row = 0; row < model->rowCount(listed) && row < 100; ++row) {
          const QString name = model->index(row, 0, listed).data().toString();
          for (int column = 1; column < model->columnCount(listed); ++column) {
            if (!tree->isColumnHidden(column)) {
              check(model->index(row, column, listed).data().toString(), name);
            }
          }
        }
      }
    }
  }
  return found;
}

void LookAt(QWidget& window, const QString& name, const QString& quoted) {
  const std::string title =
      name.isEmpty() ? window.windowTitle().toStdString() : name.toStdString();
  const auto english = EnglishTexts(window, quoted);
  EXPECT_TRUE(english.empty()) << title << ": " << ::testing::PrintToString(english);
  const auto clipped = ClippedTexts(window, {QString::fromLatin1(gui::control_id::kSeedPath)});
  EXPECT_TRUE(clipped.empty()) << title << ": " << ::testing::PrintToString(clipped);
  if (!name.isEmpty()) SaveScreenshot(window, name);
}

void OnNextModal(std::function<void(QWidget&)> handle) {
  const QPointer<QWidget> before = QApplication::activeModalWidget();
  auto* poll = new QTimer(qApp);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, before, handle = std::move(handle)] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == before || !modal->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    handle(*modal);
  });
  poll->start(10);
}

}  // namespace tarnvel::gui::testing
