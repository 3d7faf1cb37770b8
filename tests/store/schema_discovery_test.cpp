// The QOR schema names: their defaults, and the letter case taken from real catalogues.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <string>
#include <vector>

#include "store/schema_names.h"
#include "store/waveform_store.h"
#include "tests/support/process.h"
#include "tests/support/test_database.h"

namespace tarnvel {
namespace {

using testing::DatabaseKind;
using testing::DatabaseOptions;
using testing::DatabaseTest;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Tables and their columns in order, as the schema script of the test databases creates them.
std::vector<SchemaNames::TableNames> TablesOfScript(const std::string& script) {
  std::vector<SchemaNames::TableNames> tables;
  const std::regex createTable(R"(create table (\w+) \(([^;]*)\);)");
  for (std::sregex_iterator it(script.begin(), script.end(), createTable), end; it != end; ++it) {
    SchemaNames::TableNames table;
    table.name = (*it)[1];
    const std::string body = (*it)[2];
    const std::regex columnLine(R"(\n\s*(\w+) )");
    for (std::sregex_iterator c(body.begin(), body.end(), columnLine); c != end; ++c) {
      table.columns.push_back((*c)[1]);
    }
    tables.push_back(table);
  }
  return tables;
}

TEST(SchemaNamesDefaults, MatchTheSchemaScriptsInOrder) {
  for (const char* file : {"qor_sqlite.sql", "qor_postgres.sql"}) {
    SCOPED_TRACE(file);
    const auto script =
        testing::ReadFile(std::filesystem::path(TARNVEL_SOURCE_DIR) / "schema" / file);
    const auto expected = TablesOfScript(script);
    const SchemaNames names;
    ASSERT_EQ(expected.size(), kTableCount);
    for (std::size_t i = 0; i < kTableCount; ++i) {
      EXPECT_EQ(names.All()[i].name, expected[i].name);
      EXPECT_EQ(names.All()[i].columns, expected[i].columns) << expected[i].name;
    }
  }
}

TEST(SchemaNamesDefaults, LookUpByTableAndDefaultColumnName) {
  const SchemaNames names;
  EXPECT_EQ(names.Table(TableId::kFileList), "FILELIST");
  EXPECT_EQ(names.Table(TableId::kSiteChan), "SITECHAN");
  EXPECT_EQ(names.Table(TableId::kGeographicRegion), "GEOGRAPHIC_REGION");
  EXPECT_EQ(names.Table(TableId::kArrival), "ARRIVAL");
  EXPECT_EQ(names.Column(TableId::kFileList, "TEND"), "TEND");
  EXPECT_EQ(names.Column(TableId::kFileList, "CH"), "CH");
  EXPECT_EQ(names.Column(TableId::kSiteChan, "CHAN"), "CHAN");
  EXPECT_EQ(names.Column(TableId::kArrival, "MWA"), "MWA");
  EXPECT_EQ(names.All()[0].columns.size(), 17u);
  EXPECT_EQ(names.All()[13].columns.size(), 35u);
  // FILELIST calls its channel column CH; asking for SITECHAN's name there is a mistake.
  EXPECT_THROW(names.Column(TableId::kFileList, "CHAN"), std::out_of_range);
}

TEST(SchemaNamesDefaults, DiscoveryWithoutConnectionKeepsDefaults) {
  SchemaNames names;
  names.DiscoverSchema(SQL_NULL_HANDLE);
  EXPECT_EQ(names.Table(TableId::kFileList), "FILELIST");
  EXPECT_EQ(names.Column(TableId::kSiteChan, "LCODE"), "LCODE");
}

void ExpectAllNames(const SchemaNames& names, bool lower) {
  const SchemaNames defaults;
  for (std::size_t i = 0; i < kTableCount; ++i) {
    const auto& want = defaults.All()[i];
    const auto& got = names.All()[i];
    EXPECT_EQ(got.name, lower ? Lower(want.name) : want.name);
    ASSERT_EQ(got.columns.size(), want.columns.size());
    for (std::size_t c = 0; c < want.columns.size(); ++c) {
      EXPECT_EQ(got.columns[c], lower ? Lower(want.columns[c]) : want.columns[c]) << want.name;
    }
  }
}

class SchemaDiscovery : public DatabaseTest {};

TEST_P(SchemaDiscovery, UpperCaseCatalogueKeepsCapitalsAndPostgresReportsLowerCase) {
  WaveformStore store;
  ConfigureStore(store);
  ASSERT_TRUE(store.Connect());
  // Unquoted names fold to lower case in PostgreSQL's catalogue; SQLite keeps them as written.
  ExpectAllNames(store.Names(), GetParam() == DatabaseKind::kPostgres);
  EXPECT_TRUE(store.ProbeFileList());
  EXPECT_TRUE(store.UseEndTime());
}

TEST_P(SchemaDiscovery, BackupTableWithALongerNameIsIgnored) {
  if (GetParam() == DatabaseKind::kPostgres) {
    db().ExecuteScript(R"(drop table FILELIST;
      create table "FILELIST" ("TBEGIN" double precision, "TEND" double precision);
      create table filelist_backup (tbegin double precision);
      create table filelist2 (tbegin double precision))");
  } else {
    db().ExecuteScript(R"(drop table FILELIST;
      create table FILELIST (TBEGIN double precision, TEND double precision);
      create table filelist_backup (tbegin double precision);
      create table filelist2 (tbegin double precision))");
  }
  WaveformStore store;
  ConfigureStore(store);
  ASSERT_TRUE(store.Connect());
  EXPECT_EQ(store.Names().Table(TableId::kFileList), "FILELIST");
  EXPECT_EQ(store.Names().Column(TableId::kFileList, "TBEGIN"), "TBEGIN");
  if (GetParam() == DatabaseKind::kSqlite) {
    // Only the columns present are reported; the others keep their defaults.
    EXPECT_TRUE(store.ProbeFileList());
  }
  EXPECT_TRUE(store.UseEndTime());
}

TARNVEL_DATABASE_TEST_SUITE(SchemaDiscovery);

class LowerCaseSchema
    : public testing::DatabaseTestWith<testing::DatabaseOptions{.lowerCaseNames = true}> {};

TEST_P(LowerCaseSchema, EveryNameTakesTheCatalogueCaseAndStatementsWork) {
  WaveformStore store;
  ConfigureStore(store);
  ASSERT_TRUE(store.Connect());
  ExpectAllNames(store.Names(), true);
  EXPECT_TRUE(store.ProbeFileList());
  EXPECT_TRUE(store.UseEndTime());
  db().Execute("insert into sitechan(sta,chan,sps,lcode) values('ABC','BHZ',20,'00')");
  double rate = 0.0;
  EXPECT_EQ(store.CheckSiteChan({"ABC", "BHZ", "00"}, 20.0, rate), 0);
  EXPECT_EQ(rate, 20.0);
}

TARNVEL_DATABASE_TEST_SUITE(LowerCaseSchema);

class PartialSchema
    : public testing::DatabaseTestWith<testing::DatabaseOptions{.createSchema = false}> {};

TEST_P(PartialSchema, EmptyCatalogueLeavesEveryNameInCapitals) {
  WaveformStore store;
  ConfigureStore(store);
  ASSERT_TRUE(store.Connect());  // discovery finding nothing does not fail Connect
  ExpectAllNames(store.Names(), false);
  EXPECT_FALSE(store.UseEndTime());
  EXPECT_FALSE(store.ProbeFileList());
}

TEST_P(PartialSchema, NamesTheCatalogueDoesNotReportKeepTheirDefaults) {
  // A lower-case FILELIST without TEND and an upper-case SITECHAN (quoted in PostgreSQL, so
  // the catalogue keeps the capitals).
  const bool pg = GetParam() == DatabaseKind::kPostgres;
  db().ExecuteScript(std::string(R"(
      create table filelist (sta varchar(16), tbegin double precision, lcode varchar(8));
      )") + (pg ? R"(create table "SITECHAN" ("STA" varchar(16), "CHAN" varchar(8),
                                              "SPS" double precision, "LCODE" varchar(8)))"
                : R"(create table SITECHAN (STA varchar(16), CHAN varchar(8),
                                              SPS double precision, LCODE varchar(8)))"));
  WaveformStore store;
  ConfigureStore(store);
  ASSERT_TRUE(store.Connect());
  const auto& names = store.Names();
  EXPECT_EQ(names.Table(TableId::kFileList), "filelist");
  EXPECT_EQ(names.Column(TableId::kFileList, "TBEGIN"), "tbegin");
  EXPECT_EQ(names.Column(TableId::kFileList, "LCODE"), "lcode");
  EXPECT_EQ(names.Column(TableId::kFileList, "TEND"), "TEND");
  EXPECT_EQ(names.Column(TableId::kFileList, "CPATH"), "CPATH");
  EXPECT_EQ(names.Table(TableId::kSiteChan), "SITECHAN");
  EXPECT_EQ(names.Column(TableId::kSiteChan, "SPS"), "SPS");
  EXPECT_EQ(names.Table(TableId::kSite), "SITE");
  EXPECT_FALSE(store.UseEndTime());
  EXPECT_TRUE(store.ProbeFileList());
}

TEST_P(PartialSchema, MissingSiteChanTableIsAStatementFailure) {
  db().Execute("create table FILELIST (TBEGIN double precision)");
  WaveformStore store;
  ConfigureStore(store);
  ASSERT_TRUE(store.Connect());
  ASSERT_TRUE(store.ProbeFileList());
  double rate = 7.0;
  EXPECT_EQ(store.CheckSiteChan({"ABC", "BHZ", "00"}, 20.0, rate), store_result::kStatementFailed);
}

TARNVEL_DATABASE_TEST_SUITE(PartialSchema);

}  // namespace
}  // namespace tarnvel
