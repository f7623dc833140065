// tarnwick: the desktop program.

#include "app/gui/application.h"
#include "app/gui/longlived.h"
#include "app/gui/mainwindow.h"
#include "discovery/partitions.h"
#include "inspect/disasm_library.h"

#include <cstdio>
#include <cstdlib>

namespace {

bool displayAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform) return true;
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

} // namespace

int main(int argc, char** argv) {
    if (!displayAvailable()) {
        std::fprintf(stderr, "tarnwick: no display available (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                             "Start it inside a virtual display instead:\n"
                             "  xvfb-run -a %s\n",
                     argv[0]);
        return 1;
    }
    PartitionTypeNames(); // built once, before any window needs it
    // Loaded before any window exists; the program runs without it.
    disasm::DisasmLibrary disassembler = disasm::DisasmLibrary::load();

    TApplication app(argc, argv);

    TfrmMain::Options options;
    options.disassemblerAvailable = disassembler.available();
    TfrmMain frmMain(options);
    // Created in this order, hidden until asked for, and alive as long as the main window.
    auto* frmPartInfo = new TLongLivedWindow("frmPartInfo", "Partition and MBR additional reading", &frmMain);
    auto* frmLicense = new TLongLivedWindow("frmLicense", "License", &frmMain);
    auto* frmToDo = new TLongLivedWindow("frmToDo", "To-Do and limitations", &frmMain);
    auto* frmLinks = new TLongLivedWindow("frmLinks", "Usefull links", &frmMain);
    auto* frmCredits = new TLongLivedWindow("frmCredits", "Credits", &frmMain);
    auto* frmVersion = new TLongLivedWindow("frmVersion", "Version", &frmMain);
    new TLongLivedWindow("frmSelectFile", "Select a file", &frmMain);
    auto* frmKnownIssues = new TLongLivedWindow("frmKnownIssues", "Known Issues", &frmMain);
    frmMain.setLongLivedWindows(frmPartInfo, frmLicense, frmToDo, frmLinks, frmCredits, frmVersion, frmKnownIssues);

    frmMain.show();
    return app.exec();
}
