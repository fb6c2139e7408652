// The download-engine binding: the interface blocks, and EnsureDownloadEngine
// against small fake engines copied into a work folder.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/down_wrapper.h"
#include "core/fixed_texts.h"
#include "core/tarvel_app.h"
#include "support/program_runner.h"
#include "support/test_files.h"

namespace {

template <class T>
int IntAt(const T& block, size_t offset) {
    int v;
    memcpy(&v, reinterpret_cast<const char*>(&block) + offset, sizeof(v));
    return v;
}

TEST(DownloadTaskParams, PresetsSitAtTheirOffsets) {
    DownloadTaskParams* p = new DownloadTaskParams;
    memset(p, 0xCC, sizeof(*p));
    InitDownloadTaskParams(*p);
    const struct {
        size_t offset;
        int value;
    } ints[] = {{0, 0}, {18096, 0}, {18356, 0}, {18360, 5}, {18364, 0}, {18368, 1}};
    for (const auto& c : ints) EXPECT_EQ(c.value, IntAt(*p, c.offset)) << c.offset;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(p);
    for (size_t i : {4u, 16531u, 16532u, 17571u, 17572u, 18095u, 18100u, 18355u, 18372u, 26563u})
        EXPECT_EQ(0, bytes[i]) << i;
    delete p;
}

TEST(DownloadTaskParams, TextsAreCopiedWithinTheirFields) {
    DownloadTaskParams* p = new DownloadTaskParams;
    InitDownloadTaskParams(*p);
    const char* base = reinterpret_cast<const char*>(p);
    ASSERT_TRUE(SetDownloadTaskTexts(*p, L"http://h/f.iso", L"f.iso", L"D:\\data"));
    EXPECT_STREQ(L"http://h/f.iso", reinterpret_cast<const wchar_t*>(base + 4));
    EXPECT_STREQ(L"f.iso", reinterpret_cast<const wchar_t*>(base + 16532));
    EXPECT_STREQ(L"D:\\data", reinterpret_cast<const wchar_t*>(base + 17572));

    // The longest text of each field fits; one more character does not.
    struct Case {
        int field;  // 0 url, 1 name, 2 folder
        int longest;
    } cases[] = {{0, 8263}, {1, 519}, {2, 261}};
    for (const Case& c : cases) {
        for (int extra = 0; extra <= 1; ++extra) {
            std::wstring text(c.longest + extra, L'a');
            const wchar_t* t[3] = {L"u", L"n", L"f"};
            t[c.field] = text.c_str();
            bool fits = SetDownloadTaskTexts(*p, t[0], t[1], t[2]);
            EXPECT_EQ(extra == 0, fits) << c.field << " " << c.longest + extra;
            if (!fits) {
                EXPECT_EQ(0, p->sourceUrl[0]);
                EXPECT_EQ(0, p->fileName[0]);
                EXPECT_EQ(0, p->saveFolder[0]);
            }
        }
    }
    EXPECT_EQ(5, p->option3) << "the texts never reach the integers";
    EXPECT_EQ(1, p->option5);
    delete p;
}

TEST(DownloadTaskInfo, FieldsSitAtTheirOffsets) {
    DownloadTaskInfo info;
    memset(&info, 0, sizeof(info));
    info.status = 3;
    info.code = 9;
    info.totalBytes = 0x123456789LL;
    info.speed = 4321;
    EXPECT_EQ(3, IntAt(info, 0));
    EXPECT_EQ(9, IntAt(info, 4));
    EXPECT_EQ(0x23456789, IntAt(info, 1048));
    EXPECT_EQ(1, IntAt(info, 1052));
    EXPECT_EQ(4321, IntAt(info, 1152));
}

// How often the fake engine's initialise (0) or uninitialise (1) ran; -1 when
// the library is not a fake.
int FakeCount(const DownWrapper& engine, int which) {
    typedef int(__cdecl * CountFn)(int);
    CountFn count = reinterpret_cast<CountFn>(reinterpret_cast<void*>(GetProcAddress(engine.m_module, "FakeCount")));
    return count ? count(which) : -1;
}

class EnsureDownloadEngineTest : public testing::Test {
protected:
    void SetUp() override {
        m_app = new CTarvelApp;
        m_app->m_workFolder = MakeTempFolder(L"work").c_str();
        SetWorkFolderState(true, TRUE);
    }
    // As PrepareWorkFolder leaves it: whether this process created the work
    // folder, and what its unpack thread said at its end.
    void SetWorkFolderState(bool created, BOOL unpacked) {
        m_app->m_workFolderCreated = created;
        if (!m_app->m_toolsReady) m_app->m_toolsReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_app->FinishUnpack(unpacked);
    }
    void TearDown() override {
        CString folder = m_app->m_workFolder;
        m_app->ExitInstance();  // uninitialises and unloads a bound engine
        EXPECT_EQ(nullptr, m_app->m_downloadEngine);
        delete m_app;
        RemoveTree(folder.GetString());
    }
    // Puts a fake engine into the work folder under the engine's file name.
    void Install(const wchar_t* variant) {
        std::wstring source = TestProgramDirectory() + L"\\fake_engine_" + variant + L".dll";
        std::wstring target = std::wstring(m_app->m_workFolder.GetString()) + L"\\" + FixedText::kEngineLibraryName;
        ASSERT_TRUE(CopyFileW(source.c_str(), target.c_str(), FALSE))
            << source.c_str() << " -> " << target.c_str() << ": " << GetLastError();
    }
    CTarvelApp* m_app = nullptr;
};

TEST_F(EnsureDownloadEngineTest, UnusableEnginesLeaveNoBindingAndALaterCallRetries) {
    // No library at all.
    EXPECT_EQ(0, m_app->EnsureDownloadEngine());
    EXPECT_EQ(nullptr, m_app->m_downloadEngine);
    // A library without the initialise entry, then one whose initialise says no:
    // each call tries again and keeps nothing.
    for (const wchar_t* variant : {L"noinit", L"initfails"}) {
        Install(variant);
        EXPECT_EQ(0, m_app->EnsureDownloadEngine()) << variant;
        EXPECT_EQ(nullptr, m_app->m_downloadEngine) << variant;
        // The failed binding was unloaded, so the file can be replaced.
        std::wstring path = std::wstring(m_app->m_workFolder.GetString()) + L"\\" + FixedText::kEngineLibraryName;
        EXPECT_TRUE(DeleteFileW(path.c_str())) << variant;
    }
    // Now a working engine: the next call binds it.
    Install(L"ok");
    ASSERT_EQ(1, m_app->EnsureDownloadEngine());
    ASSERT_NE(nullptr, m_app->m_downloadEngine);
    DownWrapper* bound = m_app->m_downloadEngine;
    EXPECT_EQ(1, m_app->EnsureDownloadEngine());
    EXPECT_EQ(bound, m_app->m_downloadEngine) << "bound once";
    EXPECT_EQ(1, FakeCount(*bound, 0));
}

// A library at the engine's name in a folder that this process did not
// create, or that its unpack thread did not fill, is nobody's of ours.
TEST_F(EnsureDownloadEngineTest, NoEngineWithoutACreatedWorkFolderAndItsUnpack) {
    Install(L"ok");
    struct Case {
        const char* what;
        bool created;
        BOOL unpacked;
        int bound;
    } cases[] = {
        {"a work folder that only carries the name", false, TRUE, 0},
        {"the unpack failed", true, FALSE, 0},
        {"neither", false, FALSE, 0},
        {"created and unpacked", true, TRUE, 1},
    };
    for (const Case& c : cases) {
        SetWorkFolderState(c.created, c.unpacked);
        EXPECT_EQ(c.bound, m_app->EnsureDownloadEngine()) << c.what;
        EXPECT_EQ(c.bound != 0, m_app->m_downloadEngine != nullptr) << c.what;
        if (!c.bound) EXPECT_EQ(nullptr, GetModuleHandleW(FixedText::kEngineLibraryName)) << c.what << ": loaded";
    }
}

TEST_F(EnsureDownloadEngineTest, EveryEntryIsBoundInOrderAndAMissingOneStaysNull) {
    Install(L"noquery");
    ASSERT_EQ(1, m_app->EnsureDownloadEngine());
    DownWrapper& e = *m_app->m_downloadEngine;
    EXPECT_EQ(nullptr, e.QueryTask);
    void* entries[] = {(void*)e.Initialize, (void*)e.Uninitialize, (void*)e.CreateTask, (void*)e.DeleteTask,
                       (void*)e.StartTask,  (void*)e.Entry6,       (void*)e.StopTask,   (void*)e.Entry8,
                       nullptr,             (void*)e.Entry10,      (void*)e.Entry11,    (void*)e.Entry12,
                       (void*)e.Entry13,    (void*)e.Entry14,      (void*)e.Entry15,    (void*)e.Entry16,
                       (void*)e.Entry17,    (void*)e.Entry18};
    for (int i = 0; i < 18; ++i) {
        void* expected = (void*)GetProcAddress(e.m_module, FixedText::kEngineExportNames[i]);
        EXPECT_EQ(expected, entries[i]) << FixedText::kEngineExportNames[i];
        if (i != 8) EXPECT_NE(nullptr, entries[i]) << FixedText::kEngineExportNames[i];
    }
    // The calls the pages make go through to the library.
    DownloadTaskParams* p = new DownloadTaskParams;
    InitDownloadTaskParams(*p);
    EXPECT_EQ(7, e.CreateTask(p));
    EXPECT_EQ(1, e.StartTask(7));
    delete p;
    // Uninitialise twice (download page, then exit), as the program does.
    e.Uninitialize();
    e.Uninitialize();
    EXPECT_EQ(2, FakeCount(e, 1));
}

TEST_F(EnsureDownloadEngineTest, SeveralWorkersAtOnceBindOnce) {
    Install(L"ok");
    const int kWorkers = 6;
    std::vector<int> results(kWorkers, -1);
    std::vector<DownWrapper*> seen(kWorkers, nullptr);
    std::vector<std::thread> workers;
    for (int i = 0; i < kWorkers; ++i)
        workers.emplace_back([&, i] {
            results[i] = m_app->EnsureDownloadEngine();
            seen[i] = m_app->m_downloadEngine;
        });
    for (std::thread& t : workers) t.join();
    for (int i = 0; i < kWorkers; ++i) {
        EXPECT_EQ(1, results[i]);
        EXPECT_EQ(m_app->m_downloadEngine, seen[i]);
    }
    ASSERT_NE(nullptr, m_app->m_downloadEngine);
    EXPECT_EQ(1, FakeCount(*m_app->m_downloadEngine, 0)) << "initialised once";
}

TEST_F(EnsureDownloadEngineTest, TheEngineComesFromTheWorkFolderByItsFullPathOnly) {
    Install(L"ok");
    ASSERT_EQ(1, m_app->EnsureDownloadEngine());
    wchar_t loaded[MAX_PATH] = {};
    GetModuleFileNameW(m_app->m_downloadEngine->m_module, loaded, MAX_PATH);
    EXPECT_EQ(0, lstrcmpiW(std::wstring(std::wstring(m_app->m_workFolder.GetString()) + L"\\" +
                                        FixedText::kEngineLibraryName).c_str(),
                           loaded))
        << Utf8Of(loaded);
    m_app->ExitInstance();

    // Without a work folder of its own the program loads no engine, not even
    // one that lies where a bare name would be looked for (the current folder).
    CTarvelApp bare;
    bare.m_workFolder = L"";
    std::wstring planted = MakeTempFolder(L"engine-cwd");
    ASSERT_TRUE(CopyFileW((TestProgramDirectory() + L"\\fake_engine_ok.dll").c_str(),
                          (planted + L"\\" + FixedText::kEngineLibraryName).c_str(), FALSE));
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(planted.c_str());
    int bound = bare.EnsureDownloadEngine();
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(0, bound);
    EXPECT_EQ(nullptr, bare.m_downloadEngine);
    EXPECT_EQ(nullptr, GetModuleHandleW(FixedText::kEngineLibraryName));
    bare.ExitInstance();
    RemoveTree(planted);
}

// The program runs elevated from folders its user can write (downloads, a
// USB stick). A DLL planted there under the name of one that the engine
// imports must not be loaded with the engine: the engine's imports come from
// its own folder and the system folder.
TEST(DownWrapper, TheEnginesImportsAreNeverTakenFromBesideTheProgram) {
    const wchar_t* const planted[] = {L"msimg32"};
    const std::wstring programFolder = MakeTempFolder(L"engine-planted");
    const std::wstring workFolder = MakeTempFolder(L"engine-planted-work");
    const std::wstring program = programFolder + L"\\engine_loader_planted.exe";
    const std::wstring engine = workFolder + L"\\" + FixedText::kEngineLibraryName;
    ASSERT_TRUE(CopyFileW((TestProgramDirectory() + L"\\engine_loader.exe").c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((TestProgramDirectory() + L"\\planted_probe.dll").c_str(),
                          (programFolder + L"\\msimg32.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((TestProgramDirectory() + L"\\fake_engine_imports.dll").c_str(), engine.c_str(), FALSE));
    int code;
    {
        NativeDllsFirst wineSearchesAsWindows(L"engine_loader_planted.exe", planted);
        code = RunAndWait(program, L"\"" + engine + L"\"");
    }
    EXPECT_FALSE(FileExists(programFolder + L"\\msimg32.dll.loaded")) << "the planted msimg32.dll was loaded";
    EXPECT_EQ(0, code) << "the engine was not bound with the system's msimg32.dll (2: not loaded)";
    RemoveTree(programFolder);
    RemoveTree(workFolder);
}

TEST(DownWrapper, MissingLibraryBindsNothing) {
    DownWrapper e(L"C:\\no\\such\\folder\\kvtengine.dll");
    EXPECT_EQ(nullptr, e.m_module);
    EXPECT_EQ(nullptr, e.Initialize);
    EXPECT_EQ(nullptr, e.Uninitialize);
    EXPECT_EQ(nullptr, e.QueryTask);
    EXPECT_EQ(nullptr, e.Entry18);
}

}  // namespace
