#include "tests/support/torture_history.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "tests/support/mseed_pack.h"

namespace tarnvel::testing::torture {
namespace {

// Two intervals, in twentieths: how far apart run boundaries of an epoch stay.
constexpr std::int64_t kBoundaryDistance = 2 * kUnitsPerInterval;
// Piece boundaries lie on multiples of this many slots.
constexpr std::int64_t kLattice = 10;

std::string Trimmed(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.4f", value);
  std::string out = text;
  while (!out.empty() && out.back() == '0') out.pop_back();
  if (!out.empty() && out.back() == '.') out.pop_back();
  return out;
}

double ParseRate(const std::string& text) {
  const auto slash = text.find('/');
  if (slash == std::string::npos) return std::stod(text);
  return std::stod(text.substr(0, slash)) / std::stod(text.substr(slash + 1));
}

// The words of the history text, by the enumerators' order.
constexpr std::array<const char*, 3> kChangeNames = {"insert", "update", "delete"};
constexpr std::array<const char*, 4> kOrderNames = {"pieces", "interleaved", "shuffled",
                                                    "reversed"};

const char* ChangeName(Change change) {
  return kChangeNames.at(static_cast<std::size_t>(change));
}
const char* OrderName(Order order) {
  return kOrderNames.at(static_cast<std::size_t>(order));
}

// The enumerator a word names; `what` says which kind in the error.
template <typename E, std::size_t N>
E Named(const std::array<const char*, N>& names, const std::string& word, const char* what) {
  for (std::size_t i = 0; i < N; ++i) {
    if (word == names[i]) return static_cast<E>(i);
  }
  throw std::invalid_argument(std::string(what) + " " + word);
}

std::string EncodingName(int encoding) {
  switch (encoding) {
    case kEncodingInt32:
      return "int32";
    case kEncodingSteim1:
      return "steim1";
    case kEncodingSteim2:
      return "steim2";
    default:
      return "mixed";
  }
}

std::string PieceText(const PieceRef& piece) {
  std::string text = "e" + std::to_string(piece.epoch) + ":" + std::to_string(piece.first) + "-" +
                     std::to_string(piece.end);
  if (piece.phase != 0) text += "@" + std::to_string(piece.phase);
  if (piece.version != 0) text += "v" + std::to_string(piece.version);
  if (piece.lag != 0) text += "s" + std::to_string(piece.lag);
  return text;
}

std::string RunText(const Run& run) {
  const Delivery& file = run.file;
  std::string text;
  for (const PieceRef& piece : file.pieces) text += (text.empty() ? "" : " ") + PieceText(piece);
  if (file.recordLength != 512) {
    text += " len=" +
            (file.recordLength == 0 ? std::string("mixed") : std::to_string(file.recordLength));
  }
  if (file.encoding != kEncodingSteim2) text += " enc=" + EncodingName(file.encoding);
  if (file.littleEndian) text += " le";
  if (file.order != Order::kPieces) text += std::string(" order=") + OrderName(file.order);
  if (file.duplicates != 0) text += " dup=" + std::to_string(file.duplicates);
  if (file.seed != 0) text += " seed=" + std::to_string(file.seed);
  if (run.killAtCall > 0) text += " kill-at=" + std::to_string(run.killAtCall);
  if (run.killAfterMs >= 0) text += " kill-after=" + std::to_string(run.killAfterMs);
  return text;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// "key=value" split; value empty without '='.
std::pair<std::string, std::string> KeyValue(const std::string& word) {
  const auto eq = word.find('=');
  if (eq == std::string::npos) return {word, ""};
  return {word.substr(0, eq), word.substr(eq + 1)};
}

PieceRef ParsePiece(const std::string& word) {
  PieceRef piece;
  std::size_t at = 1;
  std::size_t used = 0;
  piece.epoch = std::stoi(word.substr(at), &used);
  at += used;
  if (word.at(at++) != ':') throw std::invalid_argument("piece " + word);
  piece.first = std::stoll(word.substr(at), &used);
  at += used;
  if (word.at(at++) != '-') throw std::invalid_argument("piece " + word);
  piece.end = std::stoll(word.substr(at), &used);
  at += used;
  if (at < word.size() && word[at] == '@') {
    piece.phase = std::stoi(word.substr(at + 1), &used);
    at += 1 + used;
  }
  if (at < word.size() && word[at] == 'v') {
    piece.version = std::stoi(word.substr(at + 1), &used);
    at += 1 + used;
  }
  if (at < word.size() && word[at] == 's') {
    piece.lag = std::stoi(word.substr(at + 1), &used);
    at += 1 + used;
  }
  if (at != word.size()) throw std::invalid_argument("piece " + word);
  return piece;
}

Run ParseRun(const std::vector<std::string>& words) {
  Run run;
  for (const std::string& word : words) {
    if (word.size() > 1 && word[0] == 'e' && std::isdigit(static_cast<unsigned char>(word[1]))) {
      run.file.pieces.push_back(ParsePiece(word));
      continue;
    }
    const auto [key, value] = KeyValue(word);
    if (key == "len") {
      run.file.recordLength = value == "mixed" ? 0 : std::stoi(value);
    } else if (key == "enc") {
      run.file.encoding = value == "int32"    ? kEncodingInt32
                          : value == "steim1" ? kEncodingSteim1
                          : value == "steim2" ? kEncodingSteim2
                          : value == "mixed"  ? 0
                                              : throw std::invalid_argument("encoding " + value);
    } else if (key == "le") {
      run.file.littleEndian = true;
    } else if (key == "order") {
      run.file.order = Named<Order>(kOrderNames, value, "order");
    } else if (key == "dup") {
      run.file.duplicates = std::stoi(value);
    } else if (key == "seed") {
      run.file.seed = static_cast<std::uint32_t>(std::stoul(value));
    } else if (key == "kill-at") {
      run.killAtCall = std::stoi(value);
    } else if (key == "kill-after") {
      run.killAfterMs = std::stoi(value);
    } else {
      throw std::invalid_argument("word " + word);
    }
  }
  if (run.file.pieces.empty()) throw std::invalid_argument("a conversion without pieces");
  return run;
}

}  // namespace

std::string Epoch::ChannelName() const {
  return station + "." + channel + "." + (location.empty() ? "--" : location);
}

std::string ToText(const Step& step) {
  switch (step.kind) {
    case StepKind::kConvert:
      return "convert " + RunText(step.runs.at(0));
    case StepKind::kParallel: {
      std::string text = step.cleanLocks ? "parallel clean-locks" : "parallel";
      for (std::size_t i = 0; i < step.runs.size(); ++i) {
        text += (i == 0 ? " " : " | ") + RunText(step.runs[i]);
      }
      return text;
    }
    case StepKind::kSettle:
      return "settle";
    case StepKind::kCut: {
      std::string text =
          "cut e" + std::to_string(step.epoch) + " " + std::to_string(step.row) + " ";
      switch (step.cut) {
        case CutMode::kZero:
          return text + "zero";
        case CutMode::kHeader:
          return text + "header=" + std::to_string(step.amount);
        case CutMode::kSamples:
          return text + "samples=" + std::to_string(step.amount);
        case CutMode::kRemove:
          return text + "remove";
      }
      return text;
    }
    case StepKind::kRefuse: {
      std::string text = std::string("refuse ") + ChangeName(step.refusal.change);
      if (!step.refusal.column.empty()) {
        text += " " + step.refusal.column + (step.refusal.column == "tbegin" ? ">=" : "=") +
                step.refusal.value;
      }
      if (step.refusal.silent) text += " silent";
      return text;
    }
    case StepKind::kAllow:
      return "allow";
    case StepKind::kNote:
      return "note e" + std::to_string(step.epoch) + " " + std::string(1, step.note) + " e" +
             std::to_string(step.target) + " " + std::to_string(step.row);
  }
  return "?";
}

std::string ToText(const History& history) {
  std::string text;
  for (const Epoch& epoch : history.epochs) {
    std::string phases;
    for (int phase : epoch.phases) phases += (phases.empty() ? "" : ",") + std::to_string(phase);
    text += "epoch " + epoch.ChannelName() + " " + epoch.rateText + " +" + Trimmed(epoch.offset) +
            " span=" + std::to_string(epoch.span) + " phases=" + phases + "\n";
  }
  for (const Step& step : history.steps) text += ToText(step) + "\n";
  return text;
}

History ParseHistory(const std::string& text) {
  History history;
  std::istringstream lines(text);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    const std::vector<std::string> words = Words(line);
    if (words.empty()) continue;
    try {
      const std::string& verb = words[0];
      if (verb == "epoch") {
        Epoch epoch;
        const std::string& name = words.at(1);
        const auto dot1 = name.find('.');
        const auto dot2 = name.find('.', dot1 + 1);
        epoch.station = name.substr(0, dot1);
        epoch.channel = name.substr(dot1 + 1, dot2 - dot1 - 1);
        epoch.location = name.substr(dot2 + 1);
        if (epoch.location == "--") epoch.location.clear();
        epoch.rateText = words.at(2);
        epoch.rate = ParseRate(epoch.rateText);
        epoch.offset = std::stod(words.at(3));
        for (std::size_t i = 4; i < words.size(); ++i) {
          const auto [key, value] = KeyValue(words[i]);
          if (key == "span") {
            epoch.span = std::stoll(value);
          } else if (key == "phases") {
            std::istringstream list(value);
            for (std::string phase; std::getline(list, phase, ',');) {
              epoch.phases.push_back(std::stoi(phase));
            }
          } else {
            throw std::invalid_argument("word " + words[i]);
          }
        }
        if (epoch.phases.empty()) epoch.phases.push_back(0);
        history.epochs.push_back(epoch);
        continue;
      }
      Step step;
      if (verb == "convert") {
        step.kind = StepKind::kConvert;
        step.runs.push_back(ParseRun({words.begin() + 1, words.end()}));
      } else if (verb == "parallel") {
        step.kind = StepKind::kParallel;
        step.cleanLocks = words.size() > 1 && words[1] == "clean-locks";
        std::vector<std::string> part;
        for (std::size_t i = step.cleanLocks ? 2 : 1; i <= words.size(); ++i) {
          if (i == words.size() || words[i] == "|") {
            step.runs.push_back(ParseRun(part));
            part.clear();
          } else {
            part.push_back(words[i]);
          }
        }
      } else if (verb == "settle") {
        step.kind = StepKind::kSettle;
      } else if (verb == "cut") {
        step.kind = StepKind::kCut;
        const std::string& epoch = words.at(1);
        if (epoch.size() < 2 || epoch[0] != 'e') throw std::invalid_argument("cut " + epoch);
        step.epoch = std::stoi(epoch.substr(1));
        step.row = std::stoi(words.at(2));
        const auto [key, value] = KeyValue(words.at(3));
        if (key == "zero") {
          step.cut = CutMode::kZero;
        } else if (key == "header") {
          step.cut = CutMode::kHeader;
          step.amount = std::stoll(value);
        } else if (key == "samples") {
          step.cut = CutMode::kSamples;
          step.amount = std::stoll(value);
        } else if (key == "remove") {
          step.cut = CutMode::kRemove;
        } else {
          throw std::invalid_argument("cut " + key);
        }
      } else if (verb == "refuse") {
        step.kind = StepKind::kRefuse;
        const std::string& change = words.at(1);
        step.refusal.change = Named<Change>(kChangeNames, change, "change");
        for (std::size_t i = 2; i < words.size(); ++i) {
          if (words[i] == "silent") {
            step.refusal.silent = true;
          } else if (words[i].rfind("tbegin>=", 0) == 0) {
            step.refusal.column = "tbegin";
            step.refusal.value = words[i].substr(8);
          } else {
            const auto [key, value] = KeyValue(words[i]);
            if (key != "sta" && key != "ch" && key != "lcode") {
              throw std::invalid_argument("condition " + words[i]);
            }
            step.refusal.column = key;
            step.refusal.value = value;
          }
        }
      } else if (verb == "allow") {
        step.kind = StepKind::kAllow;
      } else if (verb == "note") {
        step.kind = StepKind::kNote;
        const auto epochOf = [](const std::string& word) {
          if (word.size() < 2 || word[0] != 'e') throw std::invalid_argument("epoch " + word);
          return std::stoi(word.substr(1));
        };
        step.epoch = epochOf(words.at(1));
        const std::string& kind = words.at(2);
        if (kind != "R" && kind != "N" && kind != "D" && kind != "A") {
          throw std::invalid_argument("note " + kind);
        }
        step.note = kind[0];
        step.target = epochOf(words.at(3));
        step.row = std::stoi(words.at(4));
      } else {
        throw std::invalid_argument("step " + verb);
      }
      history.steps.push_back(step);
    } catch (const std::exception& e) {
      throw std::invalid_argument("history line " + std::to_string(number) + " (" + line +
                                  "): " + e.what());
    }
  }
  return history;
}

std::int32_t SampleValue(int epoch, std::int64_t slot, int version) {
  const auto x = static_cast<double>(slot);
  const double e = static_cast<double>(epoch);
  const double signal = 900.0 * std::sin(0.05 * x + e) + 250.0 * std::sin(0.31 * x + 1.7 * e) +
                        40.0 * std::sin(1.9 * x);
  return static_cast<std::int32_t>(std::lround(signal)) + 1000 * version;
}

std::int32_t PieceRef::Value(std::int64_t slot) const {
  return SampleValue(epoch, slot - lag, version);
}

PieceRef SettlePiece(const History& history, int index) {
  for (std::size_t e = 0; e < history.epochs.size(); ++e) {
    if (history.epochs[e].Settler()) {
      return PieceRef{static_cast<int>(e), kSettleSlots * index, kSettleSlots * (index + 1), 0, 0};
    }
  }
  throw std::invalid_argument("the history has no settling epoch (" + std::string(kSettleStation) +
                              ")");
}

std::string BuiltFile::Bytes() const {
  std::string out;
  for (const BuiltRecord& record : records) out += record.bytes;
  return out;
}

BuiltFile BuildFile(const History& history, const Delivery& file) {
  std::mt19937 rng(file.seed);
  std::vector<std::vector<BuiltRecord>> perPiece;
  for (std::size_t p = 0; p < file.pieces.size(); ++p) {
    const PieceRef& piece = file.pieces[p];
    const Epoch& epoch = history.epochs.at(static_cast<std::size_t>(piece.epoch));
    const auto pick = static_cast<std::uint32_t>(rng());
    PackFields fields;
    fields.station = epoch.station;
    fields.channel = epoch.channel;
    fields.location = epoch.location;
    fields.startEpoch = epoch.Start() + (static_cast<double>(piece.first) +
                                         static_cast<double>(piece.phase) / kUnitsPerInterval) /
                                            epoch.rate;
    fields.sampleRate = epoch.rate;
    fields.recordLength = file.recordLength != 0 ? file.recordLength : (pick % 2 ? 4096 : 512);
    const int encodings[] = {kEncodingInt32, kEncodingSteim1, kEncodingSteim2};
    fields.encoding = file.encoding != 0 ? file.encoding : encodings[(pick / 2) % 3];
    fields.bigEndian = !file.littleEndian;
    std::vector<std::int32_t> values;
    for (std::int64_t k = piece.first; k < piece.end; ++k) {
      values.push_back(piece.Value(k));
    }
    const std::string bytes = PackRecords(fields, values);
    const auto length = static_cast<std::size_t>(fields.recordLength);
    std::vector<BuiltRecord> records;
    std::int64_t first = piece.first;
    for (std::size_t at = 0; at + length <= bytes.size(); at += length) {
      BuiltRecord record;
      record.piece = static_cast<int>(p);
      record.bytes = bytes.substr(at, length);
      const ReferenceRecord decoded = DecodeRecords(record.bytes, fields.recordLength).at(0);
      record.first = first;
      record.count = decoded.sampleCount;
      record.start = decoded.start;
      first += record.count;
      records.push_back(std::move(record));
    }
    perPiece.push_back(std::move(records));
  }

  BuiltFile out;
  if (file.order == Order::kInterleaved) {
    for (std::size_t i = 0;; ++i) {
      bool any = false;
      for (const auto& records : perPiece) {
        if (i < records.size()) {
          out.records.push_back(records[i]);
          any = true;
        }
      }
      if (!any) break;
    }
  } else {
    for (const auto& records : perPiece) {
      out.records.insert(out.records.end(), records.begin(), records.end());
    }
  }
  // A record of one sample, out of order or repeated, would meet the end of a run one interval
  // away: such a file keeps its records in order.
  const bool tiny = std::any_of(out.records.begin(), out.records.end(),
                                [](const BuiltRecord& record) { return record.count < 2; });
  if (!tiny && file.order == Order::kShuffled) {
    for (std::size_t i = out.records.size(); i > 1; --i) {
      std::swap(out.records[i - 1], out.records[rng() % i]);
    }
  } else if (!tiny && file.order == Order::kReversed) {
    std::reverse(out.records.begin(), out.records.end());
  }
  for (int d = 0; !tiny && d < file.duplicates && !out.records.empty(); ++d) {
    const BuiltRecord copy = out.records[rng() % out.records.size()];
    out.records.insert(
        out.records.begin() + static_cast<std::ptrdiff_t>(rng() % (out.records.size() + 1)), copy);
  }
  return out;
}

namespace {

bool TooClose(std::int64_t distance, bool samePhase) {
  if (distance == 0 && samePhase) return false;
  return std::llabs(distance) < kBoundaryDistance;
}

// Why `x` may not join the runs `delivered` of its epoch, empty when it may.
std::string Conflict(const PieceRef& x, const std::vector<PieceRef>& delivered) {
  for (const PieceRef& y : delivered) {
    const bool samePhase = x.phase == y.phase;
    if (TooClose(x.Begin20() - y.End20(), samePhase) ||
        TooClose(y.Begin20() - x.End20(), samePhase)) {
      return PieceText(x) + " starts or ends within two intervals of " + PieceText(y);
    }
  }
  return {};
}

std::string PieceProblem(const History& history, const PieceRef& piece) {
  if (piece.epoch < 0 || static_cast<std::size_t>(piece.epoch) >= history.epochs.size()) {
    return "no epoch " + std::to_string(piece.epoch);
  }
  const Epoch& epoch = history.epochs[static_cast<std::size_t>(piece.epoch)];
  if (piece.first < 0 || piece.end <= piece.first || piece.end > epoch.span) {
    return PieceText(piece) + " lies outside its epoch";
  }
  if (std::find(epoch.phases.begin(), epoch.phases.end(), piece.phase) == epoch.phases.end()) {
    return PieceText(piece) + " has a phase its epoch does not list";
  }
  if (piece.version < 0) return PieceText(piece) + " has a negative version";
  return {};
}

// Checks the runs of one step against what was delivered before, and adds them.
std::string AddRuns(const History& history, const std::vector<Run>& runs,
                    std::map<int, std::vector<PieceRef>>& delivered) {
  for (const Run& run : runs) {
    const Delivery& file = run.file;
    const bool outOfOrder =
        file.order == Order::kShuffled || file.order == Order::kReversed || file.duplicates > 0;
    for (std::size_t i = 0; i < file.pieces.size(); ++i) {
      const PieceRef& x = file.pieces[i];
      if (std::string problem = PieceProblem(history, x); !problem.empty()) return problem;
      if (outOfOrder && !history.epochs[static_cast<std::size_t>(x.epoch)].SinglePhase()) {
        return PieceText(x) + " of an epoch with several phases comes out of order";
      }
      for (std::size_t j = 0; j < i; ++j) {
        const PieceRef& y = file.pieces[j];
        if (x.epoch == y.epoch && x.Begin20() < y.End20() && y.Begin20() < x.End20()) {
          return PieceText(x) + " overlaps " + PieceText(y) + " in one file";
        }
      }
      if (std::string problem = Conflict(x, delivered[x.epoch]); !problem.empty()) {
        return problem;
      }
      delivered[x.epoch].push_back(x);
    }
  }
  return {};
}

}  // namespace

std::string RuleBroken(const History& history) {
  std::map<int, std::vector<PieceRef>> delivered;
  int settles = 0;
  for (std::size_t s = 0; s < history.steps.size(); ++s) {
    const Step& step = history.steps[s];
    const auto known = [&](int e) {
      return e >= 0 && static_cast<std::size_t>(e) < history.epochs.size();
    };
    if ((step.kind == StepKind::kCut || step.kind == StepKind::kNote) && !known(step.epoch)) {
      return "step " + std::to_string(s + 1) + ": no epoch " + std::to_string(step.epoch);
    }
    if (step.kind == StepKind::kNote && !known(step.target)) {
      return "step " + std::to_string(s + 1) + ": no epoch " + std::to_string(step.target);
    }
    std::vector<Run> runs = step.runs;
    if (step.kind == StepKind::kSettle) {
      Run run;
      run.file.pieces.push_back(SettlePiece(history, settles++));
      runs = {run};
    }
    if (std::string problem = AddRuns(history, runs, delivered); !problem.empty()) {
      return "step " + std::to_string(s + 1) + ": " + problem;
    }
  }
  return {};
}

namespace {

struct ChannelChoice {
  const char* station;
  const char* channel;
  const char* location;
};
// Two location codes of one channel (their files share names), another channel of the same
// station, other stations.
constexpr ChannelChoice kChannels[] = {{"TA1", "BHZ", ""},
                                       {"TA1", "BHZ", "00"},
                                       {"TA1", "LHZ", ""},
                                       {"TB2", "HHZ", "10"},
                                       {"TC3", "BHN", ""}};

struct RateChoice {
  const char* text;
  std::int64_t span;      // slots of an ordinary epoch
  std::int64_t longSpan;  // of one that needs more than one file (0: none that small)
  std::int64_t longest;   // slots of the longest piece
};
// 100/3 is carried by SPS as 33.33: its files hold 5000 samples at most.
constexpr RateChoice kRates[] = {{"20", 2000, 0, 1200},
                                 {"100", 3000, 0, 2000},
                                 {"1", 800, 4200, 600},
                                 {"0.1", 200, 800, 200},
                                 {"100/3", 1500, 6000, 900}};

Step StepOf(StepKind kind, std::vector<Run> runs = {}) {
  Step step;
  step.kind = kind;
  step.runs = std::move(runs);
  return step;
}

class Generator {
 public:
  Generator(std::uint64_t seed, const GeneratorOptions& options) : rng_(seed), options_(options) {}

