// Tarnvel_GUI: the operators' dialog program around the tarnvel converter.
#include <QApplication>
#include <ctime>
#include <string>
#include <vector>

#include "gui/command_line.h"
#include "gui/converter_runner.h"
#include "gui/dialog_services.h"
#include "gui/main_dialog.h"
#include "gui/priority.h"
#include "gui/recent_folders.h"
#include "gui/translations.h"
#include "settings/css_request.h"
#include "settings/settings_reader.h"

int main(int argc, char* argv[]) {
  using namespace tarnvel::gui;
  SetProcessNice(0, kBelowNormalNice);

  // The program's own arguments as given, before the toolkit takes its options out.
  const std::vector<std::string> args(argv, argv + argc);
  QApplication app(argc, argv);
  InstallRussianTranslations(app);

  tarnvel::SettingsReader settings(args);
  RecentFolders folders;
  QtDialogServices services(folders);
  const tarnvel::CssRequest css = tarnvel::ResolveCssRequest(args);
  MainDialog dialog(css, services, static_cast<double>(std::time(nullptr)));

  RunSetup setup;
  setup.converterPath = ConverterPathIn(QCoreApplication::applicationDirPath().toStdString());
  setup.cssChoice = css;
  setup.loadSettings = [&settings] { return settings.LoadAndGetSettings(); };
  ConverterRunner runner(dialog, services, setup);
  QObject::connect(&dialog, &MainDialog::listingRequested, &runner,
                   &ConverterRunner::StartListingRun);
  QObject::connect(&dialog, &MainDialog::conversionRequested, &runner,
                   &ConverterRunner::StartConversionRun);
  QObject::connect(&dialog, &MainDialog::stopRequested, &runner, &ConverterRunner::StopRun);

  dialog.show();
  dialog.ChooseSeedFile();
  dialog.exec();
  return 0;
}
