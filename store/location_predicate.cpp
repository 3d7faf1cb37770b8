#include "store/location_predicate.h"

#include "seed/channel_key.h"
#include "store/odbc_statement.h"

namespace tarnvel {

std::string LocationPredicate(std::string_view column, std::string_view location,
                              LocationPredicateForm form) {
  const std::string name(column);
  const std::string stored = name + "='" + std::string(kBlankLocation) + "'";
  const std::string null = name + " is null";
  if (IsBlankLocation(location)) {
    return form == LocationPredicateForm::kSiteChan ? "(" + null + " or " + stored + ")"
                                                    : "(" + stored + " or " + null + ")";
  }
  const std::string test = name + "='" + SqlText(location) + "'";
  return form == LocationPredicateForm::kFileListBracketed ? "(" + test + ")" : test;
}

}  // namespace tarnvel