  History Make() {
    MakeEpochs();
    while (static_cast<int>(history_.steps.size()) < options_.steps) AddSteps();
    return history_;
  }

 private:
  bool Allowed(const char* kind) const { return !options_.without.contains(kind); }
  std::int64_t Uniform(std::int64_t low, std::int64_t high) {  // [low, high]
    return low + static_cast<std::int64_t>(rng_() % static_cast<std::uint64_t>(high - low + 1));
  }
  bool Chance(int percent) { return Uniform(0, 99) < percent; }

  void MakeEpochs() {
    std::vector<int> order = {0, 1, 2, 3, 4};
    for (std::size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[rng_() % i]);
    const auto channels = static_cast<std::size_t>(Uniform(2, 4));
    for (std::size_t c = 0; c < channels; ++c) {
      const ChannelChoice& channel = kChannels[order[c]];
      double offset = static_cast<double>(Uniform(0, 119));
      const int epochs = Allowed("rate-change") && Chance(30) ? 2 : 1;
      int previousRate = -1;
      for (int e = 0; e < epochs; ++e) {
        int r = 0;
        do {
          r = static_cast<int>(Uniform(0, 4));
        } while (r == previousRate);
        previousRate = r;
        const RateChoice& rate = kRates[r];
        Epoch epoch;
        epoch.station = channel.station;
        epoch.channel = channel.channel;
        epoch.location = channel.location;
        epoch.rateText = rate.text;
        epoch.rate = ParseRate(rate.text);
        epoch.offset = offset;
        epoch.phases = {0};
        if (Allowed("shift") && Chance(50)) {
          const std::vector<std::vector<int>> sets = {{0, 5}, {0, 6}, {0, 10}, {0, 15}, {0, 6, 14}};
          epoch.phases = sets[rng_() % sets.size()];
        }
        epoch.span =
            rate.longSpan > 0 && epoch.SinglePhase() && Chance(35) ? rate.longSpan : rate.span;
        // The next epoch of the channel starts where this one ends.
        offset += std::round(static_cast<double>(epoch.span) / epoch.rate * 1e4) / 1e4;
        history_.epochs.push_back(epoch);
      }
    }
    Epoch settle;
    settle.station = kSettleStation;
    settle.channel = "SET";
    settle.rateText = "1";
    settle.rate = 1.0;
    settle.offset = 2 * 86400.0;
    settle.span = 100000;
    settle.phases = {0};
    history_.epochs.push_back(settle);
  }

