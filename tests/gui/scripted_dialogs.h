// Stand-ins for the operator in tests: preset answers for every chooser and question, and a
// record of every message shown.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "gui/converter_runner.h"
#include "gui/dialog_services.h"

namespace tarnvel::gui::testing {

struct ShownMessage {
  std::string text;
  std::string caption;
  MessageIcon icon;
};

class ScriptedDialogs : public DialogServices {
 public:
  std::optional<QString> openAnswer;
  std::optional<QString> saveAnswer;
  bool yesAnswer = false;
  int viewLimitAnswer = -1;
  // Picks from the channel table; by default nothing is chosen.
  std::function<ChannelChoice(const ChannelInfoList&)> chooser;

  int openRequests = 0;
  int questions = 0;
  std::vector<std::pair<std::string, std::string>> saveRequests;  // folder, proposed name
  std::vector<std::string> viewLimitRequests;
  std::vector<ChannelInfoList> channelTables;
  std::vector<ShownMessage> messages;

  std::optional<QString> OpenSeedFile(QWidget*) override {
    ++openRequests;
    return openAnswer;
  }
  std::optional<QString> SaveWfdiscFile(QWidget*, const QString& folder,
                                        const QString& fileName) override {
    saveRequests.emplace_back(folder.toStdString(), fileName.toStdString());
    return saveAnswer;
  }
  void ShowMessage(QWidget*, const QString& text, const QString& caption,
                   MessageIcon icon) override {
    messages.push_back({text.toStdString(), caption.toStdString(), icon});
  }
  bool AskYesNo(QWidget*, const QString& text, const QString& caption) override {
    ++questions;
    messages.push_back({text.toStdString(), caption.toStdString(), MessageIcon::kQuestion});
    return yesAnswer;
  }
  ChannelChoice ChooseChannel(QWidget*, const ChannelInfoList& channels) override {
    channelTables.push_back(channels);
    if (chooser) return chooser(channels);
    ChannelChoice none;
    none.station = "*";
    return none;
  }
  int AskViewLimit(QWidget*, const QString& seedPath, int proposedMb) override {
    viewLimitRequests.push_back(seedPath.toStdString() + "|" + std::to_string(proposedMb));
    return viewLimitAnswer;
  }
};

// Runs the event loop until `done` holds or the time is up; the final value of `done`.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 30000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

// Starts a listing or a conversion run of `runner` and waits until `runsEnded` (the count of its
// runEnded signals) grows; false when the time is up first.
inline bool RunToEnd(ConverterRunner& runner, const int& runsEnded, bool listing,
                     int timeoutMs = 30000) {
  const int before = runsEnded;
  if (listing) {
    runner.StartListingRun();
  } else {
    runner.StartConversionRun();
  }
  return WaitUntil([&] { return runsEnded > before; }, timeoutMs);
}

}  // namespace tarnvel::gui::testing
