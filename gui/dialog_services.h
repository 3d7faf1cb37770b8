// Everything a run or the main dialog asks the operator through a separate window: the file
// choosers, message boxes and the two listing dialogs. The Qt implementation shows the real
// windows; tests put in answers of their own.
#pragma once

#include <QString>
#include <optional>

#include "gui/channel_info.h"

class QWidget;

namespace tarnvel::gui {

enum class MessageIcon { kInformation, kExclamation, kQuestion };

class DialogServices {
 public:
  virtual ~DialogServices() = default;

  // Open-file chooser without filter or default extension.
  virtual std::optional<QString> OpenSeedFile(QWidget* parent) = 0;
  // Save-file chooser for a wfdisc file; empty folder or name: none proposed.
  virtual std::optional<QString> SaveWfdiscFile(QWidget* parent, const QString& folder,
                                                const QString& fileName) = 0;
  virtual void ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                           MessageIcon icon) = 0;
  // Yes/No question; true for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) = 0;
  // The channel table; the chosen row, or station "*" when nothing was chosen.
  virtual ChannelChoice ChooseChannel(QWidget* parent, const ChannelInfoList& channels) = 0;
  // The large-file question; the view limit in megabytes, -1 when cancelled.
  virtual int AskViewLimit(QWidget* parent, const QString& seedPath, int proposedMb) = 0;
};

class RecentFolders;

// The real windows, in the toolkit's own (not the desktop's) file dialogs so that every text is
// Russian. The file choosers open in the folders used last: a SEED file's, and a CSS file's
// when the run proposes no folder of its own.
class QtDialogServices : public DialogServices {
 public:
  explicit QtDialogServices(RecentFolders& folders) : folders_(folders) {}

  std::optional<QString> OpenSeedFile(QWidget* parent) override;
  std::optional<QString> SaveWfdiscFile(QWidget* parent, const QString& folder,
                                        const QString& fileName) override;
  void ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                   MessageIcon icon) override;
  bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) override;
  ChannelChoice ChooseChannel(QWidget* parent, const ChannelInfoList& channels) override;
  int AskViewLimit(QWidget* parent, const QString& seedPath, int proposedMb) override;

 private:
  RecentFolders& folders_;
};

}  // namespace tarnvel::gui
