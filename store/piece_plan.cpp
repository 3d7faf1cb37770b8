#include "store/piece_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace tarnvel {
namespace {

double Reformatted(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return std::strtod(text, nullptr);
}

// Floating-point slack on top of the same-time window: an epoch time near 2009 carries about
// 2.4e-7 s of rounding.
constexpr double kTimeSlack = 1e-6;

// Where a stored file can take the piece's samples from `offset` on: a file as its row says
// compares them, a file cut short is restored from within what it holds. Links, folders and
// missing files never can.
bool CanTakeAt(const ChannelFile& file, std::int64_t offset) {
  const FileCheck check = CheckFileAgainstRow(file);
  switch (check.state) {
    case FileState::kMatches:
    case FileState::kLonger:
      return offset < check.samples;
    case FileState::kShorter:
      return offset <= check.samples;
    case FileState::kMissing:
    case FileState::kNotAFile:
      return false;
  }
  return false;
}

}  // namespace

double RowRate(double rate) {
  return Reformatted("%0.2f", rate);
}

bool SameRowRate(double a, double b) {
  return RowRate(a) == RowRate(b);
}

double AsStoredTime(double value) {
  return Reformatted("%0.4f", value);
}

double AsStoredDuration(double value) {
  return Reformatted("%0.2f", value);
}

double RowDuration(std::int64_t samples, double rate) {
  return static_cast<double>(samples) / RowRate(rate);
}

Piece Piece::After(std::int64_t n, double rate) const {
  return Piece{first + n, count - n, start + static_cast<double>(n) / rate};
}

std::int64_t SamplesARowPlaces(double rate) {
  const double drift = std::fabs(rate / RowRate(rate) - 1.0);
  if (!(drift > 1e-12) || !std::isfinite(drift)) return std::numeric_limits<std::int64_t>::max();
  // The last of n samples lies (n - 1) × drift intervals off its time: less than half.
  const double most = std::ceil(0.5 / drift - 1e-9);
  return most >= 1e15 ? std::numeric_limits<std::int64_t>::max()
                      : std::max<std::int64_t>(static_cast<std::int64_t>(most), 1);
}

std::int64_t SamplesPerFile(double rate) {
  // A hair above the exact product keeps 3600 × 0.3 from coming out as 1079.999...
  const auto perFile = static_cast<std::int64_t>(std::floor(kFileLengthLimit * rate + 1e-7));
  return std::clamp<std::int64_t>(perFile, 1, SamplesARowPlaces(rate));
}

std::vector<Piece> CutIntoPieces(double start, double rate, std::int64_t count) {
  std::vector<Piece> pieces;
  const std::int64_t perFile = SamplesPerFile(rate);
  for (std::int64_t first = 0; first < count; first += perFile) {
    pieces.push_back(
        Piece{first, std::min(perFile, count - first), start + static_cast<double>(first) / rate});
  }
  return pieces;
}

RegisteredSamples SamplesOfRow(const ChannelFile& file) {
  // TEND keeps the length to 0.0001 s, TQTY only to 0.01 s. But a run with the end-time column
  // switched off extends TQTY alone: a TEND that disagrees with TQTY is stale, and TQTY counts.
  const bool endAgrees =
      file.end && std::fabs(*file.end - file.begin - file.quantity) <= 0.005 + 0.0001 + 1e-6;
  const double exact = endAgrees ? (*file.end - file.begin) * file.rate : file.quantity * file.rate;
  const double slack = (endAgrees ? 0.0001 : 0.005) * file.rate + 1e-6;
  RegisteredSamples samples;
  samples.nominal = std::max<std::int64_t>(std::llround(exact), 0);
  samples.least = std::clamp<std::int64_t>(static_cast<std::int64_t>(std::ceil(exact - slack)), 0,
                                           samples.nominal);
  samples.most =
      std::max<std::int64_t>(static_cast<std::int64_t>(std::floor(exact + slack)), samples.nominal);
  return samples;
}

FileCheck CheckFileAgainstRow(const ChannelFile& file) {
  if (file.disk.kind == StoreFiles::Kind::kMissing) return FileCheck{FileState::kMissing};
  if (file.disk.kind != StoreFiles::Kind::kRegularFile) return FileCheck{FileState::kNotAFile};
  if (file.disk.size < kDataOffset) return FileCheck{FileState::kShorter};
  const RegisteredSamples registered = SamplesOfRow(file);
  const std::int64_t whole = (file.disk.size - kDataOffset) / 4;
  const bool partSample = (file.disk.size - kDataOffset) % 4 != 0;
  if (whole < registered.least) return FileCheck{FileState::kShorter, whole};
  if (whole > registered.most) {
    return FileCheck{FileState::kLonger, registered.nominal, kDataOffset + 4 * registered.nominal};
  }
  if (partSample) return FileCheck{FileState::kLonger, whole, kDataOffset + 4 * whole};
  return FileCheck{FileState::kMatches, whole};
}

