// The store's connection half: its settings, connecting and disconnecting, the reachability probe
// and the check for FILELIST's optional end-time column.
#include "store/waveform_store.h"

namespace tarnvel {

WaveformStore::WaveformStore() = default;

WaveformStore::WaveformStore(const ResolvedSettings& settings) {
  Configure(settings);
}

WaveformStore::~WaveformStore() {
  Disconnect();
}

StoreResult WaveformStore::Reported(std::string_view operation, const ChannelKey& channel,
                                    int result) {
  if (result != store_result::kOk) {
    std::string line = "tarnvel store: ";
    line += operation;
    line += ' ';
    line += channel.station;
    line += "::";
    line += channel.channel;
    line += "::";
    line += channel.location;
    line += ": " + std::to_string(result) + " " + store_result::StoreResultText(result);
    debug_->Write(line);
  }
  return static_cast<StoreResult>(result);
}

void WaveformStore::Configure(const ResolvedSettings& settings) {
  source_ = settings.odbc;
  user_ = settings.user;
  password_ = settings.password;
  dataDir_ = settings.dataDir;
  useEndTime_ = settings.useTend;
  if (useEndTime_ && IsConnected()) RunEndTimeColumnCheck();
  work_.SetSyncing(settings.syncFiles);
}

bool WaveformStore::Connect() {
  // A second Connect would otherwise leave the first connection open and unreachable.
  Disconnect();

  if (!environment_.Allocate(SQL_NULL_HANDLE)) return false;
  if (!OdbcSucceeded(SQLSetEnvAttr(environment_.get(), SQL_ATTR_ODBC_VERSION,
                                   reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), SQL_IS_INTEGER))) {
    environment_.Reset();
    return false;
  }
  if (!connection_.Allocate(environment_.get())) {
    environment_.Reset();
    return false;
  }
  std::string source = source_;
  std::string user = user_;
  std::string password = password_;
  const SQLRETURN rc = SQLConnect(connection_.get(), reinterpret_cast<SQLCHAR*>(source.data()),
                                  SQL_NTS, reinterpret_cast<SQLCHAR*>(user.data()), SQL_NTS,
                                  reinterpret_cast<SQLCHAR*>(password.data()), SQL_NTS);
  if (!OdbcSucceeded(rc)) {
    connection_.Reset();
    environment_.Reset();
    return false;
  }

  names_.DiscoverSchema(connection_.get());
  if (useEndTime_) RunEndTimeColumnCheck();
  work_.Connected(connection_.get());
  return true;
}

void WaveformStore::Disconnect() {
  probedFor_.reset();
  work_.Disconnecting(static_cast<bool>(connection_));
  if (connection_) {
    SQLDisconnect(connection_.get());
    connection_.Reset();
  }
  environment_.Reset();
}

bool WaveformStore::ProbeFileList() {
  // Asked anew, the answer kept for a segment no longer stands, whatever comes back.
  probedFor_.reset();
  if (!connection_) return false;
  Statement statement(connection_.get());
  if (!statement.ok()) return false;
  const std::string text =
      FormatStatement("select max(%s) from %s", names_.Column(TableId::kFileList, "TBEGIN").c_str(),
                      names_.Table(TableId::kFileList).c_str());
  if (!OdbcSucceeded(statement.Execute(text))) return false;
  // The answer tells what is known of a locked channel's rows whether any can start later.
  double latest = 0.0;
  statement.BindDouble(1, latest);
  if (OdbcSucceeded(statement.Fetch())) {
    probeLatest_ =
        statement.Indicator(1) == SQL_NULL_DATA ? std::nullopt : std::optional<double>(latest);
    ++probes_;
  }
  return true;
}

void WaveformStore::RunEndTimeColumnCheck() {
  useEndTime_ = false;
  Statement statement(connection_.get());
  if (!statement.ok()) return;
  std::string table = names_.Table(TableId::kFileList);
  std::string column = names_.Column(TableId::kFileList, "TEND");
  const SQLRETURN rc =
      SQLColumns(statement.get(), nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(table.data()),
                 SQL_NTS, reinterpret_cast<SQLCHAR*>(column.data()), SQL_NTS);
  if (!OdbcSucceeded(rc)) return;
  if (SQLFetch(statement.get()) != SQL_NO_DATA) useEndTime_ = true;
  SQLFreeStmt(statement.get(), SQL_CLOSE);
}

}  // namespace tarnvel
