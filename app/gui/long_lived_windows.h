#pragma once
// The windows the program creates once at start-up, after the main window and in this order:
// hidden until asked for, and alive as long as the main window (which owns them).

class TfrmCredits;
class TfrmKnownIssues;
class TfrmLicense;
class TfrmLinks;
class TfrmMain;
class TfrmPartInfo;
class TfrmSelectFile;
class TfrmToDo;
class TfrmVersion;

struct LongLivedWindows {
    TfrmPartInfo* partInfo;
    TfrmLicense* license;
    TfrmToDo* toDo;
    TfrmLinks* links;
    TfrmCredits* credits;
    TfrmVersion* version;
    TfrmSelectFile* selectFile;
    TfrmKnownIssues* knownIssues;
};

// Creates them and hands them to the main window.
LongLivedWindows createLongLivedWindows(TfrmMain& frmMain);
