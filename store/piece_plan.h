// What happens to each piece of a segment, decided from the piece, the channel's FILELIST rows
// and the sizes of their files alone: pure functions without input or output, tested on their
// own. The store gathers the rows and sizes, asks here, and carries the answer out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store/store_files.h"

namespace tarnvel {

inline constexpr double kFileLengthLimit = 3600.0;  // longest piece written into one new file
inline constexpr int kDataOffset = 512;             // FOFF of every file the store writes

// A rate as FILELIST's SPS and the header's SpS carry it: rounded to hundredths ("%0.2f").
// 0 for a rate below 0.005, which the row cannot carry at all.
double RowRate(double rate);
bool SameRowRate(double a, double b);

// A value as the database keeps it after formatting: times "%0.4f", durations "%0.2f".
double AsStoredTime(double value);
double AsStoredDuration(double value);

// The TQTY of `samples` samples at `rate`: samples / RowRate(rate), so that TQTY × SPS is the
// sample count (the true duration whenever the rate has at most two decimals).
double RowDuration(std::int64_t samples, double rate);

// A run of a segment's samples: [first, first + count), the first at `start`.
struct Piece {
  std::int64_t first = 0;
  std::int64_t count = 0;
  double start = 0.0;

  // The piece without its first n samples.
  Piece After(std::int64_t n, double rate) const;
  // The piece's first n samples.
  Piece Take(std::int64_t n) const { return Piece{first, n, start}; }
};

// Most samples one row places within half an interval of their own times. SPS keeps hundredths,
// so a rate it does not carry exactly (1/7 as 0.14) drifts |rate / SPS - 1| of an interval with
// every sample; a rate it carries has no such limit (INT64_MAX).
std::int64_t SamplesARowPlaces(double rate);

// Samples that fit one file: floor(3600 × rate), at most SamplesARowPlaces, at least one.
std::int64_t SamplesPerFile(double rate);

// A segment of `count` samples cut into pieces on whole sample indices: each holds
// SamplesPerFile(rate) samples, the last the rest, and starts at the time of its first sample.
std::vector<Piece> CutIntoPieces(double start, double rate, std::int64_t count);

// A FILELIST row of the channel and what lies at its CPATH.
struct ChannelFile {
  std::string cpath;
  std::int32_t offset = 0;    // FOFF
  double begin = 0.0;         // TBEGIN
  double quantity = 0.0;      // TQTY
  std::optional<double> end;  // TEND, when the column is in use
  double rate = 0.0;          // SPS
  std::string creator;        // CREATER (empty when not asked)
  StoreFiles::Entry disk;
};

// The samples a row registers: its nominal count and the range its rounded columns allow.
struct RegisteredSamples {
  std::int64_t nominal = 0;
  std::int64_t least = 0;
  std::int64_t most = 0;
};
RegisteredSamples SamplesOfRow(const ChannelFile& file);

// How a file stands against its row.
enum class FileState {
  kMatches,   // holds what its row registers
  kLonger,    // holds more (an append whose row update never came): cut back to keepBytes
  kShorter,   // holds less: damaged, never written to
  kMissing,   // nothing at its CPATH
  kNotAFile,  // a link, a folder or something else: never opened
};
struct FileCheck {
  FileState state = FileState::kMissing;
  std::int64_t samples = 0;    // samples the file holds as its row registers them
  std::int64_t keepBytes = 0;  // kLonger: the size to cut the file back to
};
FileCheck CheckFileAgainstRow(const ChannelFile& file);

// The same for a file an append stopped in before its row was extended, `sizeBefore` its size
// ahead of the append: a longer file is cut back to that size whenever its row registers that
// many samples (a fast channel's TQTY alone cannot tell its count to the sample).
FileCheck CheckAppendedFile(const ChannelFile& file, std::int64_t sizeBefore);

// Where a file's samples end: the samples it holds as its row registers them (TQTY's hundredths
// leave a fast channel's count to the file's size), or the row's count when the file cannot
// say (missing, damaged, not looked at).
std::int64_t HeldSamples(const ChannelFile& file);

// When a stored sample and a new one are the same sample: their times differ by at most a tenth
// of the sample interval. Above 1000 sps a tenth of an interval is finer than the 0.0001 s that
// TBEGIN and SEED record times keep, and the window is 0.0001 s instead.
inline constexpr double kSameTimeTolerance = 0.1;  // of a sample interval
inline constexpr double kTimeResolution = 0.0001;  // seconds
// The largest difference, in seconds, between the times of one sample at `rate`.
double SameTimeWindow(double rate);

// The slot of a file starting at `begin` (sample k at begin + k / rate) that lies at `time`
// within SameTimeWindow, if any; it may lie outside the file.
std::optional<std::int64_t> SlotAt(double time, double rate, double begin);

// The channel's latest file and a piece of new samples: append, new file, or refuse. A piece
// continues the file only when its first sample lies at the time of the file's next slot (within
// SameTimeWindow): appended samples stand at their own times like every other stored sample.
enum class PieceAction { kAppend, kNewFile, kRefuse };
// Why a piece that starts where the latest file ends does not continue it.
enum class PieceNotice { kNone, kFileShorterThanRow, kFileMissing };
struct PieceDecision {
  PieceAction action = PieceAction::kNewFile;
  std::int64_t fileSamples = 0;  // kAppend: samples the file keeps ahead of the piece
  std::int64_t keepBytes = -1;   // kAppend: cut the file back to this size first (-1: no cut)
  std::int64_t count = 0;        // kAppend: the piece's samples that go to the file
  PieceNotice notice = PieceNotice::kNone;
};
PieceDecision DecidePiece(const Piece& piece, double rate,
                          const std::optional<ChannelFile>& latest);

// Which stored file decides about a piece's first samples. Among the channel's files around the
// piece (same rate, FOFF 512, each ending where HeldSamples says), a file holds one of the piece's
// samples when it has a slot at that sample's own time (SlotAt). The file holding the piece's
// first sample decides about the samples it holds from there on, up to where another file holding
// the piece's samples begins; a file whose slots lie between the piece's times never does, so
// samples delivered again at other times are new samples. With several files holding the first
// sample (a store that registered one recording twice), one the store can read or restore there
// goes first, then the earliest, then by CPATH.
struct PieceMatch {
  std::optional<std::size_t> file;  // index into the files; none: the samples are new
  std::int64_t offset = 0;          // the slot of the piece's first sample in that file
  // The piece's samples the step covers (at least one): those the file decides about, or the
  // new samples before the first one another file holds.
  std::int64_t count = 0;
};
PieceMatch MatchPiece(const Piece& piece, double rate, const std::vector<ChannelFile>& files);

}  // namespace tarnvel
