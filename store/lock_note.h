// One note in a channel lock's file: a change to the channel's files whose FILELIST changes may
// not be committed yet. A note is written before its change is made and stays until the
// change's transaction is committed (and what follows the commit is done) or undone; a run
// that was killed leaves its notes for the next holder of the lock, who settles them by what
// the committed rows say (PROTOCOL.md beside this file).
//
// One line each, fields separated by tabs:
//   N <staged> <cpath>                 a new file, written under <staged>, put in place at <cpath>
//   R <staged> <cpath>                 a replacement of <cpath> written under <staged>
//   P <staged> <cpath>                 that replacement's row is committed: it goes in place
//   A <location> <cpath> <size> <H|K>  <cpath> extended beyond <size> bytes; H: its header is
//                                      the store's own and follows the row, K: it is kept
//   D <cpath>                          <cpath>'s row is being removed; the file goes after it
// Notes of earlier versions are read too: "R <staged>", and A without the header field or the
// size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnvel {

// The name new content of `cpath` is written under until it is put in place: hidden, beside it
// ("ABC/13/x" -> "ABC/13/.x.new").
std::string StagedPathOf(std::string_view cpath);

struct Note {
  enum class Kind : char {
    kNewFile = 'N',
    kReplacement = 'R',
    kPlaceReplacement = 'P',
    kAppend = 'A',
    kRemoval = 'D',
  };

  Kind kind = Kind::kNewFile;
  std::string cpath;
  std::string staged;             // N, R, P
  std::string location;           // A: the file's location code as the segment carried it
  std::int64_t sizeBefore = -1;   // A: the file's size before the append; -1 when not noted
  std::optional<bool> ownHeader;  // A: whether the header follows the row; unknown for old notes

  static Note NewFile(std::string staged, std::string cpath);
  static Note Replacement(std::string staged, std::string cpath);
  static Note PlaceReplacement(std::string staged, std::string cpath);
  static Note Append(std::string location, std::string cpath, std::int64_t sizeBefore,
                     bool ownHeader);
  static Note Removal(std::string cpath);

  // The line, without its line feed.
  std::string Text() const;
  // A line as Text writes it (or as earlier versions did); std::nullopt for anything else.
  static std::optional<Note> Parse(std::string_view line);

  // Whether every path the note names is a waveform file of the channel, in the store's own
  // layout ("<STA>/<hh>/<ddmmyyyy>-<hhmmss>-<CH>[-<n>].<STA>"), or that file's staged name. A
  // note that names anything else is never acted on.
  bool BelongsTo(std::string_view station, std::string_view channel) const;

  bool operator==(const Note&) const = default;
};

}  // namespace tarnvel
