// The download engine DLL, loaded by name as the program loads it, against
// servers that the tests run on 127.0.0.1.
#include "support/local_http_server.h"
#include "support/local_tls_server.h"

#include <gtest/gtest.h>
#include <wincrypt.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/down_wrapper.h"
#include "core/folder_rule.h"
#include "core/fixed_texts.h"
#include "engine/engine.h"
#include "support/test_files.h"

namespace {

struct Engine {
    HMODULE module = nullptr;
    FARPROC entries[18] = {};
    int (*Initialize)() = nullptr;
    void (*Uninitialize)() = nullptr;
    int (*CreateTask)(const DownloadTaskParams*) = nullptr;
    void (*DeleteTask)(int) = nullptr;
    int (*StartTask)(int) = nullptr;
    void (*StopTask)(int) = nullptr;
    int (*QueryTask)(int, DownloadTaskInfo*) = nullptr;

    explicit Engine(const wchar_t* name) {
        module = LoadLibraryW(name);
        if (!module) return;
        for (int i = 0; i < 18; ++i) entries[i] = GetProcAddress(module, FixedText::kEngineExportNames[i]);
        Initialize = reinterpret_cast<int (*)()>(entries[0]);
        Uninitialize = reinterpret_cast<void (*)()>(entries[1]);
        CreateTask = reinterpret_cast<int (*)(const DownloadTaskParams*)>(entries[2]);
        DeleteTask = reinterpret_cast<void (*)(int)>(entries[3]);
        StartTask = reinterpret_cast<int (*)(int)>(entries[4]);
        StopTask = reinterpret_cast<void (*)(int)>(entries[6]);
        QueryTask = reinterpret_cast<int (*)(int, DownloadTaskInfo*)>(entries[8]);
    }
};

Engine& TheEngine() {
    static Engine engine(FixedText::kEngineLibraryName);
    return engine;
}

// The same engine built with a cap of 4 MiB on downloads of unknown length.
const long long kSmallCap = 4ll << 20;
Engine& SmallCapEngine() {
    static Engine engine(L"kvtengine_smallcap.dll");
    return engine;
}

// The folder rule for a save folder of ours that others could write until
// it gets the program's access list (the files are the real ones).
class OpenUntilProtected : public IFolderRule {
public:
    explicit OpenUntilProtected(const std::wstring& folder) : m_open(true), m_folder(folder) {}
    FolderState JudgeFolder(const wchar_t* path) override {
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) return FolderState::kMissing;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return FolderState::kNotFolder;
        return m_open && _wcsicmp(path, m_folder.c_str()) == 0 ? FolderState::kOthersWrite : FolderState::kTrusted;
    }
    bool OthersCanWrite(const wchar_t* folder) override { return JudgeFolder(folder) != FolderState::kTrusted; }
    BOOL CreateOwnFolder(const wchar_t* path) override { return CreateDirectoryW(path, nullptr); }
    BOOL ProtectFolder(const wchar_t*) override {
        m_open = false;
        return TRUE;
    }
    BOOL RemoveLink(const wchar_t*) override { return FALSE; }
    BOOL MoveAside(const wchar_t*) override { return FALSE; }
    CString FinalPath(const wchar_t* path) override { return path; }

private:
    bool m_open;
    std::wstring m_folder;
};

class EngineTest : public testing::Test {
protected:
    explicit EngineTest(Engine& engine = TheEngine()) : m_engine(engine) {}
    void SetUp() override {
        ASSERT_NE(nullptr, m_engine.module) << "the engine DLL beside the test program";
        ASSERT_EQ(1, m_engine.Initialize());
        m_folder = MakeTempFolder(L"engine");
    }
    void TearDown() override {
        for (int t : m_tasks) m_engine.DeleteTask(t);
        RemoveTree(m_folder);
    }

    int Create(const std::wstring& url, const std::wstring& name) {
        DownloadTaskParams* params = new DownloadTaskParams;
        InitParams(*params);
        wcscpy(params->sourceUrl, url.c_str());
        wcscpy(params->fileName, name.c_str());
        wcscpy(params->saveFolder, m_folder.c_str());
        int task = m_engine.CreateTask(params);
        delete params;
        if (task) m_tasks.push_back(task);
        return task;
    }
    static void InitParams(DownloadTaskParams& p) {
        memset(&p, 0, sizeof(p));
        p.option3 = 5;
        p.option5 = 1;
    }
    DownloadTaskInfo Query(int task) {
        DownloadTaskInfo info;
        memset(&info, 0, sizeof(info));
        info.status = kTaskSourceFailed;
        EXPECT_EQ(1, m_engine.QueryTask(task, &info));
        return info;
    }
    // Polls four times a second until `done` holds; the time running out
    // first fails the test, saying so.
    DownloadTaskInfo WaitFor(int task, std::function<bool(const DownloadTaskInfo&)> done, DWORD ms) {
        DWORD start = GetTickCount();
        DownloadTaskInfo info = Query(task);
        while (!done(info)) {
            if (GetTickCount() - start >= ms) {
                ADD_FAILURE() << "waited " << ms / 1000 << " s for task " << task << ", and it is still at status "
                              << info.status << ", code " << info.code << ", " << info.doneBytes << " bytes";
                break;
            }
            Sleep(250);
            info = Query(task);
        }
        return info;
    }
    DownloadTaskInfo WaitForEnd(int task, DWORD ms = 120000) {
        return WaitFor(task, [](const DownloadTaskInfo& i) { return i.status == 1 || i.status == 2 || i.status == 4; },
                       ms);
    }
    std::wstring PathOf(const std::wstring& name) const { return m_folder + L"\\" + name; }

