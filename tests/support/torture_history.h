// Histories for the store's torture test: what happens to a store, step by step, written so
// that a person can read it, paste it into a test and run it again.
//
// A history names a few channel epochs (a channel at one rate over a stretch of time) and then
// its steps: conversions of SEED files made of pieces of those epochs (alone, several at once,
// or killed), manual damage to stored files, and database triggers that refuse changes.
//
//   epoch TA1.BHZ.-- 20 +37 span=2000 phases=0,6
//   epoch ZZS.SET.-- 1 +172800 span=100000 phases=0
//   convert e0:0-400 e0:400-800@6v1 len=4096 enc=int32 le order=shuffled dup=2 seed=7
//   convert e0:0-400 kill-at=17
//   settle
//   parallel e0:0-400 kill-after=30 | e0:200-600 len=mixed
//   parallel clean-locks e0:0-400 | e0:0-400 enc=int32
//   cut e0 3 samples=1234
//   note e0 R e2 1
//   refuse insert sta=TA1 silent
//   allow
//
// Sample times: slot k of an epoch at phase p lies at start + (k + p / 20) / rate, so phases
// are twentieths of a sample interval. Phases of one epoch differ by at least a quarter
// interval: a sample is either at a stored sample's time or clearly not.
#pragma once

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace tarnvel::testing::torture {

// Twentieths of a sample interval: the unit of sample times within an epoch.
inline constexpr int kUnitsPerInterval = 20;
// Slot 0 of an epoch with offset 0: 2009-03-21 13:05:00 UTC.
inline constexpr double kBaseTime = 1237640700.0;
// The channel a settling conversion stores into, apart from every other.
inline constexpr const char* kSettleStation = "ZZS";
inline constexpr std::int64_t kSettleSlots = 10;

struct Epoch {
  std::string station;
  std::string channel;
  std::string location;  // "" for a blank one
  std::string rateText;  // as written: "20", "0.1", "100/3"
  double rate = 0.0;
  double offset = 0.0;      // seconds from kBaseTime to slot 0
  std::int64_t span = 0;    // slots 0 .. span - 1
  std::vector<int> phases;  // twentieths of an interval, 0 first

  double Start() const { return kBaseTime + offset; }
  // "TA1.BHZ.--" (a blank location as "--").
  std::string ChannelName() const;
  bool Settler() const { return station == kSettleStation; }
  bool SinglePhase() const { return phases.size() == 1; }
};

// Samples [first, end) of an epoch at a phase, with the values of a version: 0 the channel's
// own signal, another number a correction of it; a lag of m gives slot k the value of slot
// k - m (the same samples delivered m intervals late). Written "e0:100-200@6v1s-2".
struct PieceRef {
  int epoch = 0;
  std::int64_t first = 0;
  std::int64_t end = 0;
  int phase = 0;
  int version = 0;
  int lag = 0;

  std::int32_t Value(std::int64_t slot) const;
  std::int64_t Begin20() const { return first * kUnitsPerInterval + phase; }
  std::int64_t End20() const { return end * kUnitsPerInterval + phase; }
  bool operator==(const PieceRef&) const = default;
};

enum class Order { kPieces, kInterleaved, kShuffled, kReversed };

// One SEED file: its pieces and how their records are laid out.
struct Delivery {
  std::vector<PieceRef> pieces;
  int recordLength = 512;  // 512 or 4096; 0: each piece picks one
  int encoding = 11;       // 3 INT32, 10 Steim1, 11 Steim2; 0: each piece picks one
  bool littleEndian = false;
  Order order = Order::kPieces;
  int duplicates = 0;      // records repeated somewhere in the file
  std::uint32_t seed = 0;  // the picks, the shuffle and the repeats
};

struct Run {
  Delivery file;
  int killAtCall = 0;    // SIGKILL right before this counted change (preloaded hook), 0: none
  int killAfterMs = -1;  // SIGKILL after this many milliseconds, -1: none
  bool Killed() const { return killAtCall > 0 || killAfterMs >= 0; }
};

enum class StepKind { kConvert, kParallel, kSettle, kCut, kRefuse, kAllow, kNote };
enum class CutMode { kZero, kHeader, kSamples, kRemove };
enum class Change { kInsert, kUpdate, kDelete };

// A trigger on FILELIST that refuses a change where a column has a value ("sta", "ch",
// "lcode" equal, "tbegin" at or after), or every change of its kind; `silent` drops the change
// and reports success.
struct Refusal {
  Change change = Change::kInsert;
  std::string column;  // empty: every row
  std::string value;
  bool silent = false;
};

struct Step {
  StepKind kind = StepKind::kConvert;
  std::vector<Run> runs;  // kConvert: one; kParallel: several at once
  // kParallel: a cleaner job removes the channel lock files below the data directory over and
  // over while the runs go. Written "parallel clean-locks ...".
  bool cleanLocks = false;
  // kCut: the file (of the rows of an epoch's channel and rate, by TBEGIN and CPATH, the one at
  // `row` modulo their number), how, and the bytes kept (kHeader) or sample bytes kept
  // (kSamples, modulo the sample bytes there are). Written "cut e3 2 header=36".
  int epoch = 0;
  int row = 0;
  // kNote: a note of unfinished work ('R', 'N', 'D' or 'A', as the store writes them) naming
  // the file of `row` of epoch `target`, written by hand into the lock file of the channel of
  // `epoch`. Written "note e0 R e2 1".
  char note = 'R';
  int target = 0;
  CutMode cut = CutMode::kZero;
  std::int64_t amount = 0;
  Refusal refusal;  // kRefuse
};

struct History {
  std::vector<Epoch> epochs;
  std::vector<Step> steps;
};

std::string ToText(const History& history);
std::string ToText(const Step& step);
// Throws std::invalid_argument naming the line that does not parse.
History ParseHistory(const std::string& text);

// The value of slot `slot` of epoch `epoch` in version `version`: smooth, so that Steim packs
// many to a record, and every correction differs from the signal at every slot.
std::int32_t SampleValue(int epoch, std::int64_t slot, int version);

// The settling conversion `index` (0 for the first of a history): new slots of the settling
// epoch.
PieceRef SettlePiece(const History& history, int index);

// The records of a delivered file, in file order, with what each holds.
struct BuiltRecord {
  int piece = 0;           // index in Delivery::pieces
  std::int64_t first = 0;  // its first slot
  std::int64_t count = 0;  // its samples
  double start = 0.0;      // its start time as written
  std::string bytes;
};
struct BuiltFile {
  std::vector<BuiltRecord> records;
  std::string Bytes() const;
};
BuiltFile BuildFile(const History& history, const Delivery& file);

// Where a history breaks a rule that keeps the store's promise well defined, empty when it
// keeps them all. Sample times come from SEED records, and both the reader and the store take
// a record or piece that starts within 1.5 intervals of where a run of the same channel ends as
// its seamless continuation, by design. So, per epoch, a run of samples never starts within
// two intervals of the end of another run ever delivered, unless exactly there at the same
// phase; pieces of one epoch in one file do not overlap; and files whose records come out of
// order or repeated hold single-phase epochs only (their record boundaries become segment
// boundaries anywhere).
std::string RuleBroken(const History& history);

struct GeneratorOptions {
  int steps = 30;
  // Kinds left out: "kill", "parallel", "clean-locks" (lock files removed while converters
  // run), "cut", "cut-header" (files cut to nothing or inside their header), "notes" (lock
  // notes written by hand naming another channel's file), "refuse",
  // "refuse-silent" (changes dropped while reported done), "shift", "correct", "shuffle",
  // "rate-change".
  std::set<std::string> without;
};
History Generate(std::uint64_t seed, const GeneratorOptions& options);

}  // namespace tarnvel::testing::torture
