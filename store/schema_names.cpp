#include "store/schema_names.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <stdexcept>

#include "store/odbc_statement.h"

namespace tarnvel {
namespace {

struct TableDefault {
  const char* name;
  std::initializer_list<const char*> columns;
};

// The QOR schema: tables in the order of TableId, each with its columns in order.
const std::array<TableDefault, kTableCount>& Defaults() {
  static const std::array<TableDefault, kTableCount> defaults = {{
      {"FILELIST",
       {"NINDEX", "STA", "TBEGIN", "TQTY", "SPS", "GAIN", "CPATH", "COMMENT", "DATATYPE", "CH",
        "CREATER", "LDDATE", "FOFF", "CALIB", "CALPER", "LCODE", "TEND"}},
      {"SITECHAN",
       {"NINDEX", "STA", "CHAN", "NGROUP", "CHANINDEX", "EDEPTH", "LAT", "LON", "SPS", "HANG",
        "VANG", "DESCR", "CALIBFILE", "LDDATE", "LCODE"}},
      {"SITE",
       {"NINDEX", "STA", "NGROUPS", "ELEV", "LAT", "LON", "DESCR", "LDDATE", "DNORTH", "DEAST",
        "REFSTA"}},
      {"ORIGIN",
       {"EVENTID", "LAT", "LON", "EDEPTH", "ORIGINTIME", "RMS", "DH", "DZ", "COMMENT", "LDDATE",
        "ORID", "MB", "MBUNC", "MS", "MSUNC"}},
      {"NETWORKS", {"NINDEX", "NETNAME", "NETTYPE", "NETLIST", "LDDATE"}},
      {"LASTID", {"KEYNAME", "KEYVALUE", "LDDATE"}},
      {"ID_SENS", {"ID_SENS", "SENS_UNITS", "CALIB_UNITS"}},
      {"ID_FREQ", {"ID_FREQ", "FREQ_UNITS"}},
      {"GEOGRAPHIC_REGION", {"COD2", "REGION", "NAME", "COMMENT"}},
      {"EVENTLIST", {"NINDEX", "STA", "TBEGIN", "EVENT_TIME", "LDDATE"}},
      {"EARTHQUAKE",
       {"N", "NINYEAR", "REGION", "DATE_IDC", "DS", "LAT", "LON", "DEPTH", "MS", "MPV", "I0", "COM",
        "FEEL", "RTIME", "NSTA", "NMB", "NMS", "NCSEM"}},
      {"CONTREG", {"LAT1", "LON1", "LAT2", "LON2", "NAME", "EPN"}},
      {"CALIBRATION",
       {"NETWORK", "LOCATION", "STA", "CHAN", "STARTDATE", "ENDDATE", "SENS", "ID_SENS", "FREQ",
        "ID_FREQ", "SAC", "FAP", "LDDATE"}},
      {"ARRIVAL", {"NINDEX", "FLAG",   "EVENTID",   "NUMB",   "STA",      "CHAN",     "IPHASE",
                   "ITIME",  "DELTIM", "AZIMUTH",   "SLOW",   "EMA",      "RECT",     "FM",
                   "IM_EM",  "PER",    "RESIDUALS", "AMPL",   "LDDATE",   "WGT",      "ARID",
                   "MS",     "MB",     "AMPTIME",   "DIST",   "CODA",     "REGCLASS", "MCODA",
                   "MPSP",   "MPLP",   "CHANTYPE",  "REMARK", "AFILTYPE", "PFILTYPE", "MWA"}},
  }};
  return defaults;
}

// Catalogue names are read into buffers of this size.
constexpr std::size_t kCatalogueNameSize = 64;

std::string Capitals(const char* text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return out;
}

// Replaces the first slot equal (in capitals) to the fetched name by the name as fetched.
// Slots already holding another letter case no longer compare equal, so the first reported
// form of a name stays.
template <typename Slots, typename SlotText>
void TakeFetchedName(const char* fetched, Slots& slots, SlotText slotText) {
  const std::string upper = Capitals(fetched);
  for (auto& slot : slots) {
    std::string& text = slotText(slot);
    if (upper == text) {
      text = fetched;
      return;
    }
  }
}

// Column discovery for one table; any failing call leaves its column names as they are.
void DiscoverColumns(SQLHDBC connection, SchemaNames::TableNames& table) {
  Statement statement(connection);
  if (!statement.ok()) return;
  std::string tableName = table.name;
  const SQLRETURN rc =
      SQLColumns(statement.get(), nullptr, 0, nullptr, 0,
                 reinterpret_cast<SQLCHAR*>(tableName.data()), SQL_NTS, nullptr, 0);
  if (!OdbcSucceeded(rc)) return;
  std::array<char, kCatalogueNameSize> name{};
  SQLLEN indicator = 0;
  if (!OdbcSucceeded(SQLBindCol(statement.get(), 4, SQL_C_CHAR, name.data(),
                                static_cast<SQLLEN>(name.size()), &indicator))) {
    SQLFreeStmt(statement.get(), SQL_CLOSE);
    return;
  }
  for (;;) {
    name[0] = '\0';
    const SQLRETURN fetch = SQLFetch(statement.get());
    if (!OdbcSucceeded(fetch)) break;
    if (indicator == SQL_NULL_DATA) continue;
    TakeFetchedName(name.data(), table.columns, [](std::string& s) -> std::string& { return s; });
  }
  SQLFreeStmt(statement.get(), SQL_CLOSE);
}

}  // namespace

SchemaNames::SchemaNames() {
  const auto& defaults = Defaults();
  for (std::size_t i = 0; i < kTableCount; ++i) {
    tables_[i].name = defaults[i].name;
    tables_[i].columns.assign(defaults[i].columns.begin(), defaults[i].columns.end());
  }
}

void SchemaNames::DiscoverSchema(SQLHDBC connection) {
  *this = SchemaNames();
  if (connection == SQL_NULL_HANDLE) return;

  {
    Statement statement(connection);
    if (!statement.ok()) return;
    char tableType[] = "'TABLE'";
    const SQLRETURN rc = SQLTables(statement.get(), nullptr, 0, nullptr, 0, nullptr, 0,
                                   reinterpret_cast<SQLCHAR*>(tableType), SQL_NTS);
    if (!OdbcSucceeded(rc)) return;
    std::array<char, kCatalogueNameSize> name{};
    SQLLEN indicator = 0;
    if (OdbcSucceeded(SQLBindCol(statement.get(), 3, SQL_C_CHAR, name.data(),
                                 static_cast<SQLLEN>(name.size()), &indicator))) {
      for (;;) {
        name[0] = '\0';
        if (!OdbcSucceeded(SQLFetch(statement.get()))) break;
        if (indicator == SQL_NULL_DATA) continue;
        TakeFetchedName(name.data(), tables_, [](TableNames& t) -> std::string& { return t.name; });
      }
    }
    SQLFreeStmt(statement.get(), SQL_CLOSE);
  }

  for (auto& table : tables_) DiscoverColumns(connection, table);
}

const std::string& SchemaNames::Table(TableId table) const {
  return tables_.at(static_cast<std::size_t>(table)).name;
}

const std::string& SchemaNames::Column(TableId table, std::string_view defaultName) const {
  const auto index = static_cast<std::size_t>(table);
  const auto& defaults = Defaults()[index].columns;
  std::size_t position = 0;
  for (const char* column : defaults) {
    if (defaultName == column) return tables_[index].columns.at(position);
    ++position;
  }
  // A column the table does not have is a programming error: a statement built from it
  // could only fail.
  throw std::out_of_range("no column " + std::string(defaultName) + " in table " +
                          tables_[index].name);
}

}  // namespace tarnvel
