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

// The channel's latest file and a piece of new samples: append, new file, or refuse.
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

// The channel's files around a piece (same rate, FOFF 512): the file holding the piece's first
// sample, if any, and the start of the first file that begins after it inside the piece. Each
// file ends where HeldSamples says.
struct Neighbours {
  std::optional<ChannelFile> covering;
  std::optional<double> nextBegin;
};
Neighbours FindNeighbours(const Piece& piece, double rate, const std::vector<ChannelFile>& files);

// Offsets in a file of `samples` samples starting at `begin` at which a piece starting at
// `start` may have been stored: every offset within the continuation tolerance of its time,
// nearest first (the store places appended samples at the file's end, up to 1.5 intervals
// from their own time).
std::vector<std::int64_t> CandidateOffsets(double start, double rate, double begin,
                                           std::int64_t samples);
// The one offset the time alone pins down (to the precision TBEGIN is kept with), if any.
std::optional<std::int64_t> ExactOffset(double start, double rate, double begin,
                                        std::int64_t samples);

// The piece's samples that lie before `nextBegin` (at least one).
std::int64_t SamplesBefore(const Piece& piece, double rate, double nextBegin);

}  // namespace tarnvel
