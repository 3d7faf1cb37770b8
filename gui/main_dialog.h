// The operator's main dialog: SEED file, channel pattern, UTC time window, output choice,
// progress of a conversion and the results view.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <string>

#include "gui/channel_info.h"
#include "gui/command_line.h"
#include "gui/run_view.h"
#include "settings/css_request.h"

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimeEdit;

namespace tarnvel::gui {

class DialogServices;

class MainDialog : public QDialog, public RunView {
  Q_OBJECT

 public:
  struct Controls {
    QLineEdit* seedPath = nullptr;       // 1005
    QPushButton* browse = nullptr;       // 1006
    QPushButton* convert = nullptr;      // 1007
    QPushButton* list = nullptr;         // 1022
    QLineEdit* station = nullptr;        // 1000
    QLineEdit* channel = nullptr;        // 1001
    QLineEdit* location = nullptr;       // 1002
    QCheckBox* useBegin = nullptr;       // 1014
    QDateEdit* beginDate = nullptr;      // 1010
    QTimeEdit* beginTime = nullptr;      // 1011
    QCheckBox* useEnd = nullptr;         // 1015
    QDateEdit* endDate = nullptr;        // 1012
    QTimeEdit* endTime = nullptr;        // 1013
    QRadioButton* toDatabase = nullptr;  // 1008
    QRadioButton* toCss = nullptr;       // 1009
    QProgressBar* reading = nullptr;     // 1018
    QProgressBar* writing = nullptr;     // 1019
    QCheckBox* showResults = nullptr;    // 1020
    QPlainTextEdit* results = nullptr;   // 1021
    QPushButton* stop = nullptr;         // "Прервать", enabled while a run is under way
  };

  // Lines the results box keeps when the screen is too low for its full height.
  static constexpr int kMinResultLines = 6;
  // How long the note under the channel boxes says why a key was refused.
  static constexpr int kPatternHintMs = 6000;

  // cssChoice: the GUI's own CSS request as resolved from its command line. `now` is the
  // epoch time the pickers start with.
  MainDialog(const CssRequest& cssChoice, DialogServices& services, double now,
             QWidget* parent = nullptr);

  // The file chooser shown when the dialog opens and by "...".
  void ChooseSeedFile();

  const Controls& controls() const { return controls_; }
  // The sizes of the dialog as laid out. Shown full, the dialog keeps inside the screen it is on:
  // the results box gives up what height the screen has not got (down to kMinResultLines).
  QSize FullSize() const { return fullSize_; }
  QSize CollapsedSize() const { return collapsedSize_; }

  // What a run of the converter reads and writes.
  QWidget* Window() override { return this; }
  std::string SeedPath() const override;
  ChannelBoxes Boxes() const override;
  PickerTime BeginTime() const override;
  PickerTime EndTime() const override;
  bool CssChosen() const override;
  // A run is under way: the controls take no input but "Прервать"; Escape and the close box
  // ask whether to stop the converter.
  bool IsRunning() const override { return running_; }
  void SetRunning(bool running) override;
  void ShowProgress(std::optional<int> reading, std::optional<int> writing) override;
  void ShowWritingTarget(const std::string& wfdiscPath) override;
  void SetResultsText(const std::string& text) override { resultsText_ = text; }
  void ShowResultsText(const std::string& text) override;
  void ClearResultsBox() override;
  void SetChannels(const ChannelInfoList& channels) override { channels_ = channels; }
  void ApplyChannelChoice(const ChannelChoice& choice) override;

  const std::string& ResultsText() const { return resultsText_; }
  const ChannelInfoList& Channels() const { return channels_; }

  void accept() override;
  void reject() override;

 signals:
  void listingRequested();
  void conversionRequested();
  // The operator confirmed stopping the run under way.
  void stopRequested();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void ShowResults(bool show);
  // The full size on the current screen, with the results box set to it.
  QSize FitFullSize();
  void AskToStop();
  void SetResultsBox(const std::string& text);
  void SetPickers(QDateEdit* date, QTimeEdit* time, double epochSeconds);

  DialogServices& services_;
  Controls controls_;
  QWidget* content_ = nullptr;
  QWidget* inputs_ = nullptr;
  QLabel* patternHint_ = nullptr;
  QLabel* writingLabel_ = nullptr;
  QPointer<QWidget> focusBeforeRun_;
  QSize fullSize_;
  QSize collapsedSize_;
  QRect resultsPlace_;  // the results box as laid out
  std::string resultsText_;
  ChannelInfoList channels_;
  bool running_ = false;
  bool couplingPickers_ = false;
};

}  // namespace tarnvel::gui
