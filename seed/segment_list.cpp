#include "seed/segment_list.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <map>
#include <unordered_map>
#include <vector>

namespace tarnvel {

// Each channel (names without regard to case) keeps its entries in ordered maps keyed by end
// time, one map per span rate because the continuation window 1.5 / rate belongs to the entry.
// A lookup reads only the few entries whose end lies inside the window, so filing a record costs
// the same whether the list holds one entry or tens of thousands.
struct SegmentList::Index {
  using ByEnd = std::multimap<double, std::size_t>;  // end -> list position

  struct RateGroup {
    double rate = 0.0;
    ByEnd byEnd;
  };

  struct Channel {
    std::size_t first = 0;  // list position of the channel's first entry
    std::vector<std::unique_ptr<RateGroup>> groups;
  };

  struct Slot {
    RateGroup* group = nullptr;
    ByEnd::iterator at;
  };

  std::unordered_map<ChannelKey, Channel, ChannelKeyHashIgnoringCase, ChannelKeyEqualIgnoringCase>
      channels;
  std::deque<Slot> slots;  // by list position
  // Position of the entry last returned by a lookup or Add: the one Extend is almost always
  // called with.
  std::size_t last = 0;
};

SegmentList::SegmentList() : index_(std::make_unique<Index>()) {}
SegmentList::~SegmentList() = default;
SegmentList::SegmentList(SegmentList&&) noexcept = default;
SegmentList& SegmentList::operator=(SegmentList&&) noexcept = default;

TraceSegment* SegmentList::FindContinuation(const ChannelKey& channel, double t, double rate) {
  const auto found = index_->channels.find(channel);
  if (found == index_->channels.end()) return nullptr;
  for (const auto& group : found->second.groups) {
    if (group->rate != rate) continue;
    const double window = 1.5 / group->rate;
    // Widen the range a little so that rounding of t ± window never hides an entry; the exact
    // test below decides.
    const double slack = 1e-9 * (std::fabs(t) + window);
    const double last = t + window + slack;
    std::size_t best = std::numeric_limits<std::size_t>::max();
    for (auto it = group->byEnd.lower_bound(t - window - slack);
         it != group->byEnd.end() && it->first <= last; ++it) {
      if (std::fabs(it->first - t) < window) best = std::min(best, it->second);
    }
    if (best == std::numeric_limits<std::size_t>::max()) return nullptr;
    index_->last = best;
    return &entries_[best];
  }
  return nullptr;
}

TraceSegment* SegmentList::FindChannel(const ChannelKey& channel) {
  const auto found = index_->channels.find(channel);
  if (found == index_->channels.end()) return nullptr;
  index_->last = found->second.first;
  return &entries_[found->second.first];
}

TraceSegment& SegmentList::Add(TraceSegment segment) {
  const std::size_t position = entries_.size();
  entries_.push_back(std::move(segment));
  TraceSegment& entry = entries_.back();
  auto [it, inserted] =
      index_->channels.try_emplace(static_cast<const ChannelKey&>(entry), Index::Channel{});
  Index::Channel& channel = it->second;
  if (inserted) channel.first = position;
  const double rate = entry.nominalRate;
  Index::RateGroup* group = nullptr;
  for (const auto& g : channel.groups) {
    if (g->rate == rate) group = g.get();
  }
  if (group == nullptr) {
    channel.groups.push_back(std::make_unique<Index::RateGroup>());
    group = channel.groups.back().get();
    group->rate = rate;
  }
  index_->slots.push_back(Index::Slot{group, group->byEnd.emplace(entry.end, position)});
  index_->last = position;
  return entry;
}

void SegmentList::Extend(TraceSegment& segment, std::int64_t samples) {
  segment.count += samples;
  segment.end = segment.start + static_cast<double>(segment.count) / segment.nominalRate;
  Reindex(segment);
}

void SegmentList::ExtendSpan(TraceSegment& segment, std::int64_t samples, double seconds) {
  segment.count += samples;
  segment.end += seconds;
  Reindex(segment);
}

void SegmentList::Reindex(TraceSegment& segment) {
  std::size_t position = index_->last;
  if (position >= entries_.size() || &entries_[position] != &segment) {
    position = entries_.size();
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (&entries_[i] == &segment) position = i;
    }
    if (position == entries_.size()) return;  // not an entry of this list
  }
  Index::Slot& slot = index_->slots[position];
  // Move the entry to its new end without allocating a new node.
  auto node = slot.group->byEnd.extract(slot.at);
  node.key() = segment.end;
  slot.at = slot.group->byEnd.insert(std::move(node));
}

void SegmentList::Clear() {
  entries_.clear();
  entries_.shrink_to_fit();
  index_->channels.clear();
  index_->slots.clear();
}

}  // namespace tarnvel
