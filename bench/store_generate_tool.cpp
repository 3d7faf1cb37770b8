// Writes a QOR store directly, for the store checker's benchmark: ROWS waveform files with their
// FILELIST rows, spread over stations of 1000 files each (channel BHZ, 20 sps, each file 3 s of
// 60 samples following the one before it), with the headers and paths the converter gives them.
// Rows go into the database a few hundred per statement, committed once at the end.
//
//   store_generate_tool ODBC=dsn USER=user PASSWORD=pw DATA=dir ROWS=100000
//
// Prints "<rows> rows, <bytes> bytes".
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "settings/settings_reader.h"
#include "store/file_header.h"
#include "store/odbc_statement.h"
#include "store/store_files.h"
#include "store/waveform_store.h"

namespace {

using namespace tarnvel;

constexpr double kBase = 1237593600.0;  // 2009-03-21 00:00:00 UTC
constexpr int kFilesPerStation = 1000;
constexpr int kSamples = 60;
constexpr double kRate = 20.0;
constexpr int kRowsPerStatement = 250;

int Fail(const std::string& what) {
  std::fprintf(stderr, "store_generate_tool: %s\n", what.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  long rows = 0;
  for (const std::string& arg : args) {
    if (arg.rfind("ROWS=", 0) == 0) rows = std::strtol(arg.c_str() + 5, nullptr, 10);
  }
  if (rows <= 0) return Fail("usage: ODBC=dsn USER=user PASSWORD=pw DATA=dir ROWS=n");
  const ResolvedSettings settings = SettingsReader(args).LoadAndGetSettings();
  WaveformStore store(settings);
  if (!store.Connect()) return Fail("cannot connect to " + settings.odbc);
  if (!store.Directory().MakeDirectoryPath())
    return Fail("cannot create " + settings.dataDir.Setting());
  if (!OdbcSucceeded(SQLSetConnectAttr(store.ConnectionHandle(), SQL_ATTR_AUTOCOMMIT,
                                       reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF),
                                       SQL_IS_UINTEGER))) {
    return Fail("cannot open a transaction");
  }
  const StoreFiles files(store.Directory());

  std::string samples(static_cast<std::size_t>(kSamples) * 4, '\0');
  for (int i = 0; i < kSamples; ++i) {
    const auto value = static_cast<float>(i % 7 - 3);
    std::memcpy(samples.data() + 4 * i, &value, 4);
  }
  const double quantity = kSamples / kRate;
  const std::string insert =
      "insert into FILELIST(STA,TBEGIN,TQTY,SPS,GAIN,CPATH,DATATYPE,CH,CREATER,LDDATE,FOFF,CALIB,"
      "CALPER,TEND) values";
  std::string statement;
  int pending = 0;
  long long bytes = 0;
  auto flush = [&]() {
    if (pending == 0) return true;
    Statement run(store.ConnectionHandle());
    pending = 0;
    return run.ok() && OdbcSucceeded(run.Execute(statement));
  };
  for (long i = 0; i < rows; ++i) {
    char station[32];
    std::snprintf(station, sizeof station, "S%04ld", i / kFilesPerStation);
    const double begin = kBase + static_cast<double>(i % kFilesPerStation) * quantity;
    const std::tm local = LocalTimeOf(begin);
    char hour[8];
    std::snprintf(hour, sizeof hour, "%02d", local.tm_hour);
    const std::string cpath =
        std::string(station) + "/" + hour + "/" + ComposeWaveformFileName(local, "BHZ", station);
    const auto header = StoreHeaderOf({station, "BHZ", "??"}, kRate, begin, kSamples, true);
    const FileDescriptor fd = files.CreateNew(cpath);
    if (!fd || !WriteAll(fd.get(), header.data(), header.size()) ||
        !WriteAll(fd.get(), samples.data(), samples.size())) {
      return Fail("cannot write " + cpath);
    }
    bytes += static_cast<long long>(header.size() + samples.size());
    statement += pending == 0 ? insert : std::string(",");
    statement += FormatStatement(
        "('%s',%0.4f,%0.2f,%0.2f,1,'%s',3,'BHZ','tarnvel',{ts '2009-03-21 00:00:00'},512,0,0,"
        "%0.4f)",
        station, begin, quantity, kRate, cpath.c_str(), begin + quantity);
    if (++pending == kRowsPerStatement && !flush()) return Fail("insert failed");
    if (pending == 0) statement.clear();
  }
  if (!flush()) return Fail("insert failed");
  if (!OdbcSucceeded(SQLEndTran(SQL_HANDLE_DBC, store.ConnectionHandle(), SQL_COMMIT))) {
    return Fail("commit failed");
  }
  std::printf("%ld rows, %lld bytes\n", rows, bytes);
  return 0;
}
