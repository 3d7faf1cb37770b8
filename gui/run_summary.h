// What a finished conversion run tells the operator: the results text and the closing message.
#pragma once

#include <string>
#include <string_view>

namespace tarnvel::gui {

// "Connection string: " + the command line + "\r\n".
std::string ConversionSummary(const std::string& shownCommandLine);
// The converter's error lines in `output`, each followed by "\r\n"; empty without any.
std::string FailureLinesText(std::string_view output);
// The success text for 0 failures, else the failure text with the count.
std::string CompletionMessage(int failures);

}  // namespace tarnvel::gui
