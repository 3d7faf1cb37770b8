// The converter's console texts that the dialog program reads back: progress lines, error lines
// and the information mode's lines. Both programs take them from here, so a text the dialog
// program parses cannot change on one side only.
#pragma once

#include <array>
#include <string_view>

namespace tarnvel::wording {

// Progress: "\r", the prefix, then the percentage as "%02d%%", without a line feed. The number
// starts right after the prefix.
inline constexpr char kConvertingFile[] = "Converting File - ";
inline constexpr char kWritingToDatabase[] = "Writing to database - ";
inline constexpr char kWritingToCss[] = "Writing to CSS-file - ";

// Error lines begin with their phrase (after a "\r" where they follow progress).
inline constexpr char kConnectionError[] = "Connection error";
inline constexpr char kFileOpenError[] = "File open error";
inline constexpr char kFileReadError[] = "File read error";
inline constexpr char kDeleteError[] = "Delete error";
inline constexpr char kDbWriteError[] = "DB write error";
inline constexpr char kCssFileWriteError[] = "CSS file write error";
inline constexpr char kArgumentTooLong[] = "Argument too long";
// The store checker's (tarnvel-check) failures: its data directory cannot be read (with the
// directory and the reason), FILELIST cannot be read.
inline constexpr char kDataDirectoryError[] = "Data directory error";
inline constexpr char kFileListReadError[] = "FILELIST read error";
// Printed by the store when a waveform file does not open: "\n\n<phrase>: \n<path>\n".
inline constexpr char kOpenErr[] = "Open Err";
inline constexpr char kOpenErrLine[] = "\n\n%s: \n%s\n";  // the phrase and the path

// Printed by the store when samples at the time of stored ones, with other values, took their
// place in a file (the count and the file's path on disk), once the change is committed.
inline constexpr char kReplacedSamples[] = "\rReplaced %lld stored samples with new values (%s)\n";

// The last line of a conversion into the database whose segment list was not empty (printf
// format): samples written by the run and committed, the files they went to (new, continued,
// rewritten through a staged copy; each file counted once), and samples found stored unchanged.
inline constexpr char kDatabaseSummary[] =
    "Stored %lld samples in %d files (%d new, %d continued, %d rewritten), %lld samples were "
    "stored already\n";

// The last line of a CSS conversion whose segment list was not empty (a printf format): wfdisc
// lines written, the data files they name, the samples in those, and the wfdisc file's path as
// written.
inline constexpr char kCssSummary[] =
    "Wrote %d wfdisc lines and %d data files (%lld samples) to %s\n";

// Every phrase that marks a line as an error.
inline constexpr std::array<std::string_view, 8> kErrorPhrases = {
    kConnectionError, kFileOpenError, kFileReadError,     kDeleteError,
    kDbWriteError,    kOpenErr,       kCssFileWriteError, kArgumentTooLong,
};

// Information mode: one line "STA::CH::LC begin - end rate" per channel, all of them before the
// SITECHAN reports "<prefix>STA::CH::LC" and "<prefix>STA::CH::LC rate".
inline constexpr char kCodeSeparator[] = "::";
inline constexpr char kSpanSeparator[] = " - ";
// The channel line (printf format): station, channel, location, begin, end, whole rate.
inline constexpr char kChannelLine[] = "%s::%s::%s %.2f - %.2f %d\n";
static_assert(std::string_view(kChannelLine).substr(2, 2) == kCodeSeparator &&
                  std::string_view(kChannelLine).substr(6, 2) == kCodeSeparator &&
                  std::string_view(kChannelLine).substr(15, 3) == kSpanSeparator,
              "the channel line is read back by its separators");
inline constexpr char kNotFoundInSitechan[] = "Not found in SITECHAN: ";
inline constexpr char kSpsDiffersFromSitechan[] = "SPS differs from SITECHAN: ";

// After the reading of a conversion (printf formats, each printed when its count is not 0):
// records read but not converted.
inline constexpr char kIgnoredIncompleteRecord[] =
    "Ignored an incomplete last record (%ld of %ld bytes)\n";
inline constexpr char kIgnoredUnsafeNames[] =
    "Ignored %llu records whose station, channel or location code cannot be part of a file "
    "name\n";
inline constexpr char kIgnoredDamagedRecords[] =
    "Ignored %llu damaged miniSEED 3 records (CRC or length wrong)\n";
inline constexpr char kIgnoredNoRate[] =
    "Ignored %llu miniSEED 3 records whose sample rate places no sample in time\n";
// The count, the encoding's code and its name.
inline constexpr char kIgnoredEncoding[] =
    "Ignored %llu records of encoding %d (%s), which the converter does not decode\n";

}  // namespace tarnvel::wording
