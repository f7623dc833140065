#include "speed/commands.h"

#include "discovery/selections.h"
#include "jobs/output_file.h"
#include "platform/platform.h"
#include "speed/chart_image.h"
#include "speed/speed.h"

#include <cstdio>
#include <optional>
#include <ostream>

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
// (under the header, once there is one) while keeping the chart's points.
class SampleEcho final : public JobControl {
public:
    SampleEcho(JobControl& inner, std::ostream& out, char separator, std::string header)
        : inner_(inner), out_(out), separator_(separator), header_(std::move(header)) {}
    void progress(const Progress& p) override {
        if (const auto* s = dynamic_cast<const speed::Sample*>(&p)) {
            chart.add(s->points);
            if (s->measured) {
                if (!header_.empty()) out_ << header_ << "\n";
                header_.clear();
                out_ << s->index << "\t" << fixed(s->position, 3, separator_) << "\t"
                     << fixed(s->value, 1, separator_) << "\n"
                     << std::flush; // each row as it is measured, also into a pipe
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

private:
    JobControl& inner_;
    std::ostream& out_;
    char separator_;
    std::string header_;
};

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
            return 1;
        }
    }
    const auto sel = selections::resolveOrSay(backend, args.operands[0], args.number("--offset"),
                                              args.number("--size"), err);
    if (!sel) return 1;
    const char separator = platform::decimalSeparator();
    SampleEcho echo(job, out, separator,
                    seek ? "Access\tPosition (MiB)\tTime (ms)" : "Sample\tPosition (MiB)\tSpeed (kB/s)");
    speed::Options o; // always past the cache where the platform allows it: the device is measured
    o.decimalSeparator = separator;
    const auto report = seek ? speed::seekTest(backend, dialogs, echo, *sel, o)
                             : speed::speedTest(backend, dialogs, echo, *sel, o);
    if (!echo.average.empty()) out << echo.average << "\n" << echo.maximum << "\n";
    int status = cli::exitFor(report);
    // A chart of what was measured, also when Stop ended it early.
    const bool measured = report.outcome == Outcome::Completed || report.outcome == Outcome::Incomplete;
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
    return {
        {"speed",
         {"SOURCE"},
         "speed needs one SOURCE",
         "read speed along SOURCE's range: one row per sample (position in MiB, kB/s), then the results",
         {pngOptions[0], pngOptions[1],
          offsetOption("first byte of the range, counted from the start of SOURCE"),
          sizeOption("number of bytes to measure over, more than 64 MiB (default: the rest of SOURCE)")},
         cli::runWith<speedCommand>},
        {"seek",
         {"SOURCE"},
         "seek needs one SOURCE",
         "512 reads of 4096 bytes at random places of SOURCE's range: one row per read (position in MiB, "
         "ms), then the results",
         {pngOptions[0], pngOptions[1],
          offsetOption("first byte of the range, counted from the start of SOURCE"),
          sizeOption("number of bytes to spread the reads over (default: the rest of SOURCE)")},
         cli::runWith<seekCommand>},
    };
}

} // namespace speed