    Engine& m_engine;
    std::wstring m_folder;
    std::vector<int> m_tasks;
};

class SmallCapEngineTest : public EngineTest {
protected:
    SmallCapEngineTest() : EngineTest(SmallCapEngine()) {}
};

TEST_F(EngineTest, ExportsEveryEntryByItsName) {
    for (int i = 0; i < 18; ++i) EXPECT_NE(nullptr, TheEngine().entries[i]) << FixedText::kEngineExportNames[i];
    // The entries the program never calls exist and report failure.
    for (int i : {5, 7, 9, 10, 11, 12, 13, 14, 15, 16, 17})
        EXPECT_EQ(0, reinterpret_cast<int (*)()>(TheEngine().entries[i])()) << FixedText::kEngineExportNames[i];
}

TEST_F(EngineTest, WholeFileArrives) {
    const std::string content = TestFileContent("whole", 3 * 1024 * 1024 + 123);
    LocalHttpServer server([&](const HttpRequest& r, HttpConnection& c) { ServeContent(r, c, content, 65536, 0); });
    ASSERT_TRUE(server.Started());
    int task = Create(server.WideUrl("/files/whole.bin"), L"whole.bin");
    ASSERT_NE(0, task);
    ASSERT_EQ(1, TheEngine().StartTask(task));
    DownloadTaskInfo info = WaitForEnd(task);
    ASSERT_EQ(kTaskFinished, info.status) << "code " << info.code;
    EXPECT_STREQ(L"whole.bin", info.fileName);
    EXPECT_EQ((LONGLONG)content.size(), info.totalBytes);
    EXPECT_EQ((LONGLONG)content.size(), info.doneBytes);
    EXPECT_FLOAT_EQ(1.0f, info.fraction);
    EXPECT_TRUE(ReadWholeFile(PathOf(L"whole.bin")) == content);
    EXPECT_FALSE(FileExists(PathOf(L"whole.bin.kvtpart")));
    // A finished task stays finished; starting it again is harmless.
    EXPECT_EQ(1, TheEngine().StartTask(task));
    EXPECT_EQ(kTaskFinished, Query(task).status);
}

TEST_F(EngineTest, FailuresAtTheSourceGiveStatusTwo) {
    const std::string content = TestFileContent("cut", 2 * 1024 * 1024);
    LocalHttpServer server([&](const HttpRequest& r, HttpConnection& c) {
        if (r.target == "/cut.bin") {
            // Announces the whole file, sends half, then hangs up.
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(content.size()) +
                   "\r\nConnection: close\r\n\r\n");
            c.Send(content.data(), content.size() / 2);
            return;
        }
        c.Respond(404, "no such file");
    });
    ASSERT_TRUE(server.Started());
    struct Case {
        const char* what;
        std::wstring url;
        int code;  // 0: any
    } cases[] = {
        {"404", server.WideUrl("/missing.bin"), 404},
        {"refused", L"http://127.0.0.1:" + std::to_wstring(UnusedLocalPort()) + L"/x.bin", 1000 + 7},
        {"body shorter than announced", server.WideUrl("/cut.bin"), 1000 + 18},  // CURLE_PARTIAL_FILE
        {"TLS to a plain server", L"https://127.0.0.1:" + std::to_wstring(server.Port()) + L"/x.bin", 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::wstring name = L"fail" + std::to_wstring(n++) + L".bin";
        int task = Create(c.url, name);
        ASSERT_NE(0, task) << c.what;
        ASSERT_EQ(1, TheEngine().StartTask(task)) << c.what;
        DownloadTaskInfo info = WaitForEnd(task);
        EXPECT_EQ(kTaskSourceFailed, info.status) << c.what;
        if (c.code) {
            EXPECT_EQ(c.code, info.code) << c.what;
        }
        EXPECT_NE(1, info.code) << c.what;
        EXPECT_FALSE(FileExists(PathOf(name))) << c.what;
    }
}

