// Table and column names of the QOR schema, in the database's own letter case once discovered.
#pragma once

#include <sql.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvel {

enum class TableId {
  kFileList,
  kSiteChan,
  kSite,
  kOrigin,
  kNetworks,
  kLastId,
  kIdSens,
  kIdFreq,
  kGeographicRegion,
  kEventList,
  kEarthquake,
  kContReg,
  kCalibration,
  kArrival,
};
inline constexpr std::size_t kTableCount = 14;

class SchemaNames {
 public:
  SchemaNames();  // every name at its default (capitals)

  // Resets every name to its default, then takes the letter case the catalogue of `connection`
  // reports. Failing catalogue calls leave the affected names at their defaults.
  void DiscoverSchema(SQLHDBC connection);

  const std::string& Table(TableId table) const;
  // The current name of the column whose default name is `defaultName` (in capitals).
  const std::string& Column(TableId table, std::string_view defaultName) const;

  struct TableNames {
    std::string name;
    std::vector<std::string> columns;
  };
  const std::array<TableNames, kTableCount>& All() const { return tables_; }

 private:
  std::array<TableNames, kTableCount> tables_;
};

}  // namespace tarnvel
