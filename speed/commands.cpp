#include "speed/commands.h"

#include "core/json.h"
#include "discovery/selections.h"
#include "jobs/output_file.h"
#include "platform/platform.h"
#include "speed/chart_image.h"
#include "speed/speed.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace speed {

using cli::CommandLine;
using cli::UsageError;

namespace {

std::string fixed(double v, int decimals, char separator) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    std::string s = text;
    if (const auto dot = s.find('.'); dot != std::string::npos) s[dot] = separator;
    return s;
}

// Passes everything on to the terminal's job control, and prints every measurement as it comes
// (under the titles, once there is one) while keeping the chart's points; with `keep`, the rows
// are kept for the end instead.
class SampleEcho final : public JobControl {
public:
    SampleEcho(JobControl& inner, std::ostream& out, char separator, std::vector<std::string> titles,
               bool keep)
        : titles(std::move(titles)), inner_(inner), out_(out), separator_(separator), keep_(keep) {}
    void progress(const Progress& p) override {
        if (const auto* s = dynamic_cast<const speed::Sample*>(&p)) {
            chart.add(s->points);
            if (s->measured) {
                std::vector<std::string> row{std::to_string(s->index), fixed(s->position, 3, separator_),
                                             fixed(s->value, 1, separator_)};
                if (keep_) {
                    rows.push_back(std::move(row));
                } else {
                    if (!titled_) out_ << titles[0] << "\t" << titles[1] << "\t" << titles[2] << "\n";
                    titled_ = true;
                    out_ << row[0] << "\t" << row[1] << "\t" << row[2] << "\n"
                         << std::flush; // each row as it is measured, also into a pipe
                }
                average = s->average;
                maximum = s->maximum;
            }
        }
        inner_.progress(p);
    }
    void pump() override { inner_.pump(); }
    bool stopRequested() override { return inner_.stopRequested(); }
    Clock& clock() override { return inner_.clock(); }
    void busy(bool on) override { inner_.busy(on); }
    void stoppable(bool on) override { inner_.stoppable(on); }

    speed::ChartData chart;
    std::string average, maximum;
    const std::vector<std::string> titles;
    std::vector<std::vector<std::string>> rows; // kept ones

private:
    JobControl& inner_;
    std::ostream& out_;
    char separator_;
    bool keep_;
    bool titled_ = false;
};

// The numbers in a result label ("Average: 65536 kb/s (64 Mb/s)": 65536, 64) under the keys
// given, each null when the label has fewer.
std::string resultFields(const std::string& label, const std::vector<std::string>& keys) {
    std::vector<std::string> numbers;
    for (size_t i = 0; i < label.size();) {
        if (!std::isdigit(static_cast<unsigned char>(label[i]))) {
            ++i;
            continue;
        }
        size_t end = label.find_first_not_of("0123456789", i);
        end = end == std::string::npos ? label.size() : end;
        // A decimal separator between digits belongs to the number.
        if (end + 1 < label.size() && (label[end] == '.' || label[end] == ',') &&
            std::isdigit(static_cast<unsigned char>(label[end + 1]))) {
            end = label.find_first_not_of("0123456789", end + 1);
            end = end == std::string::npos ? label.size() : end;
        }
        numbers.push_back(json::number(label.substr(i, end - i)));
        i = end;
    }
    std::string fields;
    for (size_t k = 0; k < keys.size(); ++k)
        fields += ", " + json::quote(keys[k]) + ": " + (k < numbers.size() ? numbers[k] : "null");
    return fields;
}

