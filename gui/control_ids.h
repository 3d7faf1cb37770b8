// The object names of the dialogs' controls: the numeric ids of the dialog templates the
// operators know, and "OK" and "Cancel" for the buttons that close a dialog. Tests find the
// controls by these names.
#pragma once

namespace tarnvel::gui::control_id {

// Main dialog.
inline constexpr char kStation[] = "1000";
inline constexpr char kChannel[] = "1001";
inline constexpr char kLocation[] = "1002";
inline constexpr char kSeedPath[] = "1005";
inline constexpr char kBrowse[] = "1006";
inline constexpr char kConvert[] = "1007";
inline constexpr char kToDatabase[] = "1008";
inline constexpr char kToCss[] = "1009";
inline constexpr char kBeginDate[] = "1010";
inline constexpr char kBeginTime[] = "1011";
inline constexpr char kEndDate[] = "1012";
inline constexpr char kEndTime[] = "1013";
inline constexpr char kUseBegin[] = "1014";
inline constexpr char kUseEnd[] = "1015";
inline constexpr char kReadingBar[] = "1018";
inline constexpr char kWritingBar[] = "1019";
inline constexpr char kShowResults[] = "1020";
inline constexpr char kResults[] = "1021";
inline constexpr char kList[] = "1022";
// Controls without a template id.
inline constexpr char kStop[] = "Stop";
inline constexpr char kPatternHint[] = "PatternHint";
inline constexpr char kWritingLabel[] = "WritingLabel";

// Channel list dialog.
inline constexpr char kChannelTable[] = "1023";

// Large file dialog.
inline constexpr char kFileSize[] = "1024";
inline constexpr char kViewLimit[] = "1025";

// The buttons that accept and that close a dialog.
inline constexpr char kOk[] = "OK";
inline constexpr char kCancel[] = "Cancel";

}  // namespace tarnvel::gui::control_id