// Without a length or chunks, a cut connection looks like the end of the
// file: such a reply is refused, whatever arrived of it.
TEST_F(EngineTest, ReplyWithoutLengthOrChunksIsRefused) {
    const std::string content = TestFileContent("framing", 512 * 1024 + 7);
    LocalHttpServer server([&](const HttpRequest& r, HttpConnection& c) {
        if (r.target == "/unframed.bin" || r.target == "/unframed10.bin") {
            c.Send(std::string(r.target == "/unframed10.bin" ? "HTTP/1.0" : "HTTP/1.1") +
                   " 200 OK\r\nConnection: close\r\n\r\n");
            c.Send(content);
        } else if (r.target == "/unframed-empty.bin") {
            c.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
        } else if (r.target == "/redirect.bin") {
            c.Respond(302, "", "Location: /unframed.bin\r\n");
        } else if (r.target == "/chunked.bin") {
            c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n");
            for (size_t at = 0; at < content.size(); at += 100000) {
                std::string piece = content.substr(at, 100000);
                char size[16];
                snprintf(size, sizeof(size), "%x\r\n", (unsigned)piece.size());
                c.Send(size + piece + "\r\n");
            }
            c.Send("0\r\n\r\n");
        } else if (r.target == "/empty.bin") {
            c.Respond(200, "");
        } else {
            ServeContent(r, c, content, 65536, 0);
        }
    });
    ASSERT_TRUE(server.Started());
    struct Case {
        const char* target;
        int status;
        const std::string* body;  // the finished file's content
    } cases[] = {
        {"/unframed.bin", kTaskSourceFailed, nullptr},
        {"/unframed10.bin", kTaskSourceFailed, nullptr},
        {"/unframed-empty.bin", kTaskSourceFailed, nullptr},
        {"/redirect.bin", kTaskSourceFailed, nullptr},
        {"/chunked.bin", kTaskFinished, &content},
        {"/length.bin", kTaskFinished, &content},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::wstring name = L"framing" + std::to_wstring(n++) + L".bin";
        int task = Create(server.WideUrl(c.target), name);
        ASSERT_NE(0, task) << c.target;
        ASSERT_EQ(1, m_engine.StartTask(task)) << c.target;
        DownloadTaskInfo info = WaitForEnd(task);
        EXPECT_EQ(c.status, info.status) << c.target << " code " << info.code;
        if (c.body) {
            EXPECT_TRUE(ReadWholeFile(PathOf(name)) == *c.body) << c.target;
        } else {
            EXPECT_EQ(kEngineCodeUnframedReply, info.code) << c.target;
            EXPECT_FALSE(FileExists(PathOf(name))) << c.target;
        }
    }
    // An empty file with a length of 0 is still a file.
    int task = Create(server.WideUrl("/empty.bin"), L"empty.bin");
    ASSERT_EQ(1, m_engine.StartTask(task));
    EXPECT_EQ(kTaskFinished, WaitForEnd(task).status);
    EXPECT_TRUE(FileExists(PathOf(L"empty.bin")));
}

// A download of unknown length ends at the cap; one that announces its
// length is not capped.
TEST_F(SmallCapEngineTest, DownloadOfUnknownLengthEndsAtTheCap) {
    std::atomic<long long> sent{0};
    const std::string belowCap = TestFileContent("below", 1024 * 1024);
    const std::string overCap = TestFileContent("over", (size_t)kSmallCap + 1024 * 1024);
    LocalHttpServer server([&](const HttpRequest& r, HttpConnection& c) {
        if (r.target == "/endless.bin") {
            ServeEndless(c, EndlessFraming::kChunked, 256ll << 20, &sent);
        } else if (r.target == "/below.bin") {
            c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n");
            char size[16];
            snprintf(size, sizeof(size), "%x\r\n", (unsigned)belowCap.size());
            c.Send(size + belowCap + "\r\n0\r\n\r\n");
        } else {
            ServeContent(r, c, overCap, 65536, 0);
        }
    });
    ASSERT_TRUE(server.Started());
    int task = Create(server.WideUrl("/endless.bin"), L"endless.bin");
    ASSERT_EQ(1, m_engine.StartTask(task));
    DownloadTaskInfo info = WaitForEnd(task, 120000);
    EXPECT_EQ(kTaskSourceFailed, info.status);
    EXPECT_EQ(kEngineCodeTooLong, info.code);
    EXPECT_FALSE(FileExists(PathOf(L"endless.bin")));
    EXPECT_FALSE(FileExists(PathOf(L"endless.bin.kvtpart"))) << "nothing of it is kept";
    EXPECT_LT(sent.load(), kSmallCap + (24ll << 20)) << "given up at the cap, not read on";

    task = Create(server.WideUrl("/below.bin"), L"below.bin");
    ASSERT_EQ(1, m_engine.StartTask(task));
    EXPECT_EQ(kTaskFinished, WaitForEnd(task).status);
    EXPECT_TRUE(ReadWholeFile(PathOf(L"below.bin")) == belowCap);

    task = Create(server.WideUrl("/over.bin"), L"over.bin");
    ASSERT_EQ(1, m_engine.StartTask(task));
    EXPECT_EQ(kTaskFinished, WaitForEnd(task).status);
    EXPECT_TRUE(ReadWholeFile(PathOf(L"over.bin")) == overCap);
}

