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

// Gap between a file's end and a piece's start that still counts as seamless, in intervals.
constexpr double kContinuityTolerance = 1.5;
// How far from a sample's own slot a time may lie and still name that slot alone, in
// intervals: TBEGIN keeps ten-thousandths of a second, the rest is rounding.
double ExactTolerance(double rate) {
  return 0.01 + 0.0001 * rate;
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
  const double fileEnd = latest->begin + static_cast<double>(HeldSamples(*latest)) / rate;
  if (!(std::fabs(fileEnd - piece.start) < kContinuityTolerance / rate)) return decision;

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

Neighbours FindNeighbours(const Piece& piece, double rate, const std::vector<ChannelFile>& files) {
  const double half = 0.5 / rate;
  const double pieceEnd = piece.start + static_cast<double>(piece.count) / rate;
  Neighbours found;
  for (const ChannelFile& file : files) {
    if (file.offset != kDataOffset || !SameRowRate(file.rate, rate)) continue;
    const double fileEnd = file.begin + static_cast<double>(HeldSamples(file)) / rate;
    if (file.begin <= piece.start + half) {
      if (piece.start < fileEnd - half && (!found.covering || file.begin > found.covering->begin)) {
        found.covering = file;
      }
    } else if (file.begin < pieceEnd - half &&
               (!found.nextBegin || file.begin < *found.nextBegin)) {
      found.nextBegin = file.begin;
    }
  }
  return found;
}

std::vector<std::int64_t> CandidateOffsets(double start, double rate, double begin,
                                           std::int64_t samples) {
  const double estimate = (start - begin) * rate;
  std::vector<std::int64_t> offsets;
  const auto low = static_cast<std::int64_t>(std::ceil(estimate - kContinuityTolerance));
  for (std::int64_t j = std::max<std::int64_t>(low, 0);
       static_cast<double>(j) < estimate + kContinuityTolerance && j < samples; ++j) {
    if (std::fabs(static_cast<double>(j) - estimate) < kContinuityTolerance) offsets.push_back(j);
  }
  std::sort(offsets.begin(), offsets.end(), [estimate](std::int64_t a, std::int64_t b) {
    return std::fabs(static_cast<double>(a) - estimate) <
           std::fabs(static_cast<double>(b) - estimate);
  });
  return offsets;
}

std::optional<std::int64_t> ExactOffset(double start, double rate, double begin,
                                        std::int64_t samples) {
  const double estimate = (start - begin) * rate;
  const std::int64_t nearest = std::llround(estimate);
  if (std::fabs(static_cast<double>(nearest) - estimate) > ExactTolerance(rate)) {
    return std::nullopt;
  }
  if (nearest < 0 || nearest >= samples) return std::nullopt;
  return nearest;
}

std::int64_t SamplesBefore(const Piece& piece, double rate, double nextBegin) {
  const double before = std::ceil((nextBegin - piece.start) * rate - 0.5 - 1e-9);
  return std::clamp<std::int64_t>(static_cast<std::int64_t>(before), 1, piece.count);
}

}  // namespace tarnvel
