#include "settings/settings_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "settings/ini_file.h"
#include "text/leading_number.h"
#include "text/text_case.h"

namespace tarnvel {
namespace {

constexpr std::size_t kIniValueBuffer = 1024;
constexpr std::size_t kBlockSizeBuffer = 4;  // the record length reaches callers as 3 characters

constexpr std::string_view kLocalIniName = "tarnvel.ini";
constexpr std::string_view kQorIniName = "qor.ini";

std::string WithForwardSlashes(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

std::optional<std::string> ProcessEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// `folder` followed by `name`, with a separator between them unless it ends with one.
std::string FileIn(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (path.empty() || (path.back() != '\\' && path.back() != '/')) path += '/';
  path += name;
  return WithForwardSlashes(std::move(path));
}

bool CanOpenForReading(const std::string& path) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                             &std::fclose);
  return file != nullptr;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

std::string FormLocalIniPath(const std::vector<std::string>& args,
                             const std::string& systemFolder) {
  std::string path = args.empty() ? std::string() : args.front();
  // The program's own name with its last three characters replaced by "ini".
  path = path.size() >= 3 ? path.substr(0, path.size() - 3) + "ini" : std::string("ini");
  path = WithForwardSlashes(std::move(path));
  if (path.find('/') == std::string::npos) path = "./" + path;
  path.erase(path.rfind('/') + 1);
  path += kLocalIniName;
  // An installed program usually has no ini beside it and takes the system-wide one instead.
  // A file that is there but cannot be read still counts as the program's own.
  if (!Exists(path)) {
    std::string systemIni = FileIn(systemFolder, kLocalIniName);
    if (Exists(systemIni)) return systemIni;
  }
  return path;
}

std::string FormQorIniPath(const SettingsReader::Environment& environment,
                           const std::string& systemFolder) {
  if (const auto qor = environment("QOR"); qor) {
    std::string path = FileIn(*qor, kQorIniName);
    if (CanOpenForReading(path)) return path;
  }
  if (const auto windir = environment("WINDIR"); windir) return FileIn(*windir, kQorIniName);
  // The system folder stands in for the Windows folder on systems that have none.
  return FileIn(systemFolder, kQorIniName);
}

// The texts the reader resolves before they become the settings' values.
struct SettingTexts {
  std::string odbc;
  std::string user;
  std::string password;
  std::string dataDir;
};

// The arguments the reader takes from the command line; the use_tend switches set useTend.
struct ArgumentSetting {
  std::string_view prefix;
  std::string SettingTexts::*value;
};
constexpr ArgumentSetting kArgumentSettings[] = {
    {"ODBC=", &SettingTexts::odbc},
    {"USER=", &SettingTexts::user},
    {"PASSWORD=", &SettingTexts::password},
    {"DATA=", &SettingTexts::dataDir},
    {"/use_tend", nullptr},
    {"-use_tend", nullptr},
};

const ArgumentSetting* ArgumentSettingOf(std::string_view arg) {
  for (const ArgumentSetting& setting : kArgumentSettings) {
    if (StartsWithIgnoreCase(arg, setting.prefix)) return &setting;
  }
  return nullptr;
}

// "BLOCK_SIZE" of the converter's own ini file, which reaches the reader as at most three
// characters and is read as the C library's atoi reads them ("512abc" is 512, "abc" and an
// empty entry 0); -1, the default, asks for detection.
std::optional<int> ReadRecordLength(const std::string& localIniPath) {
  const int value = LeadingInteger(
      GetProfileString("SYSTEM", "BLOCK_SIZE", "-1", kBlockSizeBuffer, localIniPath));
  if (value == -1) return std::nullopt;
  return value;
}

}  // namespace

bool IsSettingsArgument(std::string_view arg) {
  return ArgumentSettingOf(arg) != nullptr;
}

SettingsReader::SettingsReader(std::vector<std::string> args, Environment environment,
                               std::string systemFolder)
    : args_(std::move(args)),
      environment_(environment ? std::move(environment) : Environment(&ProcessEnvironment)) {
  localIniPath_ = FormLocalIniPath(args_, systemFolder);
  qorIniPath_ = FormQorIniPath(environment_, systemFolder);
}

ResolvedSettings SettingsReader::LoadAndGetSettings() {
  SettingTexts texts;
  bool useTendFromCommandLine = false;
  for (std::size_t i = 1; i < args_.size(); ++i) {
    const ArgumentSetting* setting = ArgumentSettingOf(args_[i]);
    if (setting == nullptr) continue;
    if (setting->value != nullptr) {
      texts.*setting->value = args_[i].substr(setting->prefix.size());
    } else {
      useTend_ = useTendFromCommandLine = true;
    }
  }

  // A process's environment is readable only by its own user (and root).
  if (texts.password.empty()) {
    if (auto password = environment_(kPasswordVariable)) texts.password = std::move(*password);
  }

  struct TextSetting {
    std::string* value;
    std::string_view section;
    std::string_view key;
    std::string_view qorDefault;
  };
  const TextSetting fromFiles[] = {
      {&texts.odbc, "DATABASE", "ODBC", "QOR"},
      {&texts.user, "DATABASE", "USER", "QOR"},
      {&texts.password, "DATABASE", "PASSWORD", "ZUN"},
      {&texts.dataDir, "DATA", "DIR", "D:\\DATA"},
  };
  for (const TextSetting& setting : fromFiles) {
    if (!setting.value->empty()) continue;
    std::string value =
        GetProfileString(setting.section, setting.key, "", kIniValueBuffer, localIniPath_);
    if (value.empty()) {
      value = GetProfileString(setting.section, setting.key, setting.qorDefault, kIniValueBuffer,
                               qorIniPath_);
    }
    *setting.value = std::move(value);
  }

  if (!useTendFromCommandLine) {
    int deciding = GetProfileInt("DATABASE", "USE_TEND", -1, localIniPath_);
    if (deciding < 0) deciding = GetProfileInt("DATABASE", "USE_TEND", 0, qorIniPath_);
    if (deciding > 0) useTend_ = true;
  }

  ResolvedSettings settings;
  settings.odbc = std::move(texts.odbc);
  settings.user = std::move(texts.user);
  settings.password = std::move(texts.password);
  settings.dataDir = DataDirectory(texts.dataDir);
  settings.useTend = useTend_;
  // Tests switch the store's syncing off; every other value keeps the store durable.
  settings.syncFiles = environment_(kNoSyncVariable) != std::optional<std::string>("1");
  return settings;
}

ConverterSettings SettingsReader::LoadConverterSettings() {
  return ConverterSettings{LoadAndGetSettings(), ReadRecordLength(localIniPath_),
                           ResolveCssRequest(args_)};
}

}  // namespace tarnvel