// The connect and header phase has a deadline (5 s in this build), however
// slowly a peer trickles its header; the body has none: a body that comes
// slower than that still arrives whole.
TEST_F(SmallCapEngineTest, ATrickledHeaderEndsAtTheDeadlineATrickledBodyDoesNot) {
    const DWORD kDeadlineMs = 5000;
    const int kTrickleBytes = 600;  // at 5 a second: 120 s
    std::atomic<int> trickled{0};
    const std::string body(40, 'b');  // at 5 a second: 8 s, past the deadline
    LocalHttpServer server([&](const HttpRequest& r, HttpConnection& c) {
        if (r.target == "/header.bin") {
            if (!c.Send("HTTP/1.1 200 OK\r\nX-Slow: ")) return;
            while (!c.Stopping() && trickled.load() < kTrickleBytes && c.Send("a", 1)) {
                ++trickled;
                Sleep(200);
            }
            return;
        }
        if (!c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                    "\r\nConnection: close\r\n\r\n"))
            return;
        for (char byte : body) {
            if (c.Stopping() || !c.Send(&byte, 1)) return;
            Sleep(200);
        }
    });
    ASSERT_TRUE(server.Started());
    int task = Create(server.WideUrl("/header.bin"), L"header.bin");
    const DWORD started = GetTickCount();
    ASSERT_EQ(1, m_engine.StartTask(task));
    DownloadTaskInfo info = WaitForEnd(task, 60000);
    const DWORD took = GetTickCount() - started;
    EXPECT_EQ(kTaskSourceFailed, info.status);
    EXPECT_EQ(kEngineCodeTransferBase + 28, info.code) << "timed out";  // CURLE_OPERATION_TIMEDOUT
    EXPECT_GE(took, kDeadlineMs - 500);
    EXPECT_LT(took, kDeadlineMs + 25000) << "the header phase went on past its deadline";
    EXPECT_LT(trickled.load(), kTrickleBytes);

    task = Create(server.WideUrl("/body.bin"), L"body.bin");
    ASSERT_EQ(1, m_engine.StartTask(task));
    info = WaitForEnd(task, 120000);
    EXPECT_EQ(kTaskFinished, info.status) << "code " << info.code;
    EXPECT_TRUE(ReadWholeFile(PathOf(L"body.bin")) == body);
}

// A mirror that announces more than the save folder's volume can hold would
// fill it (the data partition, or C: when there is no other): such a reply is
// refused before anything is written. For a resumed download what counts is
// the rest it would add, or the whole when the server ignores the range.
TEST_F(EngineTest, AnnouncedLengthBeyondTheFreeSpaceIsRefusedBeforeAnyWrite) {
    const long long huge = 1ll << 60;  // more than any volume here holds
    const std::string piece = TestFileContent("huge", 1024 * 1024);
    const std::string partial = TestFileContent("partial", 1000);
    LocalHttpServer server([&](const HttpRequest& r, HttpConnection& c) {
        std::string range = r.Header("Range");
        if (r.target == "/resumed.bin" && !range.empty()) {
            c.Send("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 1000-" + std::to_string(huge - 1) + "/" +
                   std::to_string(huge) + "\r\nContent-Length: " + std::to_string(huge - 1000) +
                   "\r\nConnection: close\r\n\r\n");
        } else {
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(huge) + "\r\nConnection: close\r\n\r\n");
        }
        // Some of it, then the end: an engine that took the reply writes it.
        c.Send(piece);
    });
    ASSERT_TRUE(server.Started());
    ULARGE_INTEGER free = {};
    ASSERT_TRUE(GetDiskFreeSpaceExW(m_folder.c_str(), &free, nullptr, nullptr));
    ASSERT_LT(free.QuadPart, (ULONGLONG)huge - 1000);
    struct Case {
        const char* target;
        bool withPartial;  // a partial file of 1000 bytes waits to be resumed
    } cases[] = {
        {"/fresh.bin", false},
        {"/resumed.bin", true},      // a range answer announcing the rest
        {"/ignoresrange.bin", true},  // the whole file instead of the rest
    };
    for (const Case& c : cases) {
        std::wstring name = std::wstring(c.target + 1, c.target + strlen(c.target));
        if (c.withPartial) ASSERT_TRUE(WriteWholeFile(PathOf(name + L".kvtpart"), partial));
        int task = Create(server.WideUrl(c.target), name);
        ASSERT_NE(0, task) << c.target;
        ASSERT_EQ(1, m_engine.StartTask(task)) << c.target;
        DownloadTaskInfo info = WaitForEnd(task, 60000);
        EXPECT_EQ(kTaskSourceFailed, info.status) << c.target;
        EXPECT_EQ(kEngineCodeNoSpace, info.code) << c.target;
        EXPECT_FALSE(FileExists(PathOf(name))) << c.target;
        EXPECT_TRUE(ReadWholeFile(PathOf(name + L".kvtpart")) == (c.withPartial ? partial : std::string()))
            << c.target << ": the partial file changed";
    }
}

