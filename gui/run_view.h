// What a run of the converter sees of the main dialog: the operator's inputs, and the places the
// run's outcome goes. MainDialog is the view; the runner's tests put in one of their own.
#pragma once

#include <optional>
#include <string>

#include "gui/channel_info.h"
#include "gui/command_line.h"

class QWidget;

namespace tarnvel::gui {

class RunView {
 public:
  virtual ~RunView() = default;

  // The window that owns the run's message boxes and dialogs.
  virtual QWidget* Window() = 0;

  // The operator's inputs.
  virtual std::string SeedPath() const = 0;
  virtual ChannelBoxes Boxes() const = 0;
  virtual PickerTime BeginTime() const = 0;
  virtual PickerTime EndTime() const = 0;
  virtual bool CssChosen() const = 0;

  // While a run is under way the view takes no input.
  virtual bool IsRunning() const = 0;
  virtual void SetRunning(bool running) = 0;

  // The two progress bars, in percent; an empty value leaves its bar as it is.
  virtual void ShowProgress(std::optional<int> reading, std::optional<int> writing) = 0;
  // What the writing bar follows: the CSS file a conversion writes, or (empty) the store.
  virtual void ShowWritingTarget(const std::string& wfdiscPath) = 0;

  // The results text, shown the next time the operator switches the results view on.
  virtual void SetResultsText(const std::string& text) = 0;
  // The same, and into the results box at once.
  virtual void ShowResultsText(const std::string& text) = 0;
  virtual void ClearResultsBox() = 0;

  // The channels the last listing found, and the one the operator chose from them.
  virtual void SetChannels(const ChannelInfoList& channels) = 0;
  virtual void ApplyChannelChoice(const ChannelChoice& choice) = 0;
};

}  // namespace tarnvel::gui
