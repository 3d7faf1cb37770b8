// The SITECHAN check of the information mode: is a channel described, and with which rate.
#include "store/location_predicate.h"
#include "store/waveform_store.h"

namespace tarnvel {

StoreResult WaveformStore::CheckSiteChan(const ChannelKey& channel, double rate,
                                         double& siteChanRate) {
  if (!ProbeFileList()) return store_result::kUnreachable;
  Statement statement(connection_.get());
  if (!statement.ok()) return store_result::kStatementFailed;

  const auto column = [this](const char* name) {
    return names_.Column(TableId::kSiteChan, name).c_str();
  };
  const char* table = names_.Table(TableId::kSiteChan).c_str();
  const std::string sta = SqlText(channel.station);
  const std::string chan = SqlText(channel.channel);
  const std::string location = tarnvel::LocationPredicate(column("LCODE"), channel.location,
                                                          LocationPredicateForm::kSiteChan);
  const std::string text =
      FormatStatement("select %s from %s where %s='%s' and %s='%s' and %s", column("SPS"), table,
                      column("STA"), sta.c_str(), column("CHAN"), chan.c_str(), location.c_str());
  if (!OdbcSucceeded(statement.Execute(text))) return store_result::kStatementFailed;

  double found = 0.0;
  if (!statement.BindDouble(1, found)) return store_result::kStatementFailed;
  const SQLRETURN fetch = statement.Fetch();
  siteChanRate = found;
  if (fetch == SQL_NO_DATA) return store_result::kNotInSiteChan;
  if (!OdbcSucceeded(fetch)) return store_result::kStatementFailed;
  return found != rate ? store_result::kSiteChanRateDiffers : store_result::kOk;
}

}  // namespace tarnvel
