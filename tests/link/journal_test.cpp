// The journal of paused print queues: its stored form, the folder it lives in, and
// how a process that wrote it is told from a later one with the same id.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "diversion_journal.h"
#include "file_journal_store.h"
#include "process_identity.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

DiversionRecord Sample() {
    DiversionRecord record;
    record.owner = {4321, "boot/77"};
    record.port = "/dev/ttyS0";
    record.entries = {{"rcpt", "localhost", "serial:/dev/ttyS0?baud=9600",
                       "Paused by Tessaly while it uses /dev/ttyS0 (pid 4321)"},
                      // A name in a single-byte code page, with a quote and a percent.
                      {"K\xFC"
                       "che \"50%\"",
                       "", "COM1", ""}};
    return record;
}

TEST(JournalText, ARecordComesBackExactlyAsItWasWritten) {
    std::string error;
    const auto back = DiversionJournal::Decode(DiversionJournal::Encode(Sample()), error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->owner, Sample().owner);
    EXPECT_EQ(back->port, Sample().port);
    EXPECT_EQ(back->entries, Sample().entries);
}

TEST(JournalText, ForeignDamagedAndUnknownVersionsAreRefusedWithTheReason) {
    const std::string good = DiversionJournal::Encode(Sample());
    std::string versionTwo = good;
    versionTwo.replace(versionTwo.find("\"version\": 1"), 12, "\"version\": 2");
    std::string noPid = good;
    noPid.replace(noPid.find("\"pid\": 4321"), 11, "\"pid\": -3");
    std::string badEscape = good;
    badEscape.replace(badEscape.find("rcpt"), 4, "rc%G");
    const struct {
        std::string text;
        const char* why;
    } cases[] = {
        {"", "not a Tessaly queue record"},
        {"\x01\x02 binary", "not a Tessaly queue record"},
        {R"({"format": "something-else", "version": 1})", "not a Tessaly queue record"},
        {"[1, 2, 3]", "not a Tessaly queue record"},
        {good.substr(0, good.size() / 2), "not a Tessaly queue record"},  // cut off
        {versionTwo, "another version"},
        {noPid, "damaged"},
        {badEscape, "damaged"},
        {R"({"format": "tessaly-queue-diversion", "version": 1, "owner": {"pid": 5,
             "start": "x"}, "port": "/dev/ttyS0", "queues": [{"name": ""}]})",
         "damaged"},
        {std::string(70000, ' ') + good, "too large"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(DiversionJournal::Decode(c.text, error)) << c.text.substr(0, 60);
        EXPECT_NE(error.find(c.why), std::string::npos) << error;
    }
}

TEST(JournalText, KeysAreReadableAndDistinctPortsGetDistinctKeys) {
    EXPECT_EQ(DiversionJournal::KeyFor("/dev/ttyS0", 12), "_dev_ttyS0.12");
    EXPECT_EQ(DiversionJournal::KeyFor("COM1", 12), "COM1.12");
    EXPECT_NE(DiversionJournal::KeyFor("/dev/a_b", 1), DiversionJournal::KeyFor("/dev/a/b", 1));
    EXPECT_EQ(DiversionJournal::KeyFor("/dev/../x y", 1), "_dev_.._x%20y.1");
}

struct FileStore : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        char pattern[] = "/tmp/journal.XXXXXX";
        dir = mkdtemp(pattern);
    }
    void TearDown() override { fs::remove_all(dir); }
};

TEST_F(FileStore, AJournalKeepsThisProcessRecordsPerPortAndRemovesThemWhenEmpty) {
    const fs::path folder = dir / "state/tessaly";
    DiversionJournal journal(std::make_unique<FileJournalStore>(folder.string()), {77, "b/1"});
    std::string error;
    ASSERT_TRUE(journal.Add("/dev/ttyS0", {"a", "", "serial:/dev/ttyS0", "n"}, error)) << error;
    ASSERT_TRUE(journal.Add("/dev/ttyS0", {"b", "", "serial:/dev/ttyS0", "n"}, error)) << error;
    ASSERT_TRUE(journal.Add("/dev/lp0", {"c", "", "parallel:/dev/lp0", "n"}, error)) << error;
    // The folders are made private to the user, the records too.
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(dir / "state").permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(folder / "_dev_ttyS0.77.journal").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);

    auto scan = journal.Read();
    ASSERT_EQ(scan.records.size(), 2u);
    EXPECT_TRUE(scan.problems.empty());
    for (const auto& record : scan.records) {
        EXPECT_EQ(record.owner, (ProcessIdentity{77, "b/1"}));
        EXPECT_EQ(record.entries.size(), record.port == "/dev/ttyS0" ? 2u : 1u) << record.port;
    }

    ASSERT_TRUE(journal.Remove("/dev/ttyS0", "a", error));
    ASSERT_TRUE(journal.Remove("/dev/lp0", "c", error));
    scan = journal.Read();
    ASSERT_EQ(scan.records.size(), 1u);
    EXPECT_EQ(scan.records[0].entries.size(), 1u);
    ASSERT_TRUE(journal.Remove("/dev/ttyS0", "b", error));
    EXPECT_TRUE(fs::is_empty(folder)) << "no record and no temporary file is left";
}

