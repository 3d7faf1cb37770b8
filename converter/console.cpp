#include "converter/console.h"

#include <iconv.h>
#include <langinfo.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <vector>

namespace tarnvel {
namespace {

constexpr const char* kProgramName = "tarnvel.exe";
constexpr const char* kVersion = "v1.3 ";

// Appends one printf-formatted line to `text`.
__attribute__((format(printf, 2, 3))) void AppendFormatted(std::string& text, const char* format,
                                                           ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (size > 0) {
    std::vector<char> buffer(static_cast<std::size_t>(size) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    text.append(buffer.data(), static_cast<std::size_t>(size));
  }
  va_end(args);
}

class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (valid()) iconv_close(handle_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return handle_; }

 private:
  iconv_t handle_;
};

bool IsUtf8Codeset(const char* codeset) {
  return strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0;
}

// Restores the terminal settings it was given when it goes.
class TerminalModeGuard {
 public:
  TerminalModeGuard(int fd, const termios& saved) : fd_(fd), saved_(saved) {}
  ~TerminalModeGuard() { tcsetattr(fd_, TCSANOW, &saved_); }
  TerminalModeGuard(const TerminalModeGuard&) = delete;
  TerminalModeGuard& operator=(const TerminalModeGuard&) = delete;

 private:
  int fd_;
  termios saved_;
};

}  // namespace

std::string HelpTextUtf8() {
  std::string text;
  AppendFormatted(text, "%s\n", "Описание:");
  AppendFormatted(text, "  %s %s%s\n", kProgramName, kVersion,
                  " - Конвертер данных из формата SEED в формат QOR");
  AppendFormatted(text, "\n%s\n", "Примечания:");
  AppendFormatted(text, "%-2s%s\n", "",
                  "Отконвертированые данные будут помещены по пути указанному в секции [DATA].");
  AppendFormatted(text, "%-2s%s\n", "",
                  "1-ым параметром командной строки ДОЛЖЕН быть путь к SEED-файлу.");
  AppendFormatted(text, "%-2s%s\n", "",
                  "Если параметр DIR= в секции [DATA] начинается с символов '\\\\' или '//', то в "
                  "поле CPATH таблицы FILELIST заносится полный путь, иначе относительный.");
  AppendFormatted(text, "\n%s\n", "Использование:");
  AppendFormatted(text, "  %s \"path_to_SEED_file\"\n", kProgramName);
  AppendFormatted(text, "\n%s\n", "Обязательные параметры:");
  AppendFormatted(text, "%-2s%s%s\n", "", "path_to_SEED_file", " - Исходный файл в формате SEED");
  AppendFormatted(text, "\n%s\n", "Дополнительные параметры:");
  AppendFormatted(text, "%-2s%-10s%s\n", "",
                  "CSS=", " - Путь к CSS-файлу (нет записи в базу данных)");
  AppendFormatted(text, "%-2s%-10s%s\n", "",
                  "BEG=", " - Время начала (чч:ММ:сс-дд.мм.гггг) конвертирования");
  AppendFormatted(text, "%-2s%-10s%s\n", "",
                  "END=", " - Время окончания (чч:ММ:сс-дд.мм.гггг) конвертирования");
  AppendFormatted(text, "%-2s%-10s%s\n", "",
                  "QTY=", " - Продолжительность конвертирования (ТОЛЬКО с параметром BEG=)");
  AppendFormatted(text, "%-2s%-10s%s\n", "", "ODBC=", " - Имя источника данных ODBC");
  AppendFormatted(text, "%-2s%-10s%s\n", "", "USER=", " - Имя пользователя");
  AppendFormatted(text, "%-2s%-10s%s\n", "", "PASSWORD=", " - Пароль пользователя");
  AppendFormatted(text, "%-2s%-10s%s\n", "",
                  "DATA=", " - Путь к каталогу с отконвертированными данными");
  AppendFormatted(text, "%-2s%-10s%s\n", "", "-i", " - Получение информации о файле");
  AppendFormatted(text, "%-2s%-10s%s\n", "", "-i=size_MB",
                  " - Просмотр части файла (size_MB - размер части в МБайтах)");
  AppendFormatted(text, "\n%-2s%-10s%s\n", "", "STA:CH:LC",
                  " - Конвертировать выборочные данные данные");
  AppendFormatted(text, "%-2s%s\n", "", "Для данного ключа допустимо использование спецсимволов: ");
  AppendFormatted(text, "%-4s%s\n", "", "* - заменяет любое количество символов");
  AppendFormatted(text, "%-4s%s\n", "", "? - заменяет один символ");
  AppendFormatted(text, "\n%s\n", "Возвращаемые значения:");
  AppendFormatted(text, "%-2s%-3s%s\n", "", "0", " => Программа отработала без ошибок");
  AppendFormatted(text, "%-2s%-3s%s\n", "", "-1", " => Ошибка подключения к базе данных");
  AppendFormatted(text, "%-2s%-3s%s\n", "", "-2", " => Ошибка открытия файла");
  AppendFormatted(text, "%-2s%-3s%s\n", "", "-3", " => Ошибка чтения файла");
  AppendFormatted(text, "%-2s%-3s%s\n", "", "-4", " => Ошибка записи данных");
  return text;
}

std::string ToCodeset(const std::string& utf8, const char* codeset) {
  if (codeset == nullptr || *codeset == '\0' || IsUtf8Codeset(codeset)) return utf8;
  const IconvHandle converter(codeset, "UTF-8");
  if (!converter.valid()) return utf8;

  std::string input = utf8;
  char* in = input.data();
  std::size_t inLeft = input.size();
  // Single-byte codesets never need more room than the input; others may.
  std::vector<char> output(input.size() * 4 + 16);
  char* out = output.data();
  std::size_t outLeft = output.size();
  if (iconv(converter.get(), &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) ||
      iconv(converter.get(), nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1)) {
    return utf8;  // the codeset cannot hold the text
  }
  return std::string(output.data(), output.size() - outLeft);
}

std::string ToConsoleCodeset(const std::string& utf8) {
  return ToCodeset(utf8, nl_langinfo(CODESET));
}

void PrintHelp(std::FILE* out) {
  std::fputs(ToConsoleCodeset(HelpTextUtf8()).c_str(), out);
}

void WaitForKey() {
  if (isatty(STDIN_FILENO) == 0) return;
  termios saved{};
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return;
  termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return;
  const TerminalModeGuard restore(STDIN_FILENO, saved);
  char key = 0;
  while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
  }
}

}  // namespace tarnvel