TEST_F(EngineTest, StopThenStartResumesWithARangeRequest) {
    const std::string content = TestFileContent("resume", 4 * 1024 * 1024);
    // What the resumed request sends, counted apart from the first: the first
    // one's server thread may go on counting for a while after the stop.
    std::atomic<long long> sentFirst{0}, sentResumed{0};
    // About 3 MB/s, so that the stop lands in the middle of the file.
    LocalHttpServer server([&](const HttpRequest& r, HttpConnection& c) {
        ServeContent(r, c, content, 32768, 10, r.Header("Range").empty() ? &sentFirst : &sentResumed);
    });
    ASSERT_TRUE(server.Started());
    int task = Create(server.WideUrl("/resume.bin"), L"resume.bin");
    ASSERT_EQ(1, TheEngine().StartTask(task));
    // The speed reads 0 while no byte came for a while, as on a loaded
    // machine between two pieces: the moment waited for is one with bytes
    // coming in.
    DownloadTaskInfo info = WaitFor(
        task,
        [](const DownloadTaskInfo& i) {
            return (i.doneBytes >= 1024 * 1024 && i.speed > 0) || i.status == kTaskFinished ||
                   i.status == kTaskSourceFailed;
        },
        120000);
    ASSERT_EQ(kTaskTransferring, info.status);
    EXPECT_EQ((LONGLONG)content.size(), info.totalBytes);
    EXPECT_GT(info.speed, 0) << "no moment with bytes coming in";

    TheEngine().StopTask(task);
    info = Query(task);
    EXPECT_EQ(kTaskWaiting, info.status);
    EXPECT_EQ(0, info.speed);
    LONGLONG kept = info.doneBytes;
    EXPECT_LT(kept, (LONGLONG)content.size());
    Sleep(300);
    EXPECT_EQ(kept, Query(task).doneBytes) << "nothing moves while stopped";

    ASSERT_EQ(1, TheEngine().StartTask(task));
    info = WaitForEnd(task);
    ASSERT_EQ(kTaskFinished, info.status) << "code " << info.code;
    EXPECT_TRUE(ReadWholeFile(PathOf(L"resume.bin")) == content);

    std::vector<HttpRequest> requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("", requests[0].Header("Range"));
    EXPECT_EQ("bytes=" + std::to_string(kept) + "-", requests[1].Header("Range"));
    // The server counts a piece after handing it over; give its thread time to
    // count the last one, however loaded the machine.
    for (int i = 0; i < 400 && sentResumed < (long long)content.size() - kept; ++i) Sleep(25);
    EXPECT_EQ((long long)content.size() - kept, sentResumed.load()) << "only the rest is sent again";
}

TEST_F(EngineTest, BrokenTransferResumesOnTheNextStart) {
    const std::string content = TestFileContent("broken", 2 * 1024 * 1024);
    std::atomic<int> calls{0};
    LocalHttpServer server([&](const HttpRequest& r, HttpConnection& c) {
        if (calls++ == 0) {
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(content.size()) +
                   "\r\nConnection: close\r\n\r\n");
            c.Send(content.data(), 700000);
            return;
        }
        ServeContent(r, c, content, 65536, 0);
    });
    int task = Create(server.WideUrl("/broken.bin"), L"broken.bin");
    ASSERT_EQ(1, TheEngine().StartTask(task));
    DownloadTaskInfo info = WaitForEnd(task);
    ASSERT_EQ(kTaskSourceFailed, info.status);
    ASSERT_EQ(1, TheEngine().StartTask(task));
    info = WaitForEnd(task);
    ASSERT_EQ(kTaskFinished, info.status) << "code " << info.code;
    EXPECT_TRUE(ReadWholeFile(PathOf(L"broken.bin")) == content);
    EXPECT_EQ("bytes=700000-", server.Requests().back().Header("Range"));
}

