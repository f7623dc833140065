#include "app/gui/long_lived_windows.h"

#include "app/gui/mainwindow.h"
#include "app/gui/selectfile.h"
#include "info/gui/infowindows.h"
#include "info/gui/partinfo.h"

LongLivedWindows createLongLivedWindows(TfrmMain& frmMain) {
    LongLivedWindows w{};
    w.partInfo = new TfrmPartInfo(&frmMain);
    w.license = new TfrmLicense(&frmMain);
    w.toDo = new TfrmToDo(&frmMain);
    w.links = new TfrmLinks(&frmMain);
    w.credits = new TfrmCredits(&frmMain);
    w.version = new TfrmVersion(&frmMain);
    w.selectFile = new TfrmSelectFile(frmMain, &frmMain);
    frmMain.setFileBrowser(w.selectFile);
    w.knownIssues = new TfrmKnownIssues(&frmMain);
    frmMain.setLongLivedWindows(w.partInfo, w.license, w.toDo, w.links, w.credits, w.version, w.knownIssues);
    return w;
}
