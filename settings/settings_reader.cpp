#include "settings/settings_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "settings/ini_file.h"
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

// The arguments the reader takes from the command line; the use_tend switches set useTend.
struct ArgumentSetting {
  std::string_view prefix;
  std::string ResolvedSettings::*value;
};
constexpr ArgumentSetting kArgumentSettings[] = {
    {"ODBC=", &ResolvedSettings::odbc},
    {"USER=", &ResolvedSettings::user},
    {"PASSWORD=", &ResolvedSettings::password},
    {"DATA=", &ResolvedSettings::dataDir},
    {"/use_tend", nullptr},
    {"-use_tend", nullptr},
};

const ArgumentSetting* ArgumentSettingOf(std::string_view arg) {
  for (const ArgumentSetting& setting : kArgumentSettings) {
    if (StartsWithIgnoreCase(arg, setting.prefix)) return &setting;
  }
  return nullptr;
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

void SettingsReader::LoadSettings() {
  values_.odbc.clear();
  values_.user.clear();
  values_.password.clear();
  values_.dataDir.clear();

  bool useTendFromCommandLine = false;
  for (std::size_t i = 1; i < args_.size(); ++i) {
    const ArgumentSetting* setting = ArgumentSettingOf(args_[i]);
    if (setting == nullptr) continue;
    if (setting->value != nullptr) {
      values_.*setting->value = args_[i].substr(setting->prefix.size());
    } else {
      values_.useTend = useTendFromCommandLine = true;
    }
  }

  // Tests switch the store's syncing off; every other value keeps the store durable.
  values_.syncFiles = environment_(kNoSyncVariable) != std::optional<std::string>("1");

  // A process's environment is readable only by its own user (and root).
  if (values_.password.empty()) {
    if (auto password = environment_(kPasswordVariable)) values_.password = std::move(*password);
  }

  struct TextSetting {
    std::string* value;
    std::string_view section;
    std::string_view key;
    std::string_view qorDefault;
  };
  const TextSetting texts[] = {
      {&values_.odbc, "DATABASE", "ODBC", "QOR"},
      {&values_.user, "DATABASE", "USER", "QOR"},
      {&values_.password, "DATABASE", "PASSWORD", "ZUN"},
      {&values_.dataDir, "DATA", "DIR", "D:\\DATA"},
  };
  for (const TextSetting& setting : texts) {
    if (!setting.value->empty()) continue;
    std::string value =
        GetProfileString(setting.section, setting.key, "", kIniValueBuffer, localIniPath_);
    if (value.empty()) {
      value = GetProfileString(setting.section, setting.key, setting.qorDefault, kIniValueBuffer,
                               qorIniPath_);
    }
    *setting.value = std::move(value);
  }
  values_.dataDir = WithForwardSlashes(std::move(values_.dataDir));

  if (!useTendFromCommandLine) {
    int deciding = GetProfileInt("DATABASE", "USE_TEND", -1, localIniPath_);
    if (deciding < 0) deciding = GetProfileInt("DATABASE", "USE_TEND", 0, qorIniPath_);
    if (deciding > 0) values_.useTend = true;
  }
}

ResolvedSettings SettingsReader::LoadAndGetSettings() {
  LoadSettings();
  return values_;
}

ConverterSettings SettingsReader::LoadConverterSettings() {
  LoadSettings();
  ConverterSettings settings{values_, "-1", "NOT_FOUND"};
  GetValue("BLOCK_SIZE", settings.blockSize);
  GetValue("CSS", settings.cssRequest);
  return settings;
}

bool SettingsReader::GetValue(std::string_view key, std::string& value) const {
  if (EqualsIgnoreCase(key, "odbc")) {
    value = values_.odbc;
  } else if (EqualsIgnoreCase(key, "user")) {
    value = values_.user;
  } else if (EqualsIgnoreCase(key, "password")) {
    value = values_.password;
  } else if (EqualsIgnoreCase(key, "data_dir")) {
    value = values_.dataDir;
  } else if (EqualsIgnoreCase(key, "use_tend")) {
    value = std::string(1, values_.useTend ? '1' : '0');
  } else if (EqualsIgnoreCase(key, "CSS")) {
    value = ResolveCssRequest(args_);
  } else if (EqualsIgnoreCase(key, "BLOCK_SIZE")) {
    value = GetProfileString("SYSTEM", "BLOCK_SIZE", "-1", kBlockSizeBuffer, localIniPath_);
  } else {
    return false;
  }
  return true;
}

bool SettingsReader::SetValue(std::string_view key, std::string_view value) {
  if (EqualsIgnoreCase(key, "odbc")) {
    values_.odbc = value;
  } else if (EqualsIgnoreCase(key, "user")) {
    values_.user = value;
  } else if (EqualsIgnoreCase(key, "password")) {
    values_.password = value;
  } else if (EqualsIgnoreCase(key, "data_dir")) {
    values_.dataDir = WithForwardSlashes(std::string(value));
  } else if (EqualsIgnoreCase(key, "use_tend")) {
    values_.useTend = value != "0";
  } else {
    return false;
  }
  return true;
}

std::string ResolveCssRequest(const std::vector<std::string>& args) {
  const auto request =
      std::find_if(args.size() > 1 ? args.begin() + 1 : args.end(), args.end(),
                   [](const std::string& arg) { return StartsWithIgnoreCase(arg, "CSS"); });
  if (request == args.end()) return "NOT_FOUND";
  if (!StartsWithIgnoreCase(*request, "CSS=")) return "SEED_PATH";

  const std::string path = request->substr(4);
  const bool driveLetter = path.find(":\\") == 1 || path.find(":/") == 1;
  // "\\server" and "//server" paths, and on this platform every path from the root.
  const bool fromRoot = path.starts_with("\\\\") || path.starts_with('/');
  if (driveLetter || fromRoot) return path;
  if (path.find_first_of("/\\") != std::string::npos) return "ERROR_PATH";
  return path;
}

}  // namespace tarnvel
