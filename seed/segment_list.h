// The ordered list of TraceSegment entries a run gathers, indexed by channel so that filing a
// record costs the same however many entries the list already holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "seed/trace_segment.h"

namespace tarnvel {

class SegmentList {
 public:
  SegmentList();
  ~SegmentList();
  SegmentList(SegmentList&&) noexcept;
  SegmentList& operator=(SegmentList&&) noexcept;
  SegmentList(const SegmentList&) = delete;
  SegmentList& operator=(const SegmentList&) = delete;

  // First entry in list order of this channel (names compared without regard to case) and of
  // this nominal rate whose end lies within 1.5 sample periods of t: |end - t| < 1.5 / rate.
  // An entry of another rate is never continued: its samples would land at wrong times.
  TraceSegment* FindContinuation(const ChannelKey& channel, double t, double rate);
  // First entry in list order of this channel, regardless of time (information mode).
  TraceSegment* FindChannel(const ChannelKey& channel);
  // Appends a new entry at the end of the list and returns it.
  TraceSegment& Add(TraceSegment segment);
  // Records that `segment` (an entry of this list) grew by `samples` samples at its own rate:
  // its end becomes start + count / nominalRate, worked out afresh each time so that no
  // rounding accumulates over millions of records. Keeps the index in step.
  void Extend(TraceSegment& segment, std::int64_t samples);
  // Information mode: the channel's entry counts `samples` more samples of a record lasting
  // `seconds` (at that record's own rate), added to its end.
  void ExtendSpan(TraceSegment& segment, std::int64_t samples, double seconds);

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  TraceSegment& operator[](std::size_t i) { return entries_[i]; }
  const TraceSegment& operator[](std::size_t i) const { return entries_[i]; }
  auto begin() { return entries_.begin(); }
  auto end() { return entries_.end(); }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  // Releases every sample array and empties the list.
  void Clear();

 private:
  std::deque<TraceSegment> entries_;  // stable addresses while the list grows
  // Per-channel index of the entries by end time: implementation details of segment_list.cpp.
  struct Index;
  std::unique_ptr<Index> index_;

  // Moves `segment` to its new end in the index.
  void Reindex(TraceSegment& segment);
};

}  // namespace tarnvel
