#include "store/lock_note.h"

#include <cctype>
#include <charconv>
#include <vector>

#include "settings/data_directory.h"

namespace tarnvel {
namespace {

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t pos = 0;;) {
    const std::size_t tab = line.find('\t', pos);
    fields.push_back(line.substr(pos, tab - pos));
    if (tab == std::string_view::npos) return fields;
    pos = tab + 1;
  }
}

bool Digits(std::string_view text, std::size_t count) {
  if (count != 0 && text.size() != count) return false;
  if (text.empty()) return false;
  for (const char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) return false;
  }
  return true;
}

// A code as a waveform file name carries it: right-aligned in at least three characters.
std::string Padded(std::string_view code) {
  return std::string(code.size() < 3 ? 3 - code.size() : 0, ' ') + std::string(code);
}

// "<ddmmyyyy>-<hhmmss>-<CH>[-<n>].<STA>" of the channel.
bool IsFileNameOf(std::string_view leaf, std::string_view station, std::string_view channel) {
  if (leaf.size() < 16 || !Digits(leaf.substr(0, 8), 8) || leaf[8] != '-' ||
      !Digits(leaf.substr(9, 6), 6) || leaf[15] != '-') {
    return false;
  }
  std::string_view rest = leaf.substr(16);
  const std::string ch = Padded(channel);
  const std::string suffix = "." + Padded(station);
  if (rest.substr(0, ch.size()) != ch || rest.size() < ch.size() + suffix.size() ||
      rest.substr(rest.size() - suffix.size()) != suffix) {
    return false;
  }
  rest = rest.substr(ch.size(), rest.size() - ch.size() - suffix.size());
  return rest.empty() || (rest[0] == '-' && Digits(rest.substr(1), 0));
}

bool IsFileOf(std::string_view cpath, std::string_view station, std::string_view channel) {
  if (!IsStoreRelativePath(cpath) || cpath.substr(0, station.size()) != station) return false;
  const std::string_view rest = cpath.substr(station.size());
  return rest.size() > 4 && rest[0] == '/' && Digits(rest.substr(1, 2), 2) && rest[3] == '/' &&
         IsFileNameOf(rest.substr(4), station, channel);
}

// The CPATH whose staged name `staged` is; empty when it is none.
std::string CpathOfStaged(std::string_view staged) {
  const std::size_t slash = staged.rfind('/');
  const std::string_view leaf = staged.substr(slash + 1);
  if (leaf.size() <= 5 || leaf.front() != '.' || leaf.substr(leaf.size() - 4) != ".new") return {};
  return std::string(staged.substr(0, slash + 1)) + std::string(leaf.substr(1, leaf.size() - 5));
}

}  // namespace

std::string StagedPathOf(std::string_view cpath) {
  const std::size_t slash = cpath.rfind('/');
  return std::string(cpath.substr(0, slash + 1)) + "." + std::string(cpath.substr(slash + 1)) +
         ".new";
}

Note Note::NewFile(std::string staged, std::string cpath) {
  Note note;
  note.kind = Kind::kNewFile;
  note.staged = std::move(staged);
  note.cpath = std::move(cpath);
  return note;
}

Note Note::Replacement(std::string staged, std::string cpath) {
  Note note = NewFile(std::move(staged), std::move(cpath));
  note.kind = Kind::kReplacement;
  return note;
}

Note Note::PlaceReplacement(std::string staged, std::string cpath) {
  Note note = NewFile(std::move(staged), std::move(cpath));
  note.kind = Kind::kPlaceReplacement;
  return note;
}

Note Note::Append(std::string location, std::string cpath, std::int64_t sizeBefore,
                  bool ownHeader) {
  Note note;
  note.kind = Kind::kAppend;
  note.location = std::move(location);
  note.cpath = std::move(cpath);
  note.sizeBefore = sizeBefore;
  note.ownHeader = ownHeader;
  return note;
}

Note Note::Removal(std::string cpath) {
  Note note;
  note.kind = Kind::kRemoval;
  note.cpath = std::move(cpath);
  return note;
}

std::string Note::Text() const {
  std::string line(1, static_cast<char>(kind));
  switch (kind) {
    case Kind::kNewFile:
    case Kind::kReplacement:
    case Kind::kPlaceReplacement:
      return line + '\t' + staged + '\t' + cpath;
    case Kind::kAppend:
      line += '\t' + location + '\t' + cpath;
      if (sizeBefore >= 0) {
        line += '\t' + std::to_string(sizeBefore);
        if (ownHeader) line += *ownHeader ? "\tH" : "\tK";
      }
      return line;
    case Kind::kRemoval:
      return line + '\t' + cpath;
  }
  return line;
}

std::optional<Note> Note::Parse(std::string_view line) {
  const std::vector<std::string_view> f = Fields(line);
  if (f[0].size() != 1) return std::nullopt;
  const auto nonEmpty = [&](std::size_t i) { return i < f.size() && !f[i].empty(); };
  switch (f[0][0]) {
    case 'N':
    case 'P': {
      if (f.size() != 3 || !nonEmpty(1) || !nonEmpty(2)) return std::nullopt;
      Note note = NewFile(std::string(f[1]), std::string(f[2]));
      note.kind = static_cast<Kind>(f[0][0]);
      return note;
    }
    case 'R':
      if (f.size() == 2 && nonEmpty(1)) {
        // Earlier versions noted the staged name alone.
        const std::string cpath = CpathOfStaged(f[1]);
        if (cpath.empty()) return std::nullopt;
        return Replacement(std::string(f[1]), cpath);
      }
      if (f.size() != 3 || !nonEmpty(1) || !nonEmpty(2)) return std::nullopt;
      return Replacement(std::string(f[1]), std::string(f[2]));
    case 'A': {
      if (f.size() < 3 || f.size() > 5 || !nonEmpty(2)) return std::nullopt;
      Note note = Append(std::string(f[1]), std::string(f[2]), -1, false);
      note.ownHeader.reset();
      if (f.size() >= 4) {
        const auto [end, ec] =
            std::from_chars(f[3].data(), f[3].data() + f[3].size(), note.sizeBefore);
        if (ec != std::errc() || end != f[3].data() + f[3].size() || note.sizeBefore < 0) {
          return std::nullopt;
        }
      }
      if (f.size() == 5) {
        if (f[4] != "H" && f[4] != "K") return std::nullopt;
        note.ownHeader = f[4] == "H";
      }
      return note;
    }
    case 'D':
      if (f.size() != 2 || !nonEmpty(1)) return std::nullopt;
      return Removal(std::string(f[1]));
    default:
      return std::nullopt;
  }
}

bool Note::BelongsTo(std::string_view station, std::string_view channel) const {
  if (!IsFileOf(cpath, station, channel)) return false;
  switch (kind) {
    case Kind::kNewFile:
    case Kind::kReplacement:
    case Kind::kPlaceReplacement:
      return staged == StagedPathOf(cpath);
    case Kind::kAppend:
    case Kind::kRemoval:
      return true;
  }
  return false;
}

}  // namespace tarnvel
