#include "store/channel_rows.h"

#include <algorithm>
#include <utility>

namespace tarnvel {
namespace {

// Added to every size growth: the database sums the same terms in its own order.
constexpr double kSizeSlack = 1.0;

}  // namespace

std::optional<std::optional<ChannelFile>> ChannelRows::Latest() const {
  switch (latestState_) {
    case LatestState::kUnknown:
      return std::nullopt;
    case LatestState::kNone:
      return std::optional<std::optional<ChannelFile>>(std::in_place);
    case LatestState::kRow:
      break;
  }
  return std::optional<std::optional<ChannelFile>>(std::in_place, latest_);
}

void ChannelRows::LearnLatest(const std::optional<ChannelFile>& first) {
  if (!first) {
    latestState_ = LatestState::kNone;
    return;
  }
  latestState_ = LatestState::kRow;
  latest_ = *first;
  const auto date = loadDates_.find(KeyOf(*first));
  latestDate_ = date != loadDates_.end() ? std::optional<std::string>(date->second) : std::nullopt;
}

void ChannelRows::Reconsider(const ChannelFile& row, const std::string& loadDate, bool inserted) {
  if (latestState_ == LatestState::kUnknown) return;
  const bool isLatest = latestState_ == LatestState::kRow && KeyOf(latest_) == KeyOf(row);
  if (row.offset != kDataOffset) {
    if (isLatest) latestState_ = LatestState::kUnknown;
    return;
  }
  if (latestState_ == LatestState::kNone) {
    // A new row is the only one; an updated row was there all along, which contradicts.
    if (!inserted) {
      latestState_ = LatestState::kUnknown;
      return;
    }
  } else if (!latestDate_) {
    // The latest row's load date is not known: whether the new one comes first is not either.
    latestState_ = LatestState::kUnknown;
    return;
  } else if (isLatest) {
    // The latest row itself: it stays first unless its load date went back.
    if (loadDate < *latestDate_) {
      latestState_ = LatestState::kUnknown;
      return;
    }
  } else {
    // Newest LDDATE first, then latest TBEGIN; a tie leaves the order to the database.
    const auto mine = std::make_pair(loadDate, row.begin);
    const auto first = std::make_pair(*latestDate_, latest_.begin);
    if (mine == first) latestState_ = LatestState::kUnknown;
    if (!(mine > first)) return;
  }
  latestState_ = LatestState::kRow;
  latest_ = row;
  latestDate_ = loadDate;
}

ChannelRows::Coverage ChannelRows::Covers(const Window& window) const {
  if (!aroundKnown_ || window.after < after_ || window.endAfter < endAfter_) {
    return Coverage::kUnknown;
  }
  return window.before <= before_ ? Coverage::kKnown : Coverage::kExtend;
}

std::vector<ChannelFile> ChannelRows::Around(const Window& window) const {
  std::vector<ChannelFile> found;
  // A row can reach endAfter only from 2 × the longest TQTY before it (a second spare for
  // rounding).
  const double from = std::max(window.after, window.endAfter - 2.0 * longest_ - 1.0);
  for (auto it = rows_.lower_bound(from); it != rows_.end() && it->first < window.before; ++it) {
    const ChannelFile& row = it->second;
    if (row.begin > window.after && row.begin + 2 * row.quantity > window.endAfter) {
      found.push_back(row);
    }
  }
  return found;
}

ChannelRows::Window ChannelRows::ExtensionWindow(const Window& window) const {
  // From just below the known end: every row from KnownUntil() on comes back.
  return Window{AsStoredTime(before_ - 0.0002), window.before, endAfter_};
}

void ChannelRows::LearnAround(const Window& window, const std::vector<ChannelFile>& rows) {
  aroundKnown_ = true;
  after_ = window.after;
  before_ = window.before;
  endAfter_ = window.endAfter;
  rows_.clear();
  longest_ = 0.0;
  for (const ChannelFile& row : rows) Remember(row);
}

void ChannelRows::LearnExtension(const Window& extension, const std::vector<ChannelFile>& rows) {
  if (!aroundKnown_) return;
  for (const ChannelFile& row : rows) {
    if (row.begin >= before_) Remember(row);  // those before are known already
  }
  before_ = std::max(before_, extension.before);
}

void ChannelRows::NothingAfterKnown(const Window& window) {
  if (aroundKnown_) before_ = std::max(before_, window.before);
}

void ChannelRows::Remember(const ChannelFile& row) {
  if (!aroundKnown_) return;
  auto [first, last] = rows_.equal_range(row.begin);
  for (auto it = first; it != last; ++it) {
    if (it->second.cpath == row.cpath) {
      it->second = row;
      longest_ = std::max(longest_, row.quantity);
      return;
    }
  }
  rows_.emplace(row.begin, row);
  longest_ = std::max(longest_, row.quantity);
}

std::optional<double> ChannelRows::SizeAtMost(const std::string& creator) const {
  if (!size_ || size_->creator != creator) return std::nullopt;
  return size_->queried + size_->growth;
}

void ChannelRows::LearnSize(const std::string& creator, double total) {
  size_ = Size{creator, total, 0.0};
}

void ChannelRows::Grow(const ChannelFile& row, double bytes) {
  if (size_ && row.creator == size_->creator && row.offset == kDataOffset) {
    size_->growth += std::max(bytes, 0.0) + kSizeSlack;
  }
}

void ChannelRows::Inserted(const ChannelFile& row, const std::string& loadDate) {
  loadDates_[KeyOf(row)] = loadDate;
  Remember(row);
  Grow(row, row.offset + row.quantity * row.rate * 4.0);
  Reconsider(row, loadDate, true);
}

void ChannelRows::Updated(const ChannelFile& before, const ChannelFile& after,
                          const std::string& loadDate) {
  loadDates_[KeyOf(after)] = loadDate;
  Remember(after);
  Grow(after, (after.quantity - before.quantity) * after.rate * 4.0);
  Reconsider(after, loadDate, false);
}

void ChannelRows::Deleted(const std::string& cpath) {
  std::erase_if(loadDates_, [&](const auto& entry) { return entry.first.first == cpath; });
  std::erase_if(rows_, [&](const auto& entry) { return entry.second.cpath == cpath; });
  if (latestState_ == LatestState::kRow && latest_.cpath == cpath) {
    latestState_ = LatestState::kUnknown;
  }
}

}  // namespace tarnvel