  std::vector<int> Epochs() const {
    std::vector<int> out;
    for (std::size_t e = 0; e < history_.epochs.size(); ++e) {
      if (!history_.epochs[e].Settler()) out.push_back(static_cast<int>(e));
    }
    return out;
  }

  // A piece that keeps the rules with what was delivered, with the other runs of its step and
  // with its file so far; `severalPhases` is set when its epoch has more than one phase.
  std::optional<PieceRef> NewPiece(const std::vector<PieceRef>& inStep,
                                   const std::vector<PieceRef>& inFile, bool& severalPhases) {
    const std::vector<int> epochs = Epochs();
    for (int attempt = 0; attempt < 40; ++attempt) {
      const int e = epochs[rng_() % epochs.size()];
      const Epoch& epoch = history_.epochs[static_cast<std::size_t>(e)];
      const std::int64_t lattice = epoch.span / kLattice;
      const RateChoice* rate = nullptr;
      for (const RateChoice& choice : kRates) {
        if (epoch.rateText == choice.text) rate = &choice;
      }
      const std::int64_t longest = epoch.span > rate->span ? epoch.span : rate->longest;
      const std::vector<PieceRef>& before = delivered_[e];
      PieceRef x;
      x.epoch = e;
      if (!before.empty() && Chance(50)) {
        // Delivered again: as it was, longer or shorter, corrected, or at another phase.
        const PieceRef& y = before[rng_() % before.size()];
        x = y;
        if (Chance(50)) {
          x.first = std::max<std::int64_t>(0, y.first + kLattice * Uniform(-4, 4));
          x.end = std::min<std::int64_t>(epoch.span, y.end + kLattice * Uniform(-4, 4));
        }
        if (Allowed("shift") && !epoch.SinglePhase() && Chance(40)) {
          x.phase = epoch.phases[rng_() % epoch.phases.size()];
        }
        if (Allowed("correct") && Chance(30)) x.version = static_cast<int>(Uniform(0, 3));
        // The same samples a whole number of intervals late or early.
        if (Allowed("shift") && Chance(10)) x.lag = static_cast<int>(Uniform(-2, 2));
      } else {
        x.first = kLattice * Uniform(0, lattice - 1);
        x.end = std::min(epoch.span, x.first + kLattice * Uniform(1, longest / kLattice));
        if (Allowed("shift") && !epoch.SinglePhase() && Chance(20)) {
          x.phase = epoch.phases[rng_() % epoch.phases.size()];
        }
        if (Allowed("correct") && Chance(10)) x.version = static_cast<int>(Uniform(1, 3));
      }
      if (x.end <= x.first) continue;
      std::vector<PieceRef> near = before;
      for (const PieceRef& y : inStep) {
        if (y.epoch == e) near.push_back(y);
      }
      bool overlaps = false;
      for (const PieceRef& y : inFile) {
        if (y.epoch != e) continue;
        near.push_back(y);
        overlaps = overlaps || (x.Begin20() < y.End20() && y.Begin20() < x.End20());
      }
      if (overlaps || !Conflict(x, near).empty()) continue;
      severalPhases = severalPhases || !epoch.SinglePhase();
      return x;
    }
    return std::nullopt;
  }

