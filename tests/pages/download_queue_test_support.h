// Shared pieces of the download queue tests: the mirror server on
// 127.0.0.1 with its fake share service, and known digests.
#pragma once

#include "support/local_http_server.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "core/catalogue.h"
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