int measure(bool seek, platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
            std::ostream& out, std::ostream& err) {
    const bool chart = args.has("--png");
    if (args.has("--replace") && !chart) throw UsageError("--replace goes with --png", args.command);
    // Checked before the measurement, which can take minutes: an earlier chart is not lost to it,
    // and a chart never goes onto a device, a folder or a pipe.
    const std::string png = args.text("--png");
    if (chart) {
        if (const auto why = jobs::outputRefusal(backend, png, jobs::Existing::Replace)) {
            err << "Cannot write the chart into " << png << ": " << *why << ". Nothing was measured.\n";
            return 1;
        }
        if (!args.has("--replace") && jobs::outputNameTaken(backend, png)) {
            err << png << " already exists: give --replace to replace it. Nothing was measured.\n";
            return cli::kExitRefused;
        }
    }
    const auto sel = selections::resolveOrSay(backend, args.operands[0], args.number("--offset"),
                                              args.number("--size"), err);
    if (!sel) return 1;
    const char separator = platform::decimalSeparator();
    const bool json = args.has("--json");
    SampleEcho echo(job, out, separator,
                    seek ? std::vector<std::string>{"Access", "Position (MiB)", "Time (ms)"}
                         : std::vector<std::string>{"Sample", "Position (MiB)", "Speed (kB/s)"},
                    json);
    speed::Options o; // always past the cache where the platform allows it: the device is measured
    o.decimalSeparator = separator;
    const auto report = seek ? speed::seekTest(backend, dialogs, echo, *sel, o)
                             : speed::speedTest(backend, dialogs, echo, *sel, o);
    // What was measured, also when Stop ended it early.
    const bool measured = report.outcome == Outcome::Completed || report.outcome == Outcome::Incomplete;
    if (json && measured) {
        out << "{" << json::quote(args.command) << ": {" << json::quote("source") << ": "
            << json::quote(args.operands[0]) << ", " << json::quote("offset") << ": "
            << sel->Offset - sel->BaseOffset << ", " << json::quote("size") << ": " << sel->Size << ", "
            << json::quote("samples") << ": " << json::rows(echo.titles, echo.rows, {0, 1, 2})
            << resultFields(echo.average, seek ? std::vector<std::string>{"average_ms"}
                                               : std::vector<std::string>{"average_kb_s", "average_mb_s"})
            << resultFields(echo.maximum, {seek ? "done_percent" : "maximum_kb_s"}) << "}}\n";
    } else if (!json && !echo.average.empty()) {
        out << echo.average << "\n" << echo.maximum << "\n";
    }
    int status = cli::exitFor(report);
    if (chart && measured) {
        if (const std::string failure = speed::writeChartPng(backend, echo.chart, sel->Description, png);
            !failure.empty()) {
            err << failure << "\n";
            status = 1;
        }
    }
    return status;
}

} // namespace

int speedCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
                 std::ostream& out, std::ostream& err) {
    return measure(false, backend, args, dialogs, job, out, err);
}

int seekCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
                std::ostream& out, std::ostream& err) {
    return measure(true, backend, args, dialogs, job, out, err);
}

std::vector<cli::CommandSpec> commands() {
    using cli::OptionKind;
    using cli::OptionSpec;
    const auto number = [](const char* name, const char* help) {
        return OptionSpec{.name = name, .help = help, .kind = OptionKind::Number};
    };
    const OptionSpec pngOptions[] = {
        {.name = "--png",
         .help = "also draw the chart into the PNG file FILE",
         .kind = OptionKind::Text,
         .placeholder = "FILE"},
        {.name = "--replace",
         .help = "with --png: replace FILE when it exists",
         .answers = {{cli::kReplaceQuestionId, Button::Yes}}},
    };
    const auto offsetOption = [&](const char* help) { return number("--offset", help); };
    const auto sizeOption = [&](const char* help) { return number("--size", help); };
    const OptionSpec jsonOption{
        .name = "--json",
        .help = "print {\"<command>\": {source, offset, size, samples, then the results}} once the test "
                "ends, instead of the rows as they come: one object a row, keys from the column titles "
                "(\"Position (MiB)\" is position_mib), numbers as numbers"};
    return {
        {"speed",
         {"SOURCE"},
         "speed needs one SOURCE",
         "read speed along SOURCE's range: one row per sample (position in MiB, kB/s), then the results",
         {pngOptions[0], pngOptions[1],
          offsetOption("first byte of the range, counted from the start of SOURCE"),
          sizeOption("number of bytes to measure over, more than 64 MiB (default: the rest of SOURCE)"),
          jsonOption},
         cli::runWith<speedCommand>},
        {"seek",
         {"SOURCE"},
         "seek needs one SOURCE",
         "512 reads of 4096 bytes at random places of SOURCE's range: one row per read (position in MiB, "
         "ms), then the results",
         {pngOptions[0], pngOptions[1],
          offsetOption("first byte of the range, counted from the start of SOURCE"),
          sizeOption("number of bytes to spread the reads over (default: the rest of SOURCE)"), jsonOption},
         cli::runWith<seekCommand>},
    };
}

} // namespace speed
