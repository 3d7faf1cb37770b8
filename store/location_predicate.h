// The test a statement selects one channel's location code with. A blank location (empty or
// "??", see IsBlankLocation) matches rows stored with "??" and rows without a code (null)
// alike; any other code matches rows carrying exactly that code.
#pragma once

#include <string>
#include <string_view>

namespace tarnvel {

// The wordings the statements use; only their texts differ, never what they select.
enum class LocationPredicateForm {
  kFileList,           // "(LCODE='??' or LCODE is null)" or "LCODE='00'"
  kFileListBracketed,  // "(LCODE='??' or LCODE is null)" or "(LCODE='00')": FILELIST updates
  kSiteChan,           // "(LCODE is null or LCODE='??')" or "LCODE='00'"
};

// `column` is the location code column's name as the schema spells it; the code is quoted as a
// literal (SqlText).
std::string LocationPredicate(std::string_view column, std::string_view location,
                              LocationPredicateForm form);

}  // namespace tarnvel
