// Shared pieces of the download queue tests: the mirror server on
// 127.0.0.1 with its fake share service, and known digests.
#pragma once

#include "support/local_http_server.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/catalogue.h"
#include "core/down_wrapper.h"
#include "core/tarvel_app.h"
#include "support/temp_folder.h"
#include "support/test_files.h"

// Just above the 5 MiB floor.
const size_t kFileSize = 5242880 + 4321;

// The MD5 of bytes as 32 upper-case hex digits.
std::string Md5Upper(const std::string& bytes);

// Files by name, served in several ways: /good/<name> as they are,
// /corrupt/<name> with changed bytes, /small/<name> cut to 1000 bytes,
// /slow/<name> in small pieces, /stall/<name> a first piece and then nothing;
// /s/<name> is a share page of the fake share service whose direct link is
// /good/<name>; everything else is 404.
class MirrorServer {
public:
    MirrorServer() : server([this](const HttpRequest& r, HttpConnection& c) { Handle(r, c); }) {}

    void AddFile(const std::string& name, const std::string& content) { m_files[name] = content; }
    std::wstring Url(const std::string& target) { return server.WideUrl(target); }
    int Count(const std::string& target) {
        int n = 0;
        for (const HttpRequest& r : server.Requests())
            if (r.target == target) ++n;
        return n;
    }
    LocalHttpServer server;

private:
    void Handle(const HttpRequest& r, HttpConnection& c);
    std::map<std::string, std::string> m_files;
};

// Each test: a fresh data folder, the engine beside the test program, an
// empty link table and the mirror server.
class DownloadQueueTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.server.Started());
        ASSERT_FALSE(m_data.Path().empty());
        CTarvelApp* app = GetTarvelApp();
        app->m_dataFolder = m_data.Path().c_str();
        app->m_workFolder = TestProgramDirectory().c_str();
        app->m_stallLimit = 20;
        app->m_fileLinks.RemoveAll();
        SetDownloadFolders(app->m_dataFolder, L"kvt_records.ini", L"records", L"queue-test", L"");
    }

    // A record of the test (stable address) with the given mirrors.
    COnlinefileinfo* Record(const std::string& name, int matchMode, const std::vector<std::wstring>& mirrors,
                            int required = 1) {
        m_records.emplace_back();
        COnlinefileinfo& r = m_records.back();
        r.m_sectionName = CString(name.c_str());
        r.m_title = CString(name.c_str());
        r.m_fileName = CString((name + ".bin").c_str());
        r.m_localFolder.Empty();
        r.m_matchMode = matchMode;
        r.m_required = required;
        std::string content = TestFileContent(name, kFileSize);
        m_server.AddFile(name + ".bin", content);
        m_contents[&r] = content;
        r.m_expectedMd5 = CString(Md5Upper(content).c_str());
        for (const std::wstring& url : mirrors) {
            bool share = url.find(L"/s/") != std::wstring::npos;
            r.m_linkIndices[r.m_linkCount++] =
                (int)GetTarvelApp()->m_fileLinks.Add(CFileLinkInfo(share ? 2 : 1, CString(url.c_str())));
        }
        return &r;
    }
    std::wstring Mirror(const std::string& kind, const std::string& name) {
        return m_server.Url("/" + kind + "/" + name + ".bin");
    }
    std::wstring SharePage(const std::string& name) { return m_server.Url("/s/" + name + ".bin"); }
    std::wstring LocalFile(const std::string& name) { return m_data.File(std::wstring(name.begin(), name.end()) + L".bin"); }
    bool HoldsItsContent(COnlinefileinfo* r) { return TempFolder::Read(LocalFile(CStringA(r->m_sectionName).GetString())) == m_contents[r]; }

    MirrorServer m_server;
    TempFolder m_data;
    std::deque<COnlinefileinfo> m_records;
    std::map<COnlinefileinfo*, std::string> m_contents;
};

// A download engine whose behaviour the test writes: a DownWrapper whose
// entries are this engine's, set as a queue's m_engine. Each task behaves as
// the mirror of its URL says; a URL without a mirror fails at its source
// (status 2). One scripted engine is bound at a time.
struct ScriptedMirror {
    std::string content;       // what a task of this mirror writes when it runs to its end
    int failStatus = 0;        // 1 or 2: the task fails so instead, with failCode
    int failCode = 0;
    bool holdTransfer = false; // transfers (status 3) until ScriptedEngine::Finish
    bool restartFails = false; // a second StartTask (a resume) answers 0
    int silentQueries = 0;     // the first queries answer 1 and write nothing into the caller's block
    // Transfers answering its queries with these speeds in turn (0: no
    // progress that second), then runs to its end at the next query.
    std::vector<int> speeds;
    LONGLONG announcedBytes = 0; // the length a held transfer announces (0: the content's)
    int waitingRounds = 0;       // the queries after the silent ones answer "waiting" (status 5) first
    float fraction = -1.0f;      // the fraction a transferring task reports (below 0: its half done)
};

struct ScriptedTask {
    int handle = 0;
    std::wstring url, fileName, folder;
    int starts = 0, stops = 0, queries = 0;
    bool deleted = false;
    bool held = false;   // transferring until released
    size_t speedRounds = 0;  // queries answered from the mirror's speeds
    int status = kTaskWaiting;
    int code = 0;
    LONGLONG total = 0, done = 0;
};

class ScriptedEngine {
public:
    ScriptedEngine();
    ~ScriptedEngine();
    ScriptedEngine(const ScriptedEngine&) = delete;
    ScriptedEngine& operator=(const ScriptedEngine&) = delete;

    DownWrapper* Wrapper() { return m_wrapper.get(); }
    void AddMirror(const std::wstring& url, const ScriptedMirror& mirror);

    // Tasks made so far, in order (copies).
    std::vector<ScriptedTask> Tasks();
    int TaskCount();
    // The tasks of a URL.
    int TasksOf(const std::wstring& url);
    // A held task runs to its end at its next query.
    void Finish(int handle);
    // True while a held task of the URL transfers.
    bool Transferring(const std::wstring& url);

private:
    static int __cdecl Initialize();
    static void __cdecl Uninitialize();
    static int __cdecl CreateTask(const DownloadTaskParams* params);
    static void __cdecl DeleteTask(int handle);
    static int __cdecl StartTask(int handle);
    static void __cdecl StopTask(int handle);
    static int __cdecl QueryTask(int handle, DownloadTaskInfo* info);
    // Writes the mirror's file the way an engine replaces its file: a file
    // that someone holds open cannot be replaced, and the task fails with code 1.
    void RunToEnd(ScriptedTask& task, const ScriptedMirror& mirror);
    ScriptedTask* Find(int handle);

    std::unique_ptr<DownWrapper> m_wrapper;
    std::mutex m_lock;
    std::map<std::wstring, ScriptedMirror> m_mirrors;
    std::vector<ScriptedTask> m_tasks;
    static ScriptedEngine* s_bound;
};
