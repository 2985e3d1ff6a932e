// The filter among other programs, through its COM interfaces: other
// readers of a finished recording, a recorder that starts again under the
// same name, one that appends after closing, one that stalls, a current
// directory that changes, pipes and devices, and reads during a flush.
// Under Wine the sharing modes are the platform's own.
#include <windows.h>
#include <dshow.h>
#include <uuids.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "CoFileSource.h"
#include "FileReadProbe.h"
#include "GraphStubs.h"
#include "PinTestSupport.h"
#include "TempDir.h"
#include "TestProcess.h"

using namespace testsupport;

namespace {

const HRESULT kPastEnd = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
const auto kHang = std::chrono::seconds(8);  // what no answer may take

template <class T>
bool Returns(std::future<T>& f) {
    return f.wait_for(kHang) == std::future_status::ready;
}

// The filter as an application gets it, in a stand-in graph, seeking off.
class Neighbours : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, CComCreator<CCoFileSource>::CreateInstance(NULL, IID_IBaseFilter,
                                                                   reinterpret_cast<void**>(&m_pFilter)));
        m_pFilter->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&m_pLoad));
        m_pFilter->QueryInterface(IID_IOrvexFileSource, reinterpret_cast<void**>(&m_pControl));
        m_pControl->SetSeekingSupported(FALSE);
        m_graph.m_joined.push_back(m_pFilter);
        ASSERT_EQ(S_OK, m_pFilter->JoinFilterGraph(&m_graph, L"Source"));
        IPin* pPin = NULL;
        ASSERT_EQ(S_OK, m_pFilter->FindPin(L"Output", &pPin));
        pPin->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&m_pReader));
        pPin->Release();
        m_pPin = static_cast<CCoFileSource*>(m_pFilter)->m_apOut;
    }
    void TearDown() override {
        m_pReader->Release();
        m_pControl->Release();
        m_pLoad->Release();
        m_pFilter->JoinFilterGraph(NULL, NULL);
        EXPECT_EQ(0u, m_pFilter->Release());
    }
    HRESULT Load(const std::string& path) { return m_pLoad->Load(Widen(path).c_str(), NULL); }
    std::future<HRESULT> LoadAsync(const std::string& path) {
        return std::async(std::launch::async, [this, path] { return Load(path); });
    }
    std::future<HRESULT> ReadAsync(LONGLONG llPos, std::vector<BYTE>& buf) {
        return std::async(std::launch::async, [this, llPos, &buf] {
            return m_pReader->SyncRead(llPos, (LONG)buf.size(), buf.data());
        });
    }
    HRESULT Length(LONGLONG* pTotal) {
        LONGLONG llAvailable = 0;
        return m_pReader->Length(pTotal, &llAvailable);
    }
    std::wstring CurFile(GUID* pSubtype = NULL) {
        LPOLESTR psz = NULL;
        AM_MEDIA_TYPE mt;
        memset(&mt, 0xCD, sizeof(mt));
        EXPECT_EQ(S_OK, m_pLoad->GetCurFile(&psz, &mt));
        if (!psz) {
            EXPECT_EQ(0, mt.lSampleSize | mt.cbFormat | (int)(mt.pbFormat != NULL)) << "cleared media type";
        }
        if (pSubtype)
            *pSubtype = mt.subtype;
        CoTaskMemFree(mt.pbFormat);
        std::wstring name(psz ? psz : L"");
        CoTaskMemFree(psz);
        return name;
    }
    void StartRecorder(ChildProcess& recorder, const std::string& path, uint64_t seed, const char* size,
                       const char* rate, const char* pause = NULL) {
        std::vector<std::string> args = {HelperPath("recorder"),
                                         path,
                                         "--seed",
                                         std::to_string(seed),
                                         "--size",
                                         size,
                                         "--rate",
                                         rate,
                                         "--chunk",
                                         "20000"};
        if (pause)
            args.insert(args.end(), {"--pause", pause});
        ASSERT_TRUE(recorder.Start(args));
        ASSERT_TRUE(
            readertest::WaitUntil([&] { return ProbeForWriter(path) == ERROR_SHARING_VIOLATION; }, 30000));
    }

    RegistrySandbox m_registry;
    TempDir m_dir;
    StubGraph m_graph;
    IBaseFilter* m_pFilter = NULL;
    IFileSourceFilter* m_pLoad = NULL;
    IOrvexFileSource* m_pControl = NULL;
    IAsyncReader* m_pReader = NULL;
    CFileSourceOutput* m_pPin = NULL;
};

