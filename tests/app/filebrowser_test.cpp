// The file browser's engine: folder listings, the record a clicked file becomes, and the root a
// drive letter stands for.

#include "app/filebrowser.h"
#include "support/fixtures.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace filebrowser;

namespace {

class FileBrowser : public testing::Test {
protected:
    void SetUp() override {
        root_ = dir_.path().string() + "/";
        fixtures::writeFile(dir_.file("b.txt"), std::vector<uint8_t>(1234, 'x'));
        fixtures::writeFile(dir_.file("a.tar.gz"), {});
        fixtures::writeFile(dir_.file(".hidden"), {1, 2});
        fs::create_directory(dir_.file("sub"));
        fs::create_directory(dir_.file("empty"));
        fixtures::writeFile(dir_.file("sub/inner.dat"), {1});
    }
    std::vector<TFileData> list(const std::string& path) { return listFolder(rootData(path)); }
    const TFileData& find(const std::vector<TFileData>& entries, const std::string& name) {
        for (const auto& e : entries)
            if (e.Rec.Name == name) return e;
        throw std::runtime_error("no entry " + name);
    }

    fixtures::TempDir dir_;
    std::string root_;
};

} // namespace

TEST_F(FileBrowser, ListsAFolderInNameOrderWithFolderPathsEndingInASlash) {
    const auto entries = list(root_);
    std::vector<std::string> names;
    for (const auto& e : entries)
        names.push_back(e.Rec.Name);
    EXPECT_EQ(names, (std::vector<std::string>{".hidden", "a.tar.gz", "b.txt", "empty", "sub"}));

    const TFileData& sub = find(entries, "sub");
    EXPECT_TRUE(sub.isFolder());
    EXPECT_EQ(sub.Path, root_ + "sub/");
    EXPECT_EQ(sub.Rec.Attr & faDirectory, faDirectory);
    const TFileData& b = find(entries, "b.txt");
    EXPECT_FALSE(b.isFolder());
    EXPECT_EQ(b.Path, root_ + "b.txt");
    EXPECT_EQ(b.Rec.Size, 1234);
    EXPECT_EQ(b.Rec.Attr & (faArchive | faHidden), faArchive);
    EXPECT_GT(b.Rec.Time, 1600000000);
    EXPECT_EQ(find(entries, ".hidden").Rec.Attr & faHidden, faHidden);

    // A folder's entries carry its path; an empty folder has none.
    const auto inner = listFolder(sub);
    ASSERT_EQ(inner.size(), 1u);
    EXPECT_EQ(inner[0].Path, root_ + "sub/inner.dat");
    EXPECT_TRUE(listFolder(find(entries, "empty")).empty());

    // The root counts as a folder.
    const TFileData root = rootData(root_);
    EXPECT_TRUE(root.isFolder());
    EXPECT_EQ(root.Rec.Attr, 0xFFFFFFu);
}

TEST_F(FileBrowser, FoldersThatCannotBeListedShowNothing) {
    EXPECT_TRUE(list(root_ + "missing/").empty());
    EXPECT_TRUE(list(root_ + "b.txt/").empty()); // a file, not a folder
    EXPECT_TRUE(list("Q:\\").empty());           // a letter without a volume stays unresolved
}

TEST_F(FileBrowser, FoldersWithoutReadPermissionShowNothing) {
    fs::create_directory(dir_.file("closed"));
    fixtures::writeFile(dir_.file("closed/secret"), {1});
    ASSERT_EQ(::chmod(dir_.file("closed").c_str(), 0), 0);
    ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
    const auto closedButOthersListed = [this] {
        return list(root_ + "closed/").empty() && list(root_).size() == 6;
    };
    if (::geteuid() != 0) {
        EXPECT_TRUE(closedButOthersListed());
    } else {
        // Root reads every folder, so the listing runs in a child that has become "nobody".
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
            ::_exit(closedButOthersListed() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot become another user here";
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    ::chmod(dir_.file("closed").c_str(), 0700);
}

TEST_F(FileBrowser, AClickedFileBecomesTheSelection) {
    const auto entries = list(root_);
    const TFileInfo info = fileInfoFor(find(entries, "b.txt"), "b.txt");
    EXPECT_EQ(info.FileName, root_ + "b.txt");
    EXPECT_EQ(info.Description, root_ + "b.txt");
    EXPECT_EQ(info.DefaultName, "b.txt");
    EXPECT_EQ(info.DefaultExt, ".txt");
    EXPECT_EQ(info.Size, 1234);
    EXPECT_EQ(info.Offset, 0);
    EXPECT_EQ(info.DisplayText, "File: b.txt");
    EXPECT_EQ(info.BaseOffset, 0);
    EXPECT_EQ(info.BaseSize, 1234);
    EXPECT_TRUE(info.CanRead);
    EXPECT_FALSE(info.CanWrite);
    EXPECT_EQ(info.DriveText, "b.txt");

    EXPECT_EQ(fileInfoFor(find(entries, "a.tar.gz"), "a.tar.gz").DefaultExt, ".gz");
    EXPECT_EQ(fileInfoFor(find(entries, ".hidden"), ".hidden").DefaultExt, "");
    const TFileInfo folder = fileInfoFor(find(entries, "sub"), "sub");
    EXPECT_FALSE(folder.CanRead);
    EXPECT_EQ(folder.DefaultExt, "");
}

TEST_F(FileBrowser, FilesOver4GiBKeepTheir64BitSize) {
    const std::string big = dir_.file("big.img");
    { std::ofstream create(big); }
    std::error_code ec;
    fs::resize_file(big, 5000000000ull, ec); // sparse: takes no space
    if (ec) GTEST_SKIP() << "this file system cannot hold a 5 GB sparse file: " << ec.message();
    const auto entries = list(root_);
    const TFileData& entry = find(entries, "big.img");
    EXPECT_EQ(entry.Rec.Size, 5000000000);
    EXPECT_EQ(fileInfoFor(entry, "big.img").Size, 5000000000);
    EXPECT_EQ(fileInfoFor(entry, "big.img").BaseSize, 5000000000);
}

TEST_F(FileBrowser, PipesAreListedButNotReadable) {
    ASSERT_EQ(::mkfifo(dir_.file("pipe").c_str(), 0600), 0);
    const auto entries = list(root_);
    const TFileData& pipe = find(entries, "pipe");
    EXPECT_FALSE(pipe.isFolder());
    EXPECT_EQ(pipe.Rec.Attr & faSysFile, faSysFile);
    // Reading a pipe waits for a writer that never comes: no tool may start on it.
    EXPECT_FALSE(fileInfoFor(pipe, "pipe").CanRead);
}

TEST_F(FileBrowser, DriveRootsLeadToTheVolumesFolder) {
    platform::testkit::TestBackend backend;
    platform::testkit::VirtualVolume v;
    v.letter = 'E';
    v.folder = dir_.path().string();
    backend.addVolume(v);
    EXPECT_EQ(resolveRoot(backend, "E:\\"), root_);
    EXPECT_EQ(resolveRoot(backend, "e:"), root_);
    EXPECT_EQ(resolveRoot(backend, "Q:\\"), "Q:\\");
    EXPECT_EQ(resolveRoot(backend, "/tmp"), "/tmp/");
    EXPECT_EQ(resolveRoot(backend, "/"), "/");
}