  std::optional<Delivery> NewDelivery(std::vector<PieceRef>& inStep) {
    Delivery file;
    const int roll = static_cast<int>(Uniform(0, 99));
    const int pieces = roll < 50 ? 1 : roll < 85 ? 2 : 3;
    bool severalPhases = false;
    for (int p = 0; p < pieces; ++p) {
      if (std::optional<PieceRef> piece = NewPiece(inStep, file.pieces, severalPhases)) {
        file.pieces.push_back(*piece);
      }
    }
    if (file.pieces.empty()) return std::nullopt;
    int r = static_cast<int>(Uniform(0, 99));
    file.recordLength = r < 60 ? 512 : r < 85 ? 4096 : 0;
    r = static_cast<int>(Uniform(0, 99));
    file.encoding = r < 50   ? kEncodingSteim2
                    : r < 70 ? kEncodingSteim1
                    : r < 90 ? kEncodingInt32
                             : 0;
    file.littleEndian = Chance(15);
    r = static_cast<int>(Uniform(0, 99));
    const bool disorder = Allowed("shuffle") && !severalPhases;
    if (disorder && r < 12) {
      file.order = Order::kShuffled;
    } else if (disorder && r < 18) {
      file.order = Order::kReversed;
    } else if (file.pieces.size() > 1 && r < 40) {
      file.order = Order::kInterleaved;
    }
    if (disorder && Chance(12)) file.duplicates = static_cast<int>(Uniform(1, 3));
    file.seed = static_cast<std::uint32_t>(Uniform(1, 99999));
    for (const PieceRef& piece : file.pieces) inStep.push_back(piece);
    return file;
  }

