// The dialog program's own texts: message boxes, captions and dialog texts.
#pragma once

namespace tarnvel::gui::text {

inline constexpr char kCaption[] = "tarnvel";
inline constexpr char kEnterFileListing[] = "Введите конвертируемый файл";
inline constexpr char kChooseFileConversion[] = "Выберите конвертируемый файл!";
inline constexpr char kBadCssPath[] = "В командной строке задан некорретный путь к CSS файлу!";
inline constexpr char kWarningCaption[] = "Warning";
inline constexpr char kSuccess[] = "Операция успешно завершена!";
inline constexpr char kFailureFormat[] = "Операция завершена с ошибками!\nОшибки: %d\n";
inline constexpr char kQuitQuestion[] = "Завершить работу программы?";
inline constexpr char kQuitCaption[] = "Завершение работы...";
inline constexpr char kConverterMissingFormat[] = "Не удалось запустить конвертер %s: %s";
inline constexpr char kTooLongFormat[] =
    "Слишком длинное значение: %s (допускается не более %zu символов, задано %zu).\n"
    "Операция не выполнена.";

inline constexpr char kListingHeader[] = "Обнаружено в файле:\r\n";
inline constexpr char kListingFooter[] = "==================\r\n";
inline constexpr char kSummaryPrefix[] = "Connection string: ";

}  // namespace tarnvel::gui::text
