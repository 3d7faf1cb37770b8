#include "check/repair.h"

#include "check/orphans.h"
#include "check/report.h"
#include "check/waveform_names.h"
#include "store/waveform_store.h"

namespace tarnvel::check {
namespace {

// The creator the converter registers its files with: their headers are the store's own.
constexpr char kCreator[] = "tarnvel";

using Action = WaveformStore::FileRepair::Action;

}  // namespace

StoreWork::Settling StoreRepairs::Settle(const ChannelName& channel) {
  return store_.SettleChannel(channel.station, channel.channel);
}

std::optional<std::string> StoreRepairs::Repair(const Finding& finding,
                                                const std::vector<CheckedRow>& rows) {
  if (repaired_.contains(finding.relative)) return std::nullopt;
  const ProblemKind kind = finding.problem.kind;
  if (kind == ProblemKind::kUnregistered && registerOrphans_) return RegisterOrphan(finding, rows);
  if (kind == ProblemKind::kStaged) {
    const std::optional<ChannelName> channel = ChannelOfPath(finding.relative);
    if (!channel ||
        !store_.RemoveStagedFile(channel->station, channel->channel, finding.relative)) {
      return std::nullopt;
    }
    repaired_.insert(finding.relative);
    return "removed";
  }
  const bool fileRepair = kind == ProblemKind::kLonger || kind == ProblemKind::kShorter ||
                          (kind == ProblemKind::kHeader && finding.lengthOnly);
  if (!fileRepair || !finding.row) return std::nullopt;
  const RegisteredFile& row = *finding.row;
  const WaveformStore::FileRepair repair =
      store_.RepairFile(row.station, row.channel, row.location, row.file.cpath, kCreator,
                        kind == ProblemKind::kHeader);
  switch (repair.action) {
    case Action::kCutBack:
      repaired_.insert(finding.relative);
      return "cut back to its row's " + std::to_string(repair.bytes) + " bytes";
    case Action::kRowShortened:
      repaired_.insert(finding.relative);
      return "its row set to the " + std::to_string(repair.samples) +
             " samples it holds, and its header";
    case Action::kHeaderWritten:
      repaired_.insert(finding.relative);
      return "its header written from its row";
    case Action::kNone:
    case Action::kFailed:
      break;
  }
  return std::nullopt;
}

std::optional<std::string> StoreRepairs::RegisterOrphan(const Finding& finding,
                                                        const std::vector<CheckedRow>& rows) {
  const StoreFiles files(store_.Directory());
  const std::optional<OrphanRow> orphan = WholeOrphan(files, finding.relative, store_.UseEndTime());
  if (!orphan) return std::nullopt;
  // Never the same time twice: a row of the channel covering any of its span keeps it out.
  const double end = orphan->begin + static_cast<double>(orphan->samples) / orphan->rate;
  for (const CheckedRow& checked : rows) {
    const RegisteredFile& row = checked.row;
    if (row.station == orphan->station && row.channel == orphan->channel &&
        row.location == orphan->location && row.file.begin < end && orphan->begin < RowEnd(row)) {
      return std::nullopt;
    }
  }
  if (!store_.RegisterFile(orphan->station, orphan->channel, orphan->location, finding.relative,
                           orphan->begin, orphan->rate, orphan->samples, kCreator)) {
    return std::nullopt;
  }
  repaired_.insert(finding.relative);
  return "registered with its header's " + std::to_string(orphan->samples) + " samples from " +
         UtcText(orphan->begin);
}

}  // namespace tarnvel::check