  void Deliver(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
      for (const PieceRef& piece : run.file.pieces) delivered_[piece.epoch].push_back(piece);
      files_.push_back(run.file);
    }
  }

  void Kill(Run& run) {
    if (Chance(50)) {
      run.killAtCall = static_cast<int>(Uniform(1, 60));
    } else {
      run.killAfterMs = static_cast<int>(Uniform(0, 150));
    }
  }

  void Convert(bool killed) {
    std::vector<PieceRef> inStep;
    Run run;
    if (!files_.empty() && !killed && Chance(20)) {
      // A file delivered again, as it was or in other records.
      run.file = files_[rng_() % files_.size()];
      if (Chance(50)) {
        run.file.recordLength = Chance(50) ? 512 : 4096;
        run.file.encoding = Chance(50) ? kEncodingInt32 : kEncodingSteim1;
        run.file.seed = static_cast<std::uint32_t>(Uniform(1, 99999));
      }
      std::map<int, std::vector<PieceRef>> check = delivered_;
      if (!AddRuns(history_, {run}, check).empty()) return;
    } else {
      std::optional<Delivery> file = NewDelivery(inStep);
      if (!file) return;
      run.file = *file;
    }
    if (killed) Kill(run);
    history_.steps.push_back(StepOf(StepKind::kConvert, {run}));
    Deliver({run});
    if (killed) history_.steps.push_back(StepOf(StepKind::kSettle));
  }