// Players, thumbnailers and scanners open a recording for reading, most of
// them without sharing writes: a finished recording stays finished.
TEST_F(Neighbours, OtherReadersDoNotMakeAFinishedRecordingLive) {
    const std::string path = m_dir.File("finished.mpg");
    readertest::GrowTo(path, 2000000);
    Backdate(path);
    for (const char* share : {"r", "rd", "rw"}) {
        ChildProcess reader;
        ASSERT_TRUE(reader.Start({HelperPath("holdread"), path, "60000", share}));
        ASSERT_TRUE(readertest::WaitUntil([&] { return std::filesystem::exists(path + ".held"); }, 30000));
        auto load = LoadAsync(path);
        ASSERT_TRUE(Returns(load)) << share;
        ASSERT_EQ(S_OK, load.get());
        LONGLONG llTotal = 0;
        EXPECT_EQ(S_OK, Length(&llTotal)) << share;
        EXPECT_EQ(2000000, llTotal);
        std::vector<BYTE> buf(65536);
        auto read = ReadAsync(2000000 - 1000, buf);
        ASSERT_TRUE(Returns(read)) << share;
        EXPECT_EQ(S_FALSE, read.get());
        EXPECT_EQ(kPastEnd, m_pReader->SyncRead(2000001, 16, buf.data()));
        reader.Kill();
        std::filesystem::remove(path + ".held");
    }
}

// Loaded by a relative name, the recording is followed to its end after
// the current directory has changed (the page's file dialog changes it).
TEST_F(Neighbours, ARelativeNameFollowsItsFileAfterTheDirectoryChanges) {
    const std::string path = m_dir.File("rec.mpg");
    ChildProcess recorder;
    StartRecorder(recorder, path, readertest::kSeed, "2500000", "1000000");
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(m_dir.Path());
    const HRESULT hr = Load("rec.mpg");
    std::filesystem::current_path(cwd);
    ASSERT_EQ(S_OK, hr);
    EXPECT_NE(L"rec.mpg", CurFile());
    LONGLONG llPos = 0;
    std::vector<BYTE> buf(65536);
    for (HRESULT hrRead = S_OK; hrRead == S_OK; llPos += (LONGLONG)buf.size()) {
        hrRead = m_pReader->SyncRead(llPos, (LONG)buf.size(), buf.data());
        const size_t cb =
            (size_t)std::min<LONGLONG>((LONGLONG)buf.size(), std::max<LONGLONG>(0, 2500000 - llPos));
        ASSERT_EQ(cb, recorder::FirstMismatch(readertest::kSeed, (uint64_t)llPos, buf.data(), cb)) << llPos;
    }
    EXPECT_GT(llPos, 2500000);  // not cut off at the size it had when the directory changed
    EXPECT_EQ(0, recorder.Wait(30000));
}

// A recorder that starts again writes a new file under the name: the open
// one is finished at its size, however long the new one grows.
TEST_F(Neighbours, ARecordingReplacedUnderItsNameIsFinishedAtItsSize) {
    const std::string path = m_dir.File("rec.mpg");
    ChildProcess first, second;
    StartRecorder(first, path, 1, "1000000", "2000000");
    ASSERT_EQ(S_OK, Load(path));
    ASSERT_EQ(0, first.Wait(30000));
    // Our handles share deletion: the recorder may move its file away.
    std::filesystem::rename(path, path + ".old");
    StartRecorder(second, path, 2, "50000000", "1000000");
    std::vector<BYTE> buf(65536);
    auto read = ReadAsync(1000000 - 1000, buf);
    ASSERT_TRUE(Returns(read));
    EXPECT_EQ(S_FALSE, read.get());
    EXPECT_EQ(1000u, recorder::FirstMismatch(1, 1000000 - 1000, buf.data(), 1000));
    LONGLONG llTotal = 0;
    EXPECT_EQ(S_OK, Length(&llTotal));
    EXPECT_EQ(1000000, llTotal);
    second.Kill();
}

// A recorder that closes its file and opens it again to append: the end
// found after a close is not final, and a short gap ends nothing.
TEST_F(Neighbours, AFinishedRecordingThatGrowsAgainIsFollowed) {
    const std::string path = m_dir.File("rec.mpg");
    readertest::GrowTo(path, 1000000);
    Backdate(path);
    ASSERT_EQ(S_OK, Load(path));
    m_pControl->SetBuffSize(256 * 1024);
    std::vector<BYTE> buf(65536);
    EXPECT_EQ(S_FALSE, m_pReader->SyncRead(1000000, (LONG)buf.size(), buf.data()));

    const uint64_t kEnd = 3000000;
    std::thread writer([&] {
        auto append = [&](uint64_t to) {
            std::ofstream out(path, std::ios::binary | std::ios::app);
            for (uint64_t size = std::filesystem::file_size(path); size < to; size += 50000) {
                const std::vector<BYTE> v = readertest::Content(readertest::kSeed, size, 50000);
                out.write((const char*)v.data(), (std::streamsize)v.size()).flush();
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
            }
        };
        append(2000000);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // closed, then opened again
        append(kEnd);
    });
    ASSERT_TRUE(readertest::WaitUntil([&] { return std::filesystem::file_size(path) > 1000000; }));
    LONGLONG llPos = 1000000;
    for (HRESULT hr = S_OK; hr == S_OK; llPos += (LONGLONG)buf.size()) {
        hr = m_pReader->SyncRead(llPos, (LONG)buf.size(), buf.data());
        const size_t cb =
            (size_t)std::min<LONGLONG>((LONGLONG)buf.size(), std::max<LONGLONG>(0, kEnd - llPos));
        ASSERT_EQ(cb, recorder::FirstMismatch(readertest::kSeed, (uint64_t)llPos, buf.data(), cb)) << llPos;
    }
    writer.join();
    EXPECT_GT(llPos, (LONGLONG)kEnd);
    LONGLONG llTotal = 0;
    EXPECT_EQ(S_OK, Length(&llTotal));
    EXPECT_EQ((LONGLONG)kEnd, llTotal);
}