TEST_F(EngineTest, NewTaskContinuesOrReplacesAPartialFile) {
    const std::string content = TestFileContent("partial", 1024 * 1024);
    bool honourRange = true;
    LocalHttpServer server([&](const HttpRequest& r, HttpConnection& c) {
        if (honourRange) {
            ServeContent(r, c, content, 65536, 0);
        } else {
            HttpRequest plain = r;
            plain.headers.clear();  // a server without range support sends everything
            ServeContent(plain, c, content, 65536, 0);
        }
    });
    // A good partial file from an earlier task: only the rest is fetched.
    WriteWholeFile(PathOf(L"a.bin.kvtpart"), content.substr(0, 300000));
    int task = Create(server.WideUrl("/a.bin"), L"a.bin");
    ASSERT_EQ(1, TheEngine().StartTask(task));
    ASSERT_EQ(kTaskFinished, WaitForEnd(task).status);
    EXPECT_TRUE(ReadWholeFile(PathOf(L"a.bin")) == content);
    EXPECT_EQ("bytes=300000-", server.Requests().back().Header("Range"));

    // A server that ignores the range: its whole file replaces the partial one.
    honourRange = false;
    WriteWholeFile(PathOf(L"b.bin.kvtpart"), std::string(500000, 'x'));
    task = Create(server.WideUrl("/b.bin"), L"b.bin");
    ASSERT_EQ(1, TheEngine().StartTask(task));
    ASSERT_EQ(kTaskFinished, WaitForEnd(task).status);
    EXPECT_TRUE(ReadWholeFile(PathOf(L"b.bin")) == content);

    // A partial file as long as the file, or longer: the server has nothing
    // beyond it (416), so the file is fetched again from its start.
    honourRange = true;
    const std::string longer[] = {content, content + "stale tail"};
    for (const std::string& stale : longer) {
        WriteWholeFile(PathOf(L"c.bin.kvtpart"), stale);
        task = Create(server.WideUrl("/c.bin"), L"c.bin");
        ASSERT_EQ(1, TheEngine().StartTask(task));
        DownloadTaskInfo info = WaitForEnd(task);
        ASSERT_EQ(kTaskFinished, info.status) << "code " << info.code;
        EXPECT_TRUE(ReadWholeFile(PathOf(L"c.bin")) == content);
        EXPECT_EQ("", server.Requests().back().Header("Range"));
    }

    // A partial file another account planted while the save folder let it
    // in: the folder gets the program's access list before anything is
    // saved there, and the planted partial goes with that, so the download
    // starts at its first byte with none of the planted bytes.
    honourRange = true;
    WriteWholeFile(PathOf(L"d.bin.kvtpart"), std::string(400000, 'A'));
    OpenUntilProtected rule(m_folder);
    ASSERT_EQ(OwnFolder::kReprotected, EnsureOwnFolder(rule, m_folder.c_str()));
    task = Create(server.WideUrl("/d.bin"), L"d.bin");
    ASSERT_EQ(1, TheEngine().StartTask(task));
    ASSERT_EQ(kTaskFinished, WaitForEnd(task).status);
    EXPECT_TRUE(ReadWholeFile(PathOf(L"d.bin")) == content) << "the planted bytes came first";
    EXPECT_EQ("", server.Requests().back().Header("Range")) << "the planted partial was resumed";
}

TEST_F(EngineTest, StallIsReportedWithoutProgressNotAsFailure) {
    const std::string content = TestFileContent("stall", 4 * 1024 * 1024);
    LocalHttpServer server([&](const HttpRequest&, HttpConnection& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(content.size()) + "\r\nConnection: close\r\n\r\n");
        c.Send(content.data(), 1024 * 1024);
        c.WaitForClose(60000);  // then nothing more
    });
    int task = Create(server.WideUrl("/stall.bin"), L"stall.bin");
    ASSERT_EQ(1, TheEngine().StartTask(task));
    DownloadTaskInfo info =
        WaitFor(task, [](const DownloadTaskInfo& i) { return i.doneBytes >= 1024 * 1024; }, 60000);
    ASSERT_EQ(1024 * 1024, info.doneBytes);
    // The poller's view: once a second, no speed, no end.
    Sleep(2200);
    for (int poll = 0; poll < 3; ++poll) {
        info = Query(task);
        EXPECT_TRUE(info.status == kTaskTransferring || info.status == kTaskWaiting) << info.status;
        EXPECT_EQ(0, info.speed);
        EXPECT_EQ(1024 * 1024, info.doneBytes);
        Sleep(1000);
    }
    // The caller gives the mirror up: stop and delete end promptly.
    DWORD start = GetTickCount();
    TheEngine().StopTask(task);
    TheEngine().DeleteTask(task);
    m_tasks.clear();
    EXPECT_LT(GetTickCount() - start, 5000u);
}