FileCheck CheckAppendedFile(const ChannelFile& file, std::int64_t sizeBefore) {
  FileCheck check = CheckFileAgainstRow(file);
  const std::int64_t before = (sizeBefore - kDataOffset) / 4;
  const RegisteredSamples registered = SamplesOfRow(file);
  if (check.state == FileState::kLonger && sizeBefore == kDataOffset + 4 * before &&
      before >= registered.least && before <= registered.most && sizeBefore < file.disk.size) {
    check.samples = before;
    check.keepBytes = sizeBefore;
  }
  return check;
}

std::int64_t HeldSamples(const ChannelFile& file) {
  const FileCheck check = CheckFileAgainstRow(file);
  if (check.state == FileState::kMatches || check.state == FileState::kLonger) return check.samples;
  return SamplesOfRow(file).nominal;
}

PieceDecision DecidePiece(const Piece& piece, double rate,
                          const std::optional<ChannelFile>& latest) {
  PieceDecision decision;
  if (!latest || latest->offset != kDataOffset || !SameRowRate(latest->rate, rate)) {
    return decision;
  }
  if (SamplesOfRow(*latest).nominal >= SamplesPerFile(rate)) return decision;  // a full file
  const std::int64_t room = SamplesARowPlaces(rate) - HeldSamples(*latest);
  if (room <= 0) return decision;  // its row places no more samples at their times
  const std::optional<std::int64_t> slot = SlotAt(piece.start, rate, latest->begin);
  if (!slot || *slot != HeldSamples(*latest)) return decision;

  const FileCheck check = CheckFileAgainstRow(*latest);
  decision.count = std::min(piece.count, room);
  switch (check.state) {
    case FileState::kMatches:
      decision.action = PieceAction::kAppend;
      decision.fileSamples = check.samples;
      break;
    case FileState::kLonger:
      decision.action = PieceAction::kAppend;
      decision.fileSamples = check.samples;
      decision.keepBytes = check.keepBytes;
      break;
    case FileState::kShorter:
      decision.notice = PieceNotice::kFileShorterThanRow;
      break;
    case FileState::kMissing:
      decision.notice = PieceNotice::kFileMissing;
      break;
    case FileState::kNotAFile:
      decision.action = PieceAction::kRefuse;
      break;
  }
  return decision;
}

double SameTimeWindow(double rate) {
  return std::max(kSameTimeTolerance / rate, kTimeResolution) + kTimeSlack;
}

std::optional<std::int64_t> SlotAt(double time, double rate, double begin) {
  const double estimate = (time - begin) * rate;
  if (!std::isfinite(estimate) || std::fabs(estimate) >= 9e15) return std::nullopt;
  const std::int64_t nearest = std::llround(estimate);
  if (std::fabs(static_cast<double>(nearest) - estimate) > SameTimeWindow(rate) * rate) {
    return std::nullopt;
  }
  return nearest;
}

PieceMatch MatchPiece(const Piece& piece, double rate, const std::vector<ChannelFile>& files) {
  // Each file holding some of the piece's samples: the first and the end (exclusive) of those
  // samples in the piece, and the slot of the piece's first sample in the file.
  struct Holder {
    std::size_t index;
    std::int64_t first;
    std::int64_t end;
    std::int64_t offset;
  };
  std::vector<Holder> holders;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const ChannelFile& file = files[i];
    if (file.offset != kDataOffset || !SameRowRate(file.rate, rate)) continue;
    const std::optional<std::int64_t> slot = SlotAt(piece.start, rate, file.begin);
    if (!slot) continue;
    const std::int64_t first = std::max<std::int64_t>(0, -*slot);
    const std::int64_t end = std::min(piece.count, HeldSamples(file) - *slot);
    if (first < end) holders.push_back(Holder{i, first, end, *slot});
  }

  PieceMatch match;
  const Holder* decider = nullptr;
  auto before = [&](const Holder& a, const Holder& b) {
    const bool aTakes = CanTakeAt(files[a.index], a.offset);
    const bool bTakes = CanTakeAt(files[b.index], b.offset);
    if (aTakes != bTakes) return aTakes;
    // Of files that cannot take the samples, the one registered from the piece's first sample
    // on decides: converting its data again replaces its registration.
    if (!aTakes && (a.offset == 0) != (b.offset == 0)) return a.offset == 0;
    const ChannelFile& fa = files[a.index];
    const ChannelFile& fb = files[b.index];
    if (fa.begin != fb.begin) return fa.begin < fb.begin;
    return fa.cpath < fb.cpath;
  };
  for (const Holder& holder : holders) {
    if (holder.first == 0 && (decider == nullptr || before(holder, *decider))) decider = &holder;
  }
  // The step ends where another file holding the piece's samples begins.
  std::int64_t end = decider != nullptr ? decider->end : piece.count;
  for (const Holder& holder : holders) {
    if (holder.first > 0) end = std::min(end, holder.first);
  }
  if (decider != nullptr) {
    match.file = decider->index;
    match.offset = decider->offset;
  }
  match.count = std::max<std::int64_t>(end, std::min<std::int64_t>(piece.count, 1));
  return match;
}

}  // namespace tarnvel
