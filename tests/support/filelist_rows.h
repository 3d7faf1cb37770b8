// FILELIST rows as the tests read them back, for unit and end-to-end tests alike.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_database.h"

namespace tarnvel::testing {

// The columns of a FILELIST row the checks need, in this order in every query; TEND last, when
// the table has it.
inline constexpr const char* kStoredFileColumns = "CPATH, TBEGIN, TQTY, SPS, STA, CH, LCODE";

struct StoredFile {
  std::string cpath;
  double begin = 0.0;
  double quantity = 0.0;
  double rate = 0.0;
  std::string station;
  std::string channel;
  std::string location;       // kNullText or "" for none
  std::optional<double> end;  // TEND
};

inline std::vector<StoredFile> ToStoredFiles(const std::vector<Row>& rows) {
  std::vector<StoredFile> files;
  for (const Row& row : rows) {
    StoredFile file;
    file.cpath = row.at(0);
    file.begin = std::stod(row.at(1));
    file.quantity = std::stod(row.at(2));
    file.rate = std::stod(row.at(3));
    file.station = row.at(4);
    file.channel = row.at(5);
    file.location = row.at(6);
    if (row.size() > 7 && row[7] != kNullText && !row[7].empty()) file.end = std::stod(row[7]);
    files.push_back(file);
  }
  return files;
}

// Every row of FILELIST, earliest start first.
inline std::vector<StoredFile> StoredFiles(TestDatabase& db) {
  const std::string columns =
      std::string(kStoredFileColumns) + (db.options().withEndTime ? ", TEND" : "");
  return ToStoredFiles(
      db.Query("select " + columns + " from FILELIST order by TBEGIN, STA, CPATH"));
}

// Samples a row says its file holds.
inline std::int64_t RowSamples(const StoredFile& file) {
  return std::llround(file.quantity * file.rate);
}

}  // namespace tarnvel::testing
