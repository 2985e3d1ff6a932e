// The holder of the outside log library, with the stand-in library the build
// puts beside the test program (log.dll, natively log.so).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "DShowX/DSTrace.h"
#include "DebugCapture.h"
#include "LogStub.h"
#include "TempDir.h"
#include "TestProcess.h"

namespace {

using testsupport::HelperPath;
using testsupport::LogStub;
using testsupport::ProgramDir;
using testsupport::TempDir;

TEST(CLogLibrary, ConnectsWritesAndDisconnects) {
    LogStub stub;
    ASSERT_TRUE(stub.Loaded());
    {
        CLogLibrary lib;
        ILogObject* pLog = lib.GetLog();
        ASSERT_NE(nullptr, pLog);
        EXPECT_EQ("export\nconnect holder 0 0\n", stub.Take());
        const char text[] = "graph dump\r\n";
        pLog->Write((ULONG)strlen(text), text);
        EXPECT_EQ("write 12 graph dump\r\n\n", stub.Take());
    }
    EXPECT_EQ("disconnect\n", stub.Take());
}

TEST(CLogLibrary, FailingOrThrowingLibraryGivesNoLogObject) {
    LogStub stub;
    ASSERT_TRUE(stub.Loaded());
    for (const char* mode : {"fail", "throw"}) {
        // Where the exception cannot reach us it ends the process inside the
        // library's own run-time, as an access violation there would.
        if (std::string(mode) == "throw" && !testsupport::ExceptionsCrossModules())
            continue;
        stub.SetMode(mode);
        CLogLibrary lib;
        EXPECT_EQ(nullptr, lib.GetLog()) << mode;
    }
    // Nothing is disconnected that was never connected.
    EXPECT_EQ(std::string::npos, stub.Take().find("disconnect"));
}

TEST(CLogLibrary, LogObjectThatKeepsItsPointerFailsTheUnloadCheck) {
    LogStub stub;
    ASSERT_TRUE(stub.Loaded());
    stub.SetMode("keep");
    testsupport::ExpectAsserts expect;
    { CLogLibrary lib; }
    EXPECT_TRUE(expect.Saw("NULL == m_plog"));
}

TEST(GetLogObject, NullOutPointerIsRefused) {
    EXPECT_EQ(E_POINTER, GetLogObject(NULL));
}

// Where the library is looked for, each case in a fresh process.
class LogLibrarySearch : public ::testing::Test {
protected:
    std::string Copy(const std::string& from, const TempDir& dir, const std::string& name) {
        std::string to = dir.File(name);
        EXPECT_TRUE(testsupport::CopyFileTo(from, to)) << from;
        return to;
    }
    std::string ProbeName() const { return HelperPath("logprobe").substr(ProgramDir().size()); }
    static std::string StubFile() { return testsupport::ModuleFile("log"); }
    static std::string StubPath() { return ProgramDir() + StubFile(); }
    static std::string ComponentFile() { return testsupport::ModuleFile("OrvexFileSource"); }
};

TEST_F(LogLibrarySearch, FoundBesideTheExecutable) {
    TempDir dir;
    std::string probe = Copy(HelperPath("logprobe"), dir, ProbeName());
    Copy(StubPath(), dir, StubFile());
    EXPECT_EQ(0, testsupport::RunProcess({probe, "logobject"}));
}

TEST_F(LogLibrarySearch, NeverTakenFromTheCurrentDirectory) {
    TempDir exeDir, cwd;
    std::string probe = Copy(HelperPath("logprobe"), exeDir, ProbeName());
    Copy(StubPath(), cwd, StubFile());
    EXPECT_EQ(1, testsupport::RunProcess({probe, "logobject"}, {}, cwd.Path()));
}

TEST_F(LogLibrarySearch, ComponentConnectsAtLoadAndDisconnectsAtUnload) {
    TempDir exeDir, componentDir;
    std::string probe = Copy(HelperPath("logprobe"), exeDir, ProbeName());
    Copy(StubPath(), exeDir, StubFile());
    std::string component = Copy(ProgramDir() + ComponentFile(), componentDir, ComponentFile());
    const std::string events = exeDir.File("events.txt");
    EXPECT_EQ(0, testsupport::RunProcess({probe, "load", componentDir.File("OrvexFileSource.dll")},
                                         {"LOGSTUB_FILE=" + events}));
    EXPECT_EQ("export\nconnect holder 0 0\ndisconnect\n", testsupport::ReadWholeFile(events));
}

TEST_F(LogLibrarySearch, NotTakenFromTheComponentsDirectory) {
    TempDir exeDir, componentDir;
    std::string probe = Copy(HelperPath("logprobe"), exeDir, ProbeName());
    Copy(StubPath(), componentDir, StubFile());
    Copy(ProgramDir() + ComponentFile(), componentDir, ComponentFile());
    const std::string events = exeDir.File("events.txt");
    EXPECT_EQ(0, testsupport::RunProcess({probe, "load", componentDir.File("OrvexFileSource.dll")},
                                         {"LOGSTUB_FILE=" + events}));
    EXPECT_EQ("", testsupport::ReadWholeFile(events));
}

}  // namespace