TEST_F(EngineTest, ServerThatNeverAnswersIsWaitingAndCanBeStopped) {
    LocalHttpServer server([&](const HttpRequest&, HttpConnection& c) { c.WaitForClose(60000); });
    int task = Create(server.WideUrl("/silent.bin"), L"silent.bin");
    ASSERT_EQ(1, TheEngine().StartTask(task));
    for (int poll = 0; poll < 3; ++poll) {
        Sleep(1000);
        DownloadTaskInfo info = Query(task);
        EXPECT_EQ(kTaskWaiting, info.status);
        EXPECT_EQ(0, info.speed);
        EXPECT_EQ(0, info.doneBytes);
    }
    DWORD start = GetTickCount();
    TheEngine().StopTask(task);
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_EQ(kTaskWaiting, Query(task).status);
}

TEST_F(EngineTest, SeveralTasksAtOnceFromSeveralThreads) {
    const int kTasks = 4;
    std::vector<std::string> contents;
    for (int i = 0; i < kTasks; ++i) contents.push_back(TestFileContent("multi" + std::to_string(i), 1500000 + i * 77));
    LocalHttpServer server([&](const HttpRequest& r, HttpConnection& c) {
        int i = r.target[r.target.size() - 1] - '0';
        ServeContent(r, c, contents[i], 32768, 5);
    });
    std::vector<int> tasks;
    for (int i = 0; i < kTasks; ++i) {
        tasks.push_back(Create(server.WideUrl("/m" + std::to_string(i)), L"m" + std::to_wstring(i) + L".bin"));
        ASSERT_NE(0, tasks.back());
    }
    // Each task is started and polled by a thread of its own, as pages do.
    std::vector<int> results(kTasks, 0);
    std::vector<std::thread> pollers;
    for (int i = 0; i < kTasks; ++i)
        pollers.emplace_back([&, i] {
            if (!TheEngine().StartTask(tasks[i])) return;
            for (int round = 0; round < 240; ++round) {
                DownloadTaskInfo info = {};
                if (TheEngine().QueryTask(tasks[i], &info) && (info.status == 1 || info.status == 2 || info.status == 4)) {
                    results[i] = info.status;
                    return;
                }
                Sleep(250);
            }
        });
    for (std::thread& t : pollers) t.join();
    for (int i = 0; i < kTasks; ++i) {
        EXPECT_EQ(kTaskFinished, results[i]) << i;
        EXPECT_TRUE(ReadWholeFile(PathOf(L"m" + std::to_wstring(i) + L".bin")) == contents[i]) << i;
    }
}

// Trusts a certificate in the machine's root store for as long as it lives
// (the machine store: adding to the user's store asks the user on Windows).
class TrustedRoot {
public:
    explicit TrustedRoot(const std::vector<unsigned char>& der) {
        m_store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
        if (m_store)
            CertAddEncodedCertificateToStore(m_store, X509_ASN_ENCODING, der.data(), (DWORD)der.size(),
                                             CERT_STORE_ADD_REPLACE_EXISTING, &m_cert);
    }
    ~TrustedRoot() {
        if (m_cert) CertDeleteCertificateFromStore(m_cert);  // frees the context
        if (m_store) CertCloseStore(m_store, 0);
    }
    bool Added() const { return m_cert != nullptr; }
    // Whether the root store that libcurl reads now holds the certificate.
    bool Visible() const {
        if (!m_cert) return false;
        HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
        PCCERT_CONTEXT found = store ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                                  m_cert, nullptr)
                                     : nullptr;
        if (found) CertFreeCertificateContext(found);
        if (store) CertCloseStore(store, 0);
        return found != nullptr;
    }

private:
    HCERTSTORE m_store = nullptr;
    PCCERT_CONTEXT m_cert = nullptr;
};

TEST_F(EngineTest, HttpsChecksCertificatesAgainstTheWindowsStore) {
    LocalTlsServer server("payload over TLS");
    ASSERT_TRUE(server.Started());
    // A certificate that nothing trusts: the source fails, nothing is fetched.
    int task = Create(server.WideUrl("/tls.bin"), L"tls.bin");
    ASSERT_EQ(1, TheEngine().StartTask(task));
    DownloadTaskInfo info = WaitForEnd(task);
    EXPECT_EQ(kTaskSourceFailed, info.status);
    EXPECT_EQ(1000 + 60, info.code) << "peer certificate not verified";
    EXPECT_EQ(0, server.Answered());
    EXPECT_FALSE(FileExists(PathOf(L"tls.bin")));

    // Trusted through the Windows certificate store, the same server serves.
    TrustedRoot root(server.CertificateDer());
    if (!root.Added()) GTEST_SKIP() << "the machine's root store cannot be written here";
    if (!root.Visible()) GTEST_SKIP() << "this root store does not show certificates added to it (Wine)";
    task = Create(server.WideUrl("/tls.bin"), L"tls2.bin");
    ASSERT_EQ(1, TheEngine().StartTask(task));
    info = WaitForEnd(task);
    ASSERT_EQ(kTaskFinished, info.status) << "code " << info.code;
    EXPECT_EQ("payload over TLS", ReadWholeFile(PathOf(L"tls2.bin")));
}

