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
inline constexpr char kTooLongFormat[] =
    "Слишком длинное значение: %s (допускается не более %zu символов, задано %zu).\n"
    "Операция не выполнена.";

// The converter could not be started: which program, where.
inline constexpr char kConverterNotFoundFormat[] =
    "Программа-конвертер «%s» не найдена в папке %s.";
inline constexpr char kConverterNotExecutableFormat[] =
    "Программа-конвертер %s не запускается: нет права на её выполнение.";
inline constexpr char kConverterNotStartedFormat[] = "Не удалось запустить программу-конвертер %s.";

// The station, channel and location boxes: their names as their labels read and as a message
// names them in running text, and what they refuse.
inline constexpr char kStationBox[] = "Станция";
inline constexpr char kChannelBox[] = "Канал";
inline constexpr char kLocationBox[] = "LCODE";
inline constexpr char kStationName[] = "станция";
inline constexpr char kChannelName[] = "канал";
inline constexpr char kLocationName[] = "LCODE";
inline constexpr char kBadPatternCharacterFormat[] =
    "Недопустимый символ «%s» в поле «%s».\n"
    "Коды станции, канала и расположения пишутся латинскими буквами и цифрами, "
    "* и ? заменяют символы.\n"
    "Операция не выполнена.";
inline constexpr char kPatternCharactersHint[] = "Только латинские буквы, цифры, * и ?";
inline constexpr char kPatternLengthHintFormat[] = "Не более %d символов";

// The writing bar's label: the store, or the CSS file a conversion writes.
inline constexpr char kWritingToDatabase[] = "Запись в базу данных";
inline constexpr char kWritingToCssFormat[] = "Запись в файл CSS: %s";

// Stopping a run.
inline constexpr char kStop[] = "Прервать";
inline constexpr char kStopQuestion[] = "Прервать работу конвертера?";
inline constexpr char kStopAndQuitQuestion[] =
    "Прервать работу конвертера и завершить работу программы?";
inline constexpr char kStopCaption[] = "Прерывание операции";
inline constexpr char kStopped[] = "Операция прервана.";
inline constexpr char kStoppedResult[] =
    "Операция прервана: конвертер остановлен по запросу оператора.";
inline constexpr char kStoppedStoreNote[] =
    "Начатая, но не завершённая запись в хранилище будет приведена в порядок при следующем "
    "конвертировании.";

// What a finished conversion wrote, or why it wrote nothing.
inline constexpr char kStoredFormat[] =
    "Записано в хранилище QOR: отсчётов %lld, файлов %d (новых %d, дописанных %d, "
    "переписанных %d).";
inline constexpr char kAlreadyStoredFormat[] = "Уже были в хранилище отсчётов: %lld.";
inline constexpr char kNothingStored[] = "Ничего не записано в хранилище QOR.";
inline constexpr char kNothingNewFormat[] =
    "Ничего не записано в хранилище QOR: все отсчёты (%lld) уже были в нём.";
inline constexpr char kCssWrittenFormat[] =
    "Записано в CSS: строк wfdisc %d, файлов данных %d (отсчётов %lld), файл wfdisc: %s";
inline constexpr char kNothingCssFormat[] = "Ничего не записано в CSS-файл %s.";
inline constexpr char kNoDataFound[] = "Ничего не записано: в файле нет данных";
inline constexpr char kNoDataOfChannelsFormat[] = " каналов %s";
inline constexpr char kNoDataInWindow[] = " в заданном интервале времени";

// A failed run: the first error lines follow the count, the rest are in the results.
inline constexpr char kMoreFailuresFormat[] = "…и ещё %d — см. результаты работы.";
inline constexpr char kExitCodeFormat[] = "Конвертер завершился с кодом %d.";
inline constexpr char kExitCodeMeaningFormat[] = "Конвертер завершился с кодом %d: %s.";
inline constexpr char kConverterCrashed[] = "Конвертер завершился аварийно.";
inline constexpr char kExitConnection[] = "ошибка подключения к базе данных";
inline constexpr char kExitFileOpen[] = "ошибка открытия файла";
inline constexpr char kExitFileRead[] = "ошибка чтения файла";

inline constexpr char kListingHeader[] = "Обнаружено в файле:\r\n";
inline constexpr char kListingFooter[] = "==================\r\n";
inline constexpr char kSummaryPrefix[] = "Connection string: ";

}  // namespace tarnvel::gui::text