// A recorder that stalls before the admission size: Load ends, and the other
// calls answer meanwhile; a newer Load ends a waiting one.
TEST_F(Neighbours, LoadOfAStalledRecordingEndsAndOthersAnswerMeanwhile) {
    const std::string path = m_dir.File("stalled.mpg");
    readertest::GrowTo(path, 100000);
    ChildProcess holder;
    ASSERT_TRUE(holder.Start({HelperPath("holdwrite"), path, "60000"}));
    ASSERT_TRUE(
        readertest::WaitUntil([&] { return ProbeForWriter(path) == ERROR_SHARING_VIOLATION; }, 30000));
    m_pPin->SetAdmissionStallTime(1500);
    auto load = LoadAsync(path);
    ASSERT_TRUE(readertest::WaitUntil([&] { return !CurFile().empty(); }));
    LONGLONG llSize = 0, llTotal = 0;
    EXPECT_EQ(S_OK, m_pControl->GetFileSize(&llSize, NULL));
    EXPECT_TRUE(readertest::WaitUntil([&] { return Length(&llTotal) == VFW_S_ESTIMATED; }));
    ASSERT_TRUE(Returns(load));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT), load.get());
    EXPECT_EQ(L"", CurFile());
    EXPECT_EQ(E_FAIL, Length(&llTotal));

    m_pPin->SetAdmissionStallTime(ADMISSION_STALL_TIME);
    load = LoadAsync(path);
    ASSERT_TRUE(readertest::WaitUntil([&] { return !CurFile().empty(); }));
    const std::string other = m_dir.File("other.mpg");
    readertest::GrowTo(other, 5000);
    Backdate(other);
    EXPECT_EQ(S_OK, Load(other));
    ASSERT_TRUE(Returns(load));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED), load.get());
    EXPECT_EQ(Widen(other), CurFile());
    holder.Kill();
}

// Neither a pipe nor a device is read: a first read would block.
TEST_F(Neighbours, PipesAndDevicesAreRefusedUnread) {
    TestPipe pipe(m_dir.Path());
    for (const std::string& name : {pipe.Name(), NullDeviceName()}) {
        auto load = LoadAsync(name);
        ASSERT_TRUE(Returns(load)) << name;
        EXPECT_TRUE(FAILED(load.get())) << name;
        EXPECT_EQ(L"", CurFile());
    }
}

// A recording loaded in its first instant: its type comes from its first
// bytes once the admission wait is over.
TEST_F(Neighbours, TheSubtypeIsTakenOnceTheAdmissionWaitEnds) {
    const std::string path = m_dir.File("young.mpg");
    const std::string pack("\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3", 13);
    std::ofstream out(path, std::ios::binary);
    out.write(pack.data(), 5).flush();
    auto load = LoadAsync(path);
    ASSERT_TRUE(readertest::WaitUntil([&] { return !CurFile().empty(); }));
    out.write(pack.data() + 5, 8);
    out.write(std::string(800000, '\0').data(), 800000).flush();
    ASSERT_TRUE(Returns(load));
    EXPECT_EQ(S_OK, load.get());
    GUID subtype = GUID_NULL;
    CurFile(&subtype);
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_MPEG2_PROGRAM, subtype));
}

// A read that starts while the pin is flushed answers what the file holds
// at once; after EndFlush reads wait again.
TEST_F(Neighbours, AReadDuringAFlushDoesNotWait) {
    const std::string path = m_dir.File("rec.mpg");
    ChildProcess recorder;
    // 900,000 bytes, then nothing more for a minute.
    StartRecorder(recorder, path, readertest::kSeed, "1000000", "2000000", "900000:60000");
    ASSERT_EQ(S_OK, Load(path));
    ASSERT_TRUE(readertest::WaitUntil([&] { return std::filesystem::file_size(path) >= 900000; }));
    std::vector<BYTE> buf(4096);
    m_pReader->BeginFlush();
    auto read = ReadAsync(800000, buf);
    ASSERT_TRUE(Returns(read));
    EXPECT_TRUE(SUCCEEDED(read.get()));
    m_pReader->EndFlush();
    // Across the end (the filter is stopped: a read waits for its own bytes).
    read = ReadAsync(900000 - 2048, buf);
    EXPECT_TRUE(readertest::WaitUntil([&] {
        DWORD dw = 0;
        return m_pControl->GetWaitSize(&dw) == S_OK && dw;
    }));
    m_pReader->BeginFlush();
    ASSERT_TRUE(Returns(read));
    m_pReader->EndFlush();
    recorder.Kill();
}

}  // namespace
