// How a file gets into the pin: its media type from the first 13 bytes,
// names that do not convert exactly, finished empty and missing files, and
// the admission of a file a writer process still grows.
#include <windows.h>
#include <dshow.h>
#include <uuids.h>

#include <gtest/gtest.h>

#include <chrono>
#include <atomic>
#include <filesystem>
#include <thread>

#include "DebugCapture.h"
#include "FileReadProbe.h"
#include "PinTestSupport.h"
#include "TempDir.h"
#include "TestProcess.h"

using namespace testsupport;

namespace {

// The pin's file name and media subtype, as GetCurFile reports them.
std::pair<std::wstring, GUID> CurFile(PinUnderTest& pin) {
    LPOLESTR pszName = NULL;
    AM_MEDIA_TYPE mt = {};
    EXPECT_EQ(S_OK, pin->GetCurFile(&pszName, &mt));
    std::pair<std::wstring, GUID> result(pszName ? pszName : L"", mt.subtype);
    CoTaskMemFree(pszName);
    return result;
}

TEST(PinAdmission, MediaTypeFromTheFirst13BytesAndFilesThatCannotPlay) {
    TempDir dir;
    PinUnderTest pin;
    const std::string mpeg2("\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3", 13);
    const struct {
        std::string bytes;
        GUID subtype;
    } cases[] = {
        {mpeg2, MEDIASUBTYPE_MPEG2_PROGRAM},
        {mpeg2.substr(0, 12), GUID_NULL},
        {std::string("\x00\x00\x01\xBA\x21\x00\x01\x00\x01\x80\x00\x01\x00", 13), GUID_NULL},  // MPEG-1 pack
        {std::string("\x00\x00\x01\xB3\x44\x00\x04\x00\x04\x01\x01\x89\xC3", 13), GUID_NULL},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string path = dir.Write("f" + std::to_string(n++) + ".mpg", c.bytes);
        ClearDebugText();
        ASSERT_EQ(S_OK, pin.Load(path));
        const auto cur = CurFile(pin);
        EXPECT_EQ(Widen(path), cur.first);
        EXPECT_TRUE(IsEqualGUID(c.subtype, cur.second)) << n;
        EXPECT_FALSE(pin->IsWriting());
    }
    EXPECT_NE(std::string::npos, DebugText().find("Invalid ( not MPEG ) packet start code: [0x000001B3]"));

    EXPECT_EQ(E_INVALIDARG, pin.Load(dir.Write("empty.mpg", "")));
    EXPECT_EQ(L"", CurFile(pin).first);
    EXPECT_EQ(-1, pin->GetFileLength(FALSE));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), pin.Load(dir.File("missing.mpg")));
    EXPECT_EQ(L"", CurFile(pin).first);
}

TEST(PinAdmission, NamesWithoutAnExactAnsiFormAreRefused) {
    TempDir dir;
    PinUnderTest pin;
    const std::string path = dir.Write("a.mpg", "data");
    ASSERT_EQ(S_OK, pin.Load(path));

    // A lone surrogate has no form in any code page.
    std::wstring broken = Widen(dir.File("b"));
    broken.push_back((wchar_t)0xD800);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION), pin->SetFileName(broken.c_str(), NULL));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE),
              pin->SetFileName(Widen(dir.File(std::string(300, 'x'))).c_str(), NULL));
    // Refused names change nothing.
    EXPECT_EQ(Widen(path), CurFile(pin).first);

    // Where the code page would make "A.mpg" of this name, that file must
    // not be opened instead.
    dir.Write("A.mpg", "other");
    const std::wstring bestFit = Widen(dir.Path()) + L"\x0100.mpg";
    EXPECT_TRUE(FAILED(pin->SetFileName(bestFit.c_str(), NULL)));
    EXPECT_NE(Widen(dir.File("A.mpg")), CurFile(pin).first);
}

