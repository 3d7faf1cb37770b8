// What a finished conversion run tells the operator: the results text and the closing message.
#pragma once

#include <string>

namespace tarnvel::gui {

// "Connection string: " + the command line + "\r\n".
std::string ConversionSummary(const std::string& shownCommandLine);
// The success text for 0 failures, else the failure text with the count.
std::string CompletionMessage(int failures);

}  // namespace tarnvel::gui