TEST_F(EngineTest, HttpsDownloadFromATrustedAuthority) {
    std::string certificate, key, why;
    if (!TrustedServerFiles(certificate, key, why)) GTEST_SKIP() << why;
    const std::string content = TestFileContent("trusted", 300 * 1024);
    LocalTlsServer server([&](const std::string&) { return content; }, certificate, key);
    ASSERT_TRUE(server.Started());
    int task = Create(server.WideUrl("/trusted.bin"), L"trusted.bin");
    ASSERT_EQ(1, TheEngine().StartTask(task));
    DownloadTaskInfo info = WaitForEnd(task);
    ASSERT_EQ(kTaskFinished, info.status) << "code " << info.code;
    EXPECT_TRUE(ReadWholeFile(PathOf(L"trusted.bin")) == content);
    EXPECT_EQ(1, server.Answered());

    // Beside it, a server of another authority is still refused.
    LocalTlsServer other("not trusted");
    ASSERT_TRUE(other.Started());
    task = Create(other.WideUrl("/other.bin"), L"other.bin");
    ASSERT_EQ(1, TheEngine().StartTask(task));
    info = WaitForEnd(task);
    EXPECT_EQ(kTaskSourceFailed, info.status);
    EXPECT_EQ(1000 + 60, info.code) << "peer certificate not verified";
    EXPECT_EQ(0, other.Answered());
}

TEST_F(EngineTest, UnwritableSaveFolderFailsTheEntry) {
    LocalHttpServer server([&](const HttpRequest& r, HttpConnection& c) { c.Respond(200, "data"); });
    DownloadTaskParams* params = new DownloadTaskParams;
    InitParams(*params);
    wcscpy(params->sourceUrl, server.WideUrl("/x").c_str());
    wcscpy(params->fileName, L"x.bin");
    wcscpy(params->saveFolder, (m_folder + L"\\no\\such\\folder").c_str());
    int task = TheEngine().CreateTask(params);
    delete params;
    ASSERT_NE(0, task);
    m_tasks.push_back(task);
    ASSERT_EQ(1, TheEngine().StartTask(task));
    DownloadTaskInfo info = WaitForEnd(task);
    EXPECT_EQ(kTaskFailed, info.status);
    EXPECT_EQ(1, info.code);
}

TEST_F(EngineTest, TextsWithoutTerminatorAreRefused) {
    DownloadTaskParams* params = new DownloadTaskParams;
    InitParams(*params);
    for (int i = 0; i < kTaskUrlChars; ++i) params->sourceUrl[i] = L'a';
    wcscpy(params->fileName, L"x.bin");
    EXPECT_EQ(0, TheEngine().CreateTask(params));
    wcscpy(params->sourceUrl, L"http://127.0.0.1/x");
    for (int i = 0; i < kTaskFileNameChars; ++i) params->fileName[i] = L'n';
    EXPECT_EQ(0, TheEngine().CreateTask(params));
    params->fileName[0] = 0;
    EXPECT_EQ(0, TheEngine().CreateTask(params)) << "no file name";
    delete params;
    EXPECT_EQ(0, TheEngine().CreateTask(nullptr));
    DownloadTaskInfo info;
    EXPECT_EQ(0, TheEngine().QueryTask(123456, &info));
    EXPECT_EQ(0, TheEngine().StartTask(123456));
}

TEST_F(EngineTest, UninitialiseTwiceThenInitialiseAgain) {
    const std::string content = TestFileContent("again", 600000);
    LocalHttpServer server([&](const HttpRequest& r, HttpConnection& c) { ServeContent(r, c, content, 8192, 20); });
    int task = Create(server.WideUrl("/again.bin"), L"again.bin");
    ASSERT_EQ(1, TheEngine().StartTask(task));
    WaitFor(task, [](const DownloadTaskInfo& i) { return i.doneBytes > 0; }, 60000);
    // Uninitialise ends the running task; a second call does nothing.
    TheEngine().Uninitialize();
    TheEngine().Uninitialize();
    m_tasks.clear();
    DownloadTaskInfo info;
    EXPECT_EQ(0, TheEngine().QueryTask(task, &info));
    EXPECT_EQ(0, Create(server.WideUrl("/again.bin"), L"again.bin")) << "no tasks while uninitialised";
    ASSERT_EQ(1, TheEngine().Initialize());
    task = Create(server.WideUrl("/again.bin"), L"again.bin");
    ASSERT_EQ(1, TheEngine().StartTask(task));
    EXPECT_EQ(kTaskFinished, WaitForEnd(task).status);
    EXPECT_TRUE(ReadWholeFile(PathOf(L"again.bin")) == content);
}

}  // namespace