  void Parallel() {
    std::vector<PieceRef> inStep;
    Step step = StepOf(StepKind::kParallel);
    if (Allowed("clean-locks") && Chance(30)) {
      // The same file converted by several converters at once while a cleaner removes the lock
      // files: the lock must hold all the same.
      std::optional<Delivery> file = NewDelivery(inStep);
      if (!file) return;
      step.cleanLocks = true;
      const int runs = static_cast<int>(Uniform(2, 3));
      for (int i = 0; i < runs; ++i) {
        Run run;
        run.file = *file;
        run.file.encoding = i == 0 ? file->encoding : kEncodingInt32;
        run.file.seed = static_cast<std::uint32_t>(Uniform(1, 99999));
        step.runs.push_back(run);
      }
      history_.steps.push_back(step);
      Deliver(step.runs);
      return;
    }
    const int runs = static_cast<int>(Uniform(2, 3));
    bool killed = false;
    for (int i = 0; i < runs; ++i) {
      std::optional<Delivery> file = NewDelivery(inStep);
      if (!file) continue;
      Run run;
      run.file = *file;
      if (Allowed("kill") && Chance(20)) {
        Kill(run);
        killed = true;
      }
      step.runs.push_back(run);
    }
    if (step.runs.size() < 2) return;
    history_.steps.push_back(step);
    Deliver(step.runs);
    if (killed) history_.steps.push_back(StepOf(StepKind::kSettle));
  }

