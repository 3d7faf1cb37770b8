#include "check/report.h"

#include <cmath>
#include <ctime>

#include "check/json_line.h"

namespace tarnvel::check {
namespace {

constexpr ProblemKind KindAt(std::size_t i) {
  return static_cast<ProblemKind>(i);
}

// "1 missing, 2 header" (kinds in their order); empty when every count is 0.
std::string CountsText(const KindCounts& counts) {
  std::string text;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] == 0) continue;
    if (!text.empty()) text += ", ";
    text += std::to_string(counts[i]) + " " + std::string(KindName(KindAt(i)));
  }
  return text;
}

long long Sum(const KindCounts& counts) {
  long long sum = 0;
  for (const long long n : counts) sum += n;
  return sum;
}

std::string CountsJson(const KindCounts& counts) {
  JsonLine line;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] > 0) line.Number(KindName(KindAt(i)), counts[i]);
  }
  return line.Object();
}

JsonLine ChannelFields(std::string_view type, const ChannelName& channel) {
  JsonLine line;
  line.Text("type", type);
  if (channel.known()) {
    line.Text("station", channel.station).Text("channel", channel.channel);
    line.Text("location", channel.location);
  }
  return line;
}

}  // namespace

std::string UtcText(double epoch) {
  const long long tenThousandths = std::llround(epoch * 10000.0);
  long long seconds = tenThousandths / 10000;
  long long fraction = tenThousandths % 10000;
  if (fraction < 0) {
    fraction += 10000;
    --seconds;
  }
  const auto whole = static_cast<std::time_t>(seconds);
  std::tm utc{};
  gmtime_r(&whole, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%04lld-%02d.%02d.%04d", utc.tm_hour, utc.tm_min,
                utc.tm_sec, fraction, utc.tm_mday, utc.tm_mon + 1, utc.tm_year + 1900);
  return text;
}

void Report::Line(const std::string& text) {
  std::fputs(text.c_str(), out_);
  std::fputc('\n', out_);
}

void Report::Found(const Problem& problem) {
  ++found_[static_cast<std::size_t>(problem.kind)];
  if (json_) {
    JsonLine line = ChannelFields("problem", problem.channel);
    line.Text("kind", KindName(problem.kind)).Text("path", problem.path);
    if (!problem.detail.empty()) line.Text("detail", problem.detail);
    Line(line.Object());
    return;
  }
  std::string text =
      std::string(KindName(problem.kind)) + " " + problem.channel.Text() + " " + problem.path;
  if (!problem.detail.empty()) text += ": " + problem.detail;
  Line(text);
}

void Report::Repaired(const Problem& problem, std::string_view action) {
  ++repaired_[static_cast<std::size_t>(problem.kind)];
  if (json_) {
    JsonLine line = ChannelFields("repaired", problem.channel);
    line.Text("kind", KindName(problem.kind)).Text("path", problem.path).Text("action", action);
    Line(line.Object());
    return;
  }
  Line("repaired " + problem.channel.Text() + " " + problem.path + ": " +
       std::string(KindName(problem.kind)) + ", " + std::string(action));
}

void Report::Busy(const ChannelName& channel, const std::string& lockPath) {
  if (json_) {
    Line(ChannelFields("busy", channel).Text("path", lockPath).Object());
    return;
  }
  Line("busy " + channel.Text() + " " + lockPath +
       ": a converter holds the lock, its work is left to it");
}

void Report::Coverage(const CoverageSpan& span) {
  const char* type = span.gap ? "gap" : "span";
  if (json_) {
    JsonLine line = ChannelFields(type, span.channel);
    line.Time("begin", span.begin).Time("end", span.end);
    line.Text("beginUtc", UtcText(span.begin)).Text("endUtc", UtcText(span.end));
    line.Number("samples", span.samples);
    Line(line.Object());
    return;
  }
  Line(std::string(type) + " " + span.channel.Text() + " " + UtcText(span.begin) + " - " +
       UtcText(span.end) + " " + std::to_string(span.samples));
}

long long Report::problems() const {
  return Sum(found_);
}

void Report::Summary(const Totals& totals) {
  if (json_) {
    JsonLine line;
    line.Text("type", "summary").Number("rows", totals.rows).Number("files", totals.files);
    line.Number("bytes", totals.bytes).Number("problems", Sum(found_));
    line.Raw("byKind", CountsJson(found_)).Number("repaired", Sum(repaired_));
    line.Raw("repairedByKind", CountsJson(repaired_));
    Line(line.Object());
    std::fflush(out_);
    return;
  }
  std::string text = "Checked " + std::to_string(totals.rows) + " rows, " +
                     std::to_string(totals.files) + " files, " + std::to_string(totals.bytes) +
                     " bytes: ";
  const long long found = Sum(found_);
  text += found == 0 ? std::string("no problems")
                     : std::to_string(found) + " problems (" + CountsText(found_) + ")";
  if (const long long repaired = Sum(repaired_); repaired > 0) {
    text += ", " + std::to_string(repaired) + " repaired (" + CountsText(repaired_) + ")";
  }
  Line(text);
  std::fflush(out_);
}

}  // namespace tarnvel::check
