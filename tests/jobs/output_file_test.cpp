// What the output file does when its name changes while it is written: someone else's file is
// never replaced, and nothing of ours is left.

#include "jobs/output_file.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <sys/stat.h>

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

TEST(OutputFile, ANameTakenOrChangedWhileWritingIsLeftToItsNewOwner) {
    fixtures::TempDir dir;
    platform::Backend& system = platform::systemBackend();
    const std::string out = dir.file("out");
    struct Case {
        const char* what;
        bool earlier;                    // a file stands at the name when the output starts
        std::function<void()> meanwhile; // what another program does while we write
    };
    const std::vector<Case> cases{
        {"a new name taken", false, [&] { fixtures::writeFile(out, {'t'}); }},
#ifndef _WIN32
        // On Windows the name of a file held open stays taken until it is let go: no one can
        // replace it meanwhile. A link needs a privilege there.
        {"an earlier file replaced", true,
         [&] {
             fs::remove(out);
             fixtures::writeFile(out, {'t'});
         }},
        {"an earlier file replaced by a link", true,
         [&] {
             fs::remove(out);
             fixtures::writeFile(dir.file("theirs"), {'t'});
             fs::create_symlink(dir.file("theirs"), out);
         }},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(out);
        if (c.earlier) fixtures::writeFile(out, {'e'});
        auto file = jobs::OutputFile::create(system, out, jobs::Existing::Replace);
        ASSERT_TRUE(file);
        ASSERT_EQ(*(*file)->stream().write("ours", 4), 4);
        c.meanwhile();
        EXPECT_FALSE((*file)->commit());
        file->reset();
        EXPECT_EQ(fixtures::readFile(out), Bytes{'t'});
        fs::remove(dir.file("theirs"));
        EXPECT_EQ(fixtures::namesIn(dir.path()), std::vector<std::string>{"out"})
            << "nothing of ours is left";
    }
}

// In place: an earlier regular file is written where it stands, nothing cut and nothing beside
// it; anything else at the name is refused and left as it was.
TEST(OutputFile, UpdateWritesOnlyAnEarlierRegularFileInPlace) {
    fixtures::TempDir dir;
    const std::string out = dir.file("out"), theirs = dir.file("theirs");
    const std::vector<std::pair<const char*, std::function<void()>>> cases{
        {"a file",
         [&] {
             fixtures::writeFile(out, Bytes{'a', 'b', 'c', 'd'});
         }},
        {"no file", [] {}},
#ifndef _WIN32
        {"a link", [&] { fs::create_symlink(theirs, out); }},
#endif
        {"a folder", [&] { fs::create_directory(out); }},
#ifndef _WIN32 // no named pipes in a Windows folder
        {"a named pipe", [&] { ::mkfifo(out.c_str(), 0600); }},
#endif
    };
    for (const auto& [what, make] : cases) {
        SCOPED_TRACE(what);
        fs::remove_all(out);
        fixtures::writeFile(theirs, {'t'});
        make();
        auto opened = jobs::OutputFile::create(platform::systemBackend(), out, jobs::Existing::Update);
        ASSERT_EQ(bool(opened), fs::is_regular_file(fs::symlink_status(out)));
        if (opened) {
            EXPECT_EQ(*(*opened)->stream().writeAt(1, "XY", 2), 2);
            EXPECT_TRUE((*opened)->commit());
            opened->reset(); // a writer on Windows shares the file with no one
            EXPECT_EQ(fixtures::readFile(out), (Bytes{'a', 'X', 'Y', 'd'}));
        }
        EXPECT_EQ(fixtures::readFile(theirs), Bytes{'t'});
        EXPECT_EQ(fixtures::namesIn(dir.path()).size(), fs::exists(fs::symlink_status(out)) ? 2u : 1u);
    }
}

} // namespace
