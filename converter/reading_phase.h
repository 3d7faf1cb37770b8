// Reading a file of SEED data records and miniSEED 3 records, record by record, into the run's
// segments, and listing what it holds.
#pragma once

#include <cstdint>
#include <optional>

#include "converter/seed_file.h"
#include "seed/run_context.h"
#include "store/waveform_store.h"

namespace tarnvel {

// Record lengths the reading loop accepts: at least 1 and below 65000.
bool UsableRecordLength(int recordLength);

// The configured record length ("BLOCK_SIZE"), or without one the length detected from the
// file. Returns false when detection hit a read failure (errno set).
bool DetermineRecordLength(std::optional<int> configured, SeedFile& file, int& recordLength);

struct ReadingSummary {
  std::int64_t records = 0;
  long trailingFragment = 0;  // bytes of an incomplete last record, dropped
  long fragmentOf = 0;        // the length that record would have had
  bool reachedEnd = false;    // reading stopped at the end of the input, not at a failure
};

// Conversion: every whole record goes to ProcessDataRecord; prints the reading progress, as a
// share of fileSize, and 100% once the input has been read to its end. Input without a size
// (fileSize -1: a pipe, a FIFO) shows only that final 100%.
ReadingSummary ReadForConversion(SeedFile& file, int recordLength, std::int64_t fileSize,
                                 RunContext& context);

// Information mode: every whole record goes to RegisterRecordSpan until the position reaches
// viewLimit.
void ReadForListing(SeedFile& file, int recordLength, std::int64_t viewLimit, RunContext& context);

// After a conversion's reading: one line for each kind of record that was read but not
// converted (an incomplete last record, codes unfit for file names, damaged miniSEED 3 records,
// rates that place no sample, each encoding the decoders do not know).
void ReportIgnoredRecords(const ReadingSummary& summary, const RunContext& context);

// Prints one line per channel, then the SITECHAN warnings.
void ListChannels(RunContext& context, WaveformStore& store);

}  // namespace tarnvel
