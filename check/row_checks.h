// The checks of FILELIST rows: each row against its file (there, a regular file, as long as
// the row says, a header that agrees), paths registered twice, and rows of one channel that
// store the same sample times.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check/finding.h"
#include "store/filelist_survey.h"
#include "store/store_files.h"

namespace tarnvel::check {

// A row of the selection with what lies at its path.
struct CheckedRow {
  RegisteredFile row;
  FileCheck check;
  bool regularFile = false;
};

// Checks one row against its file (the row's `disk` is filled in); adds what is wrong.
// `useEndTime`: the store keeps TEND, so headers give TEND - TBEGIN as the length.
CheckedRow CheckRow(const StoreFiles& files, RegisteredFile row, bool useEndTime,
                    std::vector<Finding>& findings);

// The value of a header's line "<key>=<value>" (after its first line); std::nullopt when it has
// none.
std::optional<std::string> HeaderField(std::string_view header, std::string_view key);

// Where a header disagrees with the header the store writes for the row: "Station=XYZ (row:
// ABC), ..."; empty when it agrees. `header` is the file's first bytes (at most 512).
std::string HeaderDisagreement(const std::string& header, const std::string& expected);

// Paths of the selection's rows that more than one row of FILELIST registers (`registrations`:
// the rows of each path).
void FindPathsRegisteredTwice(const std::vector<CheckedRow>& rows,
                              const std::map<std::string, int>& registrations,
                              const DataDirectory& directory, std::vector<Finding>& findings);

// Rows of one channel whose files hold samples of the same times: spans that overlap on one
// sample grid (a file shifted off the grid holds other samples), or at another rate.
void FindOverlaps(const std::vector<CheckedRow>& rows, const DataDirectory& directory,
                  std::vector<Finding>& findings);

// The samples a row's file holds as the row registers them: its own count for a file that
// matches or runs longer, what a short file holds, none for a file that is not there.
std::int64_t StoredSamples(const CheckedRow& row);

// The end of a row's span: TBEGIN + registered samples / SPS.
double RowEnd(const RegisteredFile& row);

}  // namespace tarnvel::check