// Starts the recorder on path and waits until it holds the file for writing
// (a Wine process can take seconds to start on a busy machine).
void StartRecorder(ChildProcess& recorder, const std::string& path, const char* size, const char* rate) {
    ASSERT_TRUE(recorder.Start(
        {HelperPath("recorder"), path, "--seed", "7", "--size", size, "--rate", rate, "--chunk", "20000"}));
    ASSERT_TRUE(
        readertest::WaitUntil([&] { return ProbeForWriter(path) == ERROR_SHARING_VIOLATION; }, 30000));
}

TEST(PinAdmission, AWriterHoldsTheCallerUntilThresholdOrClose) {
    TempDir dir;
    PinUnderTest pin;
    {
        // Returns once 786,432 bytes are there, with the writer still going.
        const std::string path = dir.File("long.bin");
        ChildProcess recorder;
        StartRecorder(recorder, path, "1400000", "500000");
        ASSERT_EQ(S_OK, pin.Load(path));
        EXPECT_GE(pin->GetFileLength(FALSE), GROWTH_THRESHOLD);
        EXPECT_TRUE(pin->IsWriting());
        EXPECT_EQ(ERROR_SHARING_VIOLATION, ProbeForWriter(path));
        // A reader who may not write the recording (it belongs to a recorder
        // running as a service) still sees the writer.
        std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                               std::filesystem::perms::group_read |
                                               std::filesystem::perms::others_read);
        EXPECT_FALSE(pin->IsWriteComplete());
        EXPECT_EQ(0, recorder.Wait(20000));
        EXPECT_TRUE(pin->IsWriteComplete());
    }
    {
        // A writer that stops short of the threshold ends the wait when it
        // closes the file.
        const std::string path = dir.File("short.bin");
        ChildProcess recorder;
        StartRecorder(recorder, path, "300000", "200000");
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(S_OK, pin.Load(path));
        EXPECT_EQ(0, recorder.Wait(10000));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
        EXPECT_FALSE(pin->IsWriting());
        EXPECT_EQ(300000, pin->GetFileLength(TRUE));
    }
}

// A recorder starting again moves a new file over the name while a player
// loads it: every Load reads one file only, its header and its blocks (read
// ahead through a handle of their own) alike.
TEST(PinAdmission, ANameRenamedOverDuringLoadIsReadAsOneFile) {
    TempDir dir;
    const std::string path = dir.File("rec.bin"), next = dir.File("next.bin"), old = dir.File("old.bin");
    const LONGLONG kSize = 3 * PIN_BLOCK_SIZE;
    const uint64_t kOther = readertest::kSeed + 1;
    readertest::GrowTo(path, kSize);
    std::atomic<bool> bStop{false};
    std::thread renamer([&] {
        for (int i = 0; !bStop; ++i) {
            std::error_code ec;
            std::filesystem::remove(next, ec);
            readertest::GrowTo(next, kSize, i % 2 ? readertest::kSeed : kOther);
            // Over the name, or (where an open file cannot be replaced) the
            // old one moved away first.
            std::filesystem::rename(next, path, ec);
            if (ec) {
                std::filesystem::remove(old, ec);
                std::filesystem::rename(path, old, ec);
                std::filesystem::rename(next, path, ec);
            }
        }
    });
    PinUnderTest pin;
    std::vector<BYTE> buf((size_t)kSize);
    int nLoaded = 0, nMixed = 0;
    for (int i = 0; i < 200 && nLoaded < 20; ++i) {
        if (pin.Load(path) != S_OK)
            continue;  // the name led to no file for a moment
        ++nLoaded;
        // Twice: the second time the read-ahead thread has cached blocks.
        for (int pass = 0; pass < 2; ++pass) {
            std::fill(buf.begin(), buf.end(), 0xCD);
            EXPECT_EQ(S_OK, pin->SyncRead(0, (LONG)kSize, buf.data()));
            if (recorder::FirstMismatch(readertest::kSeed, 0, buf.data(), buf.size()) != buf.size() &&
                recorder::FirstMismatch(kOther, 0, buf.data(), buf.size()) != buf.size())
                ++nMixed;
        }
    }
    bStop = true;
    renamer.join();
    EXPECT_EQ(20, nLoaded);
    EXPECT_EQ(0, nMixed);
}

}  // namespace
