// End to end: the engine that the built program carries in its tools payload
// is unpacked into the work folder, bound by EnsureDownloadEngine and fetches
// a file from a local server; exit releases the binding.
#include "support/local_http_server.h"

#include <gtest/gtest.h>

#include "core/down_wrapper.h"
#include "core/fixed_texts.h"
#include "core/tarvel_app.h"
#include "payload_test_support.h"
#include "support/test_files.h"

TEST(EngineFromPayload, UnpackedEngineDownloadsAndExitReleasesTheBinding) {
    ProgramModule program;
    ASSERT_NE(nullptr, program.Get());
    const std::string content = TestFileContent("payload-engine", 700000);
    LocalHttpServer server([&](const HttpRequest& r, HttpConnection& c) { ServeContent(r, c, content, 65536, 0); });
    std::wstring saveFolder = MakeTempFolder(L"engine-payload");

    CTarvelApp app;
    app.m_payloadModule = program.Get();
    app.PrepareWorkFolder();
    ASSERT_TRUE(app.m_workFolderCreated);
    ASSERT_EQ(1, app.EnsureDownloadEngine()) << "the engine is bound once the unpack thread has put it there";
    DownWrapper* engine = app.m_downloadEngine;
    ASSERT_NE(nullptr, engine);
    for (auto entry : {(void*)engine->Initialize, (void*)engine->Uninitialize, (void*)engine->CreateTask,
                       (void*)engine->DeleteTask, (void*)engine->StartTask, (void*)engine->StopTask,
                       (void*)engine->QueryTask})
        EXPECT_NE(nullptr, entry);

    DownloadTaskParams* params = new DownloadTaskParams;
    InitDownloadTaskParams(*params);
    ASSERT_TRUE(SetDownloadTaskTexts(*params, server.WideUrl("/p.bin").c_str(), L"p.bin", saveFolder.c_str()));
    int task = engine->CreateTask(params);
    delete params;
    ASSERT_NE(0, task);
    ASSERT_NE(0, engine->StartTask(task));
    DownloadTaskInfo info = {};
    for (int round = 0; round < 120; ++round) {
        if (engine->QueryTask(task, &info) && (info.status == 1 || info.status == 2 || info.status == 4)) break;
        Sleep(250);
    }
    EXPECT_EQ(kTaskFinished, info.status);
    EXPECT_TRUE(ReadWholeFile(saveFolder + L"\\" + info.fileName) == content);
    engine->DeleteTask(task);
    engine->Uninitialize();  // as the download page's destructor does; exit calls it again

    app.ExitInstance();
    EXPECT_EQ(nullptr, app.m_downloadEngine);
    RemoveTree(saveFolder);
}

// A static OpenSSL pins the module that contains it unless built with
// no-pinshared; pinned, the engine DLL would stay loaded after FreeLibrary,
// its file could not be deleted and the exit would leave the work folder.
TEST(EngineFromPayload, ExitUnloadsTheEngineSoTheWorkFolderGoes) {
    ProgramModule program;
    ASSERT_NE(nullptr, program.Get());
    CTarvelApp app;
    app.m_payloadModule = program.Get();
    app.PrepareWorkFolder();
    ASSERT_EQ(1, app.EnsureDownloadEngine());
    CString workFolder = app.m_workFolder;
    app.ExitInstance();
    EXPECT_EQ(nullptr, GetModuleHandleW(FixedText::kEngineLibraryName));
    EXPECT_FALSE(FileExists(workFolder.GetString()));
}
