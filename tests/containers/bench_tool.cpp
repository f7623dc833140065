// Runs the container engines over files, with a chosen codec, for bench/containers_bench.sh:
//   containers_bench_tool cdi-save CODEC SOURCE IMAGE
//   containers_bench_tool cdi-load CODEC IMAGE TARGET
//   containers_bench_tool zip SOURCE ARCHIVE
// CODEC is zlib, zlib-parallel, isal, isal-parallel or default. Questions take the answer that
// lets the job run (the gate passes, an existing archive is replaced); messages go to stderr.

#include "cli/cli.h"
#include "cli/command_line.h"
#include "containers/cdi.h"
#include "containers/commands.h"
#include "discovery/selections.h"
#include "jobs/gate.h"
#include "platform/platform.h"

#include <iostream>

namespace {

class Unattended final : public Dialogs, public JobControl {
public:
    explicit Unattended(std::string file) : file_(std::move(file)) {}
    Button ask(const Question& q) override {
        if (q.buttons.size() > 1) return q.buttons.front() == Button::Ok ? Button::Ok : Button::Yes;
        std::cerr << q.text << "\n";
        return Button::Ok;
    }
    std::optional<std::string> chooseFile(const FileDialog&) override { return file_; }
    std::optional<std::string> typedAgreement(const TFileInfo&, const std::string&) override {
        return std::string("i agree");
    }
    void progress(const Progress&) override {}
    void pump() override {}
    bool stopRequested() override { return false; }
    Clock& clock() override { return clock_; }

private:
    std::string file_;
    SystemClock clock_;
};

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> a(argv + 1, argv + argc);
    auto& backend = platform::systemBackend();
    if (a.size() == 4 && (a[0] == "cdi-save" || a[0] == "cdi-load")) {
        containers::CdiOptions options;
        if (a[1] != "default") {
            const auto codec = containers::codecByName(a[1]);
            if (!codec || !containers::codecAvailable(*codec)) {
                std::cerr << a[1] << ": no such codec in this build\n";
                return 2;
            }
            options.codec = *codec;
        }
        const bool save = a[0] == "cdi-save";
        Unattended ui(save ? a[3] : a[2]);
        const TFileInfo sel = selections::resolve(backend, save ? a[2] : a[3]);
        const auto r = save ? containers::SaveAsCompressed(backend, ui, ui, sel, options)
                            : containers::LoadFromCompressed(backend, ui, ui, sel, options);
        return r.outcome == containers::Outcome::Completed ? 0 : 1;
    }
    if (a.size() == 3 && a[0] == "zip") {
        Unattended ui(a[2]);
        return containers::zipCommand(backend, cli::parseCommandLine({"zip", "--replace", "--", a[1], a[2]}),
                                      ui, ui, std::cout, std::cerr);
    }
    std::cerr << "usage: containers_bench_tool cdi-save|cdi-load CODEC FROM TO | zip SOURCE ARCHIVE\n"
              << "codecs in this build: " << containers::compressionLibrary() << "\n";
    return 2;
}