  void Cut() {
    Step step = StepOf(StepKind::kCut);
    std::vector<int> delivered;
    for (const auto& [epoch, pieces] : delivered_) {
      if (!history_.epochs[static_cast<std::size_t>(epoch)].Settler()) delivered.push_back(epoch);
    }
    if (delivered.empty()) return;
    step.epoch = delivered[rng_() % delivered.size()];
    step.row = static_cast<int>(Uniform(0, 9));
    const int r = static_cast<int>(Uniform(Allowed("cut-header") ? 0 : 40, 99));
    if (r < 20) {
      step.cut = CutMode::kZero;
    } else if (r < 40) {
      step.cut = CutMode::kHeader;
      step.amount = Uniform(1, 511);
    } else if (r < 85) {
      step.cut = CutMode::kSamples;
      step.amount = Uniform(0, 1 << 20);
    } else {
      step.cut = CutMode::kRemove;
    }
    history_.steps.push_back(step);
  }

  // A note of unfinished work in one channel's lock file naming another channel's file.
  void Note() {
    std::vector<int> delivered;
    for (const auto& [epoch, pieces] : delivered_) {
      if (!history_.epochs[static_cast<std::size_t>(epoch)].Settler()) delivered.push_back(epoch);
    }
    if (delivered.size() < 2) return;
    Step step = StepOf(StepKind::kNote);
    step.epoch = delivered[rng_() % delivered.size()];
    step.target = delivered[rng_() % delivered.size()];
    const Epoch& own = history_.epochs[static_cast<std::size_t>(step.epoch)];
    const Epoch& other = history_.epochs[static_cast<std::size_t>(step.target)];
    if (own.station == other.station && own.channel == other.channel) return;
    step.note = "RNDA"[rng_() % 4];
    step.row = static_cast<int>(Uniform(0, 9));
    history_.steps.push_back(step);
  }

