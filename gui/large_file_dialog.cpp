#include "gui/large_file_dialog.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "gui/control_ids.h"
#include "gui/dialog_units.h"
#include "gui/large_file.h"

namespace tarnvel::gui {
namespace {

QLabel* AddLabel(QWidget* parent, const QString& text, QRect rect) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(rect);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

// Where the caption's text is wider in the dialog font than its place, the caption grows to hold
// it and the value after it moves right (giving up width of its own), so that at least `gap`
// stays between them.
void KeepApart(QLabel* caption, QLabel* value, int gap) {
  const int textWidth = caption->fontMetrics().horizontalAdvance(caption->text());
  if (textWidth > caption->width()) caption->resize(textWidth, caption->height());
  const int shift = caption->x() + textWidth + gap - value->x();
  if (shift > 0) value->setGeometry(value->geometry().adjusted(shift, 0, 0, 0));
}

}  // namespace

LargeFileDialog::LargeFileDialog(const QString& seedPath, int proposedMb, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint) {
  setFont(DialogFont());
  setWindowTitle(QStringLiteral("Большой файл..."));
  const DialogUnits du(font());
  setFixedSize(du.Size(180, 91));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QString::fromLatin1(control_id::kOk));
  ok->setGeometry(du.Rect(38, 70, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &LargeFileDialog::accept);

  auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
  cancel->setObjectName(QString::fromLatin1(control_id::kCancel));
  cancel->setGeometry(du.Rect(92, 70, 50, 14));
  cancel->setAutoDefault(false);
  connect(cancel, &QPushButton::clicked, this, &LargeFileDialog::reject);

  auto* warning = AddLabel(this,
                           QStringLiteral("Вы пытаетесь просмотреть файл большого размера Этот "
                                          "процесс может занять продолжительное время. "
                                          "Рекомедуется ограничить размер просматриваемого "
                                          "файла."),
                           du.Rect(5, 5, 172, 35));
  warning->setWordWrap(true);
  auto* sizeCaption =
      AddLabel(this, QStringLiteral("Исходный размер файла"), du.Rect(5, 39, 83, 8));
  sizeLabel_ = AddLabel(this, QString(), du.Rect(87, 39, 90, 8));
  sizeLabel_->setObjectName(QString::fromLatin1(control_id::kFileSize));
  KeepApart(sizeCaption, sizeLabel_, du.X(4));
  AddLabel(this, QStringLiteral("Просмотреть"), du.Rect(5, 50, 46, 8));

  limitBox_ = new QLineEdit(this);
  limitBox_->setObjectName(QString::fromLatin1(control_id::kViewLimit));
  limitBox_->setGeometry(du.Rect(53, 49, 25, 12));
  limitBox_->setMaxLength(kViewLimitDigits);
  limitBox_->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), limitBox_));
  AddLabel(this, QStringLiteral("МБайт"), du.Rect(81, 50, 23, 8));

  QFile file(seedPath);
  if (file.open(QIODevice::ReadOnly)) {
    sizeLabel_->setText(QString::fromStdString(MegabytesText(file.size())));
    limitBox_->setText(QString::number(proposedMb));
  }
  setTabOrder(ok, cancel);
  setTabOrder(cancel, limitBox_);
  // The question is how much to view: the dialog opens on the number, selected so that the
  // digits typed replace it, and Enter takes it.
  limitBox_->selectAll();
  limitBox_->setFocus();
}

void LargeFileDialog::accept() {
  viewLimit_ = ViewLimitFromText(limitBox_->text().toStdString());
  QDialog::accept();
}

void LargeFileDialog::reject() {
  viewLimit_ = -1;
  QDialog::reject();
}

}  // namespace tarnvel::gui