TEST_F(FileStore, AFolderThatCannotBeMadeIsAnErrorAndNothingIsRecorded) {
    std::ofstream(dir / "plain-file") << "x";
    DiversionJournal journal(
        std::make_unique<FileJournalStore>((dir / "plain-file/tessaly").string()), {77, "b/1"});
    std::string error;
    EXPECT_FALSE(journal.Add("/dev/ttyS0", {"a", "", "u", "n"}, error));
    EXPECT_NE(error.find("Not a directory"), std::string::npos) << error;
    EXPECT_TRUE(journal.Read().records.empty());

    DiversionJournal nowhere(std::make_unique<FileJournalStore>(""), {77, "b/1"});
    EXPECT_FALSE(nowhere.Add("/dev/ttyS0", {"a", "", "u", "n"}, error));
    EXPECT_NE(error.find("HOME"), std::string::npos) << error;
}

TEST_F(FileStore, StrangeFilesAreReportedWithoutWaitingOrFollowingLinks) {
    const fs::path folder = dir / "tessaly";
    fs::create_directories(folder);
    std::ofstream(folder / "garbage.journal") << "\x01\x02 not a record";
    std::ofstream(folder / "notes.txt") << "not named like a record: not looked at";
    ASSERT_EQ(mkfifo((folder / "pipe.journal").c_str(), 0600), 0);
    std::ofstream(dir / "elsewhere") << DiversionJournal::Encode(Sample());
    fs::create_symlink(dir / "elsewhere", folder / "link.journal");
    fs::create_directory(folder / "folder.journal");

    DiversionJournal journal(std::make_unique<FileJournalStore>(folder.string()), {77, "b/1"});
    const auto start = std::chrono::steady_clock::now();
    const auto scan = journal.Read();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(scan.records.empty());
    ASSERT_EQ(scan.problems.size(), 4u);
    for (const std::string& problem : scan.problems) {
        EXPECT_NE(problem.find(folder.string()), std::string::npos) << problem;
        EXPECT_NE(problem.find("tessaly-cli queues"), std::string::npos) << problem;
    }
    EXPECT_TRUE(fs::exists(folder / "garbage.journal")) << "what is not understood is kept";
}

TEST_F(FileStore, OnlyOneProgramAtATimeGivesBackWhatEndedRunsLeft) {
    FileJournalStore first(dir.string());
    FileJournalStore second(dir.string());
    ASSERT_TRUE(first.TryLock());
    EXPECT_FALSE(second.TryLock());
    first.Unlock();
    EXPECT_TRUE(second.TryLock());
    second.Unlock();
}

TEST(FileStoreFolder, FollowsXdgStateHomeAndElseTheUsersOrRootsPlace) {
    const char* saved = std::getenv("XDG_STATE_HOME");
    const std::string keep = saved ? saved : "";
    setenv("XDG_STATE_HOME", "/somewhere/state", 1);
    EXPECT_EQ(FileJournalStore::DefaultFolder(), "/somewhere/state/tessaly");
    setenv("XDG_STATE_HOME", "relative/is/ignored", 1);
    EXPECT_EQ(FileJournalStore::DefaultFolder(),
              geteuid() == 0 ? "/run/tessaly"
                             : std::string(std::getenv("HOME")) + "/.local/state/tessaly");
    if (saved) {
        setenv("XDG_STATE_HOME", keep.c_str(), 1);
    } else {
        unsetenv("XDG_STATE_HOME");
    }
}

TEST(ProcessIdentityTest, ARunningProcessIsToldFromAnEndedOneAndFromALaterOneWithItsPid) {
    const ProcessIdentity self = ThisProcess();
    EXPECT_EQ(self.pid, getpid());
    EXPECT_TRUE(StillRunning(self));
    EXPECT_EQ(ThisProcess(), self);

    // The same pid with another start time: a process that came later.
    ProcessIdentity reused = self;
    reused.start += "0";
    EXPECT_FALSE(StillRunning(reused));
    // A start from another boot.
    EXPECT_FALSE(
        StillRunning({self.pid, "another-boot" + self.start.substr(self.start.find('/'))}));
    EXPECT_FALSE(StillRunning({0, self.start}));
    EXPECT_FALSE(StillRunning({-1, self.start}));

    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    EXPECT_FALSE(StillRunning({child, self.start}));
    EXPECT_FALSE(MayRunOurProgram(child));
    // This test program is none of the kit's programs.
    EXPECT_FALSE(MayRunOurProgram(getpid()));
}

}  // namespace
}  // namespace tessaly
