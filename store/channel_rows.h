// What the store knows of one channel's FILELIST rows (one station, channel and location code)
// while it holds the channel's lock: nobody else changes them meanwhile, so the answers of
// earlier queries, kept up to date with the store's own inserts, updates and deletes, stand in
// for asking the database again. Every answer given here is the one the database would give;
// where that cannot be told, none is given and the store asks. Pure bookkeeping, no input or
// output; forgotten whenever the database rolls back or the lock goes.
//
// Times and durations are held as the database keeps them (AsStoredTime, AsStoredDuration,
// RowRate of the values formatted into the statements).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "store/piece_plan.h"

namespace tarnvel {

class ChannelRows {
 public:
  // ---- the latest file: the first row with FOFF 512, newest LDDATE first, then latest start.
  // Known: std::nullopt inside when the channel has no such row. Unknown: std::nullopt.
  std::optional<std::optional<ChannelFile>> Latest() const;
  // What the database answered; its LDDATE is known when the store wrote the row itself.
  void LearnLatest(const std::optional<ChannelFile>& first);

  // ---- the files around a piece: rows with FOFF 512 and TBEGIN in (after, before) and
  // TBEGIN + 2 TQTY > endAfter, ordered by TBEGIN.
  struct Window {
    double after = 0.0;
    double before = 0.0;
    double endAfter = 0.0;
  };
  enum class Coverage {
    kKnown,    // Around answers
    kExtend,   // rows starting from KnownUntil() on are to be asked for (ExtensionWindow)
    kUnknown,  // the whole window is to be asked for
  };
  Coverage Covers(const Window& window) const;
  std::vector<ChannelFile> Around(const Window& window) const;
  // Every row up to TBEGIN KnownUntil() is known; asking from just below it on, down to the
  // same endAfter, extends what is known.
  double KnownUntil() const { return before_; }
  Window ExtensionWindow(const Window& window) const;
  void LearnAround(const Window& window, const std::vector<ChannelFile>& rows);
  void LearnExtension(const Window& extension, const std::vector<ChannelFile>& rows);
  // No row of the channel starts at or after KnownUntil() but those the store wrote itself.
  void NothingAfterKnown(const Window& window);

  // ---- the channel's size in bytes (the quota's sum over the rows of `creator`): at most this
  // much, or std::nullopt when not known.
  std::optional<double> SizeAtMost(const std::string& creator) const;
  void LearnSize(const std::string& creator, double total);
  void ForgetSize() { size_.reset(); }

  // ---- the store's own changes; `loadDate` is the LDDATE text written with the row.
  void Inserted(const ChannelFile& row, const std::string& loadDate);
  // `before` and `after` are the row's values before and after the update.
  void Updated(const ChannelFile& before, const ChannelFile& after, const std::string& loadDate);
  // Every row of the channel registering `cpath`.
  void Deleted(const std::string& cpath);

 private:
  using Key = std::pair<std::string, double>;  // CPATH, TBEGIN
  static Key KeyOf(const ChannelFile& row) { return {row.cpath, row.begin}; }
  void Remember(const ChannelFile& row);
  // After `row` was written with `loadDate`: is it the latest now?
  void Reconsider(const ChannelFile& row, const std::string& loadDate, bool inserted);
  void Grow(const ChannelFile& row, double bytes);

  // Load dates of the rows the store wrote while holding the lock.
  std::map<Key, std::string> loadDates_;

  enum class LatestState { kUnknown, kNone, kRow };
  LatestState latestState_ = LatestState::kUnknown;
  ChannelFile latest_;
  std::optional<std::string> latestDate_;

  bool aroundKnown_ = false;
  double after_ = 0.0;
  double before_ = 0.0;
  double endAfter_ = 0.0;
  std::multimap<double, ChannelFile> rows_;  // by TBEGIN
  double longest_ = 0.0;                     // the largest TQTY among rows_

  struct Size {
    std::string creator;
    double queried = 0.0;
    double growth = 0.0;
  };
  std::optional<Size> size_;
};

}  // namespace tarnvel