  void Refuse() {
    const int refusals = static_cast<int>(Uniform(1, 2));
    for (int i = 0; i < refusals; ++i) {
      Step step = StepOf(StepKind::kRefuse);
      step.refusal.change = static_cast<Change>(Uniform(0, 2));
      const std::vector<int> epochs = Epochs();
      const Epoch& epoch =
          history_.epochs[static_cast<std::size_t>(epochs[rng_() % epochs.size()])];
      const int r = static_cast<int>(Uniform(0, 99));
      if (r < 25) {
        // every change of its kind
      } else if (r < 50) {
        step.refusal.column = "sta";
        step.refusal.value = epoch.station;
      } else if (r < 65) {
        step.refusal.column = "ch";
        step.refusal.value = epoch.channel;
      } else if (r < 75) {
        step.refusal.column = "lcode";
        step.refusal.value = Chance(50) ? "00" : "10";
      } else {
        step.refusal.column = "tbegin";
        step.refusal.value =
            Trimmed(epoch.Start() + static_cast<double>(Uniform(0, epoch.span)) / epoch.rate);
      }
      step.refusal.silent = Allowed("refuse-silent") && Chance(30);
      history_.steps.push_back(step);
    }
    const int converts = static_cast<int>(Uniform(1, 2));
    for (int i = 0; i < converts; ++i) Convert(false);
    history_.steps.push_back(StepOf(StepKind::kAllow));
  }

  void AddSteps() {
    const int r = static_cast<int>(Uniform(0, 99));
    if (r < 14 && Allowed("kill")) {
      Convert(true);
    } else if (r < 26 && Allowed("parallel")) {
      Parallel();
    } else if (r < 36 && Allowed("cut") && !files_.empty()) {
      Cut();
    } else if (r < 44 && Allowed("refuse")) {
      Refuse();
    } else if (r < 47 && Allowed("notes")) {
      Note();
    } else {
      Convert(false);
    }
  }

  std::mt19937_64 rng_;
  GeneratorOptions options_;
  History history_;
  std::map<int, std::vector<PieceRef>> delivered_;
  std::vector<Delivery> files_;
};

}  // namespace

History Generate(std::uint64_t seed, const GeneratorOptions& options) {
  return Generator(seed, options).Make();
}

}  // namespace tarnvel::testing::torture
