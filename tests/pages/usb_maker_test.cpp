// The USB disk maker page in the main window, on a simulated machine with a
// USB stick: the disk list, the image list, the erase question and the disk
// checks at Start, the views a job passes through, the disk written by the
// maker, and the ways a job ends early.
#include <gtest/gtest.h>
#include <windows.h>

#include <deque>
#include <string>
#include <vector>

#include "../controls/controls_test_support.h"
#include "../disk/usb_test_support.h"
#include "controls/message_box.h"
#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/tarvel_app.h"
#include "pages/hotkey_dlg.h"
#include "pages/usb_maker.h"
#include "download_queue_test_support.h"
#include "pages_test_support.h"
#include "support/temp_folder.h"
#include "support/test_files.h"

namespace {

const wchar_t* const kWork = L"C:\\Work";
const wchar_t* const kData = L"D:\\Data";

class UsbMakerPage : public testing::Test {
protected:
    void SetUp() override {
        ForgetHungTools();
        BuildUsbMachine(machine, 3);
        previousStorage = SetStorageCalls(&machine);
        previousHost = SetBootHost(&machine);
        CTarvelApp* app = GetTarvelApp();
        saved.modulePath = app->m_modulePath;
        saved.workFolder = app->m_workFolder;
        saved.dataFolder = app->m_dataFolder;
        saved.configLoaded = app->m_configLoaded;
        saved.storagePass = app->m_storagePass;
        saved.usbPeIndex = app->m_usbPeIndex;
        saved.engine = app->m_downloadEngine;
        ASSERT_TRUE(window.Create());
        ASSERT_TRUE(window.WaitForCheck());
        Pump(100);
        boxes.texts.clear();
        // The catalogue the page works from, after the check has run.
        app->m_modulePath = L"C:\\Program Files\\Kavetta\\kavetta.exe";
        app->m_workFolder = kWork;
        app->m_dataFolder = kData;
        savedPe.Copy(app->m_peImages);
        savedImages.Copy(app->m_osImages);
        savedTool = app->m_toolFile;
        savedExtra = app->m_extraFile2;
        app->m_peImages.RemoveAll();
        for (const wchar_t* name : {L"pe7.wim", L"pe8.wim", L"pe10.wim"}) {
            COnlinefileinfo record;
            record.m_sectionName = name;
            record.m_fileName = name;
            record.m_title = name;
            app->m_peImages.Add(record);
        }
        app->m_usbPeIndex = 2;
        app->m_toolFile = COnlinefileinfo();
        app->m_extraFile2 = COnlinefileinfo();
        app->m_osImages.RemoveAll();
        // The USB tab, as the check's end or the user opens it.
        window.dlg->SendMessage(WM_TAB_BUTTON_CONTROL, 2, 1);
        window.dlg->SendMessage(WM_TAB_BUTTON_CONTROL, 2, 2);
        Pump(200);
        page().RefreshDeviceList();
    }
    void TearDown() override {
        // Whatever a test left running ends before the machine goes.
        page().StopJobs();
        PumpUntil([&] { return !page().WorkersRunning(); }, 30000);
        CTarvelApp* app = GetTarvelApp();
        app->m_modulePath = saved.modulePath;
        app->m_workFolder = saved.workFolder;
        app->m_dataFolder = saved.dataFolder;
        app->m_configLoaded = saved.configLoaded;
        app->m_storagePass = saved.storagePass;
        app->m_usbPeIndex = saved.usbPeIndex;
        app->m_downloadEngine = saved.engine;
        app->m_peImages.Copy(savedPe);
        app->m_osImages.Copy(savedImages);
        app->m_toolFile = savedTool;
        app->m_extraFile2 = savedExtra;
        if (window.dlg->GetSafeHwnd()) window.dlg->DestroyWindow();
        app->m_pMainWnd = nullptr;
        window.dlg.reset();
        SetStorageCalls(previousStorage);
        SetBootHost(previousHost);
    }
    CUsbMaker& page() { return *window.dlg->m_usbPage; }
    // The files the writer needs, on the simulated machine.
    void ProvideWriterFiles() {
        AddUsbWriterSources(machine, kWork);
        machine.AddFolder(kData);
        CTarvelApp* app = GetTarvelApp();
        Downloaded(app->m_peImages[2], 200ull << 20);
        app->m_toolFile.m_sectionName = L"tool";
        app->m_toolFile.m_fileName = L"kvttool.7z";
        app->m_toolFile.m_title = L"工具";
        Downloaded(app->m_toolFile, 50ull << 20);
    }
    void Downloaded(COnlinefileinfo& record, ULONGLONG size) {
        machine.AddFile(std::wstring(kData) + L"\\" + record.m_fileName.GetString(), size);
        record.m_checkState = 3;
    }
    bool BackInViewOne(DWORD ms = 60000) {
        return PumpUntil([&] { return page().m_view == 1 && page().m_jobRunning == 0 && !page().m_makingDisk; }, ms);
    }
    bool Shown(const wchar_t* text) const { return boxes.Shown(text); }
    // Saves the page as drawn under the build folder.
    void Screenshot(const wchar_t* file) {
        page().RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_ERASE);
        Pump(200);
        EXPECT_GT(CaptureWindow(page().GetSafeHwnd(), file), 20);
    }
    void ClickStart() { page().SendMessage(WM_COMMAND, MAKEWPARAM(IDC_USB_START, BN_CLICKED), 0); }
    // Start with the boot environment still to fetch and no engine to be had.
    void StartWithoutAnEngine() {
        CTarvelApp* app = GetTarvelApp();
        app->m_downloadEngine = nullptr;
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        app->m_workFolder = CString(temp) + L"kavetta_no_engine";
        app->m_peImages[2].m_checkState = 0;
        ClickStart();
    }

    struct Saved {
        CString modulePath, workFolder, dataFolder;
        int configLoaded, storagePass, usbPeIndex;
        DownWrapper* engine;
    } saved;
    CArray<COnlinefileinfo> savedPe, savedImages;
    COnlinefileinfo savedTool, savedExtra;
    FakeMachine machine;
    IStorageCalls* previousStorage = nullptr;
    IBootHost* previousHost = nullptr;
    MainWindowFixture window;
    BoxAnswerer boxes;
};

TEST_F(UsbMakerPage, ListedDisksSelectTheFirstAndEnableStart) {
    EXPECT_EQ(1, page().m_deviceList.GetCount());
    EXPECT_EQ(0, page().m_deviceList.GetCurSel());
    EXPECT_TRUE(page().m_startButton.IsWindowEnabled());
    EXPECT_FALSE(page().m_emptyPicture.GetStyle() & WS_VISIBLE);
    EXPECT_TRUE(page().m_deviceList.GetStyle() & WS_VISIBLE);

    machine.disks.pop_back();  // the stick is pulled
    page().RefreshDeviceList();
    EXPECT_EQ(0, page().m_deviceList.GetCount());
    EXPECT_FALSE(page().m_startButton.IsWindowEnabled());
    EXPECT_TRUE(page().m_emptyPicture.GetStyle() & WS_VISIBLE);
    EXPECT_FALSE(page().m_deviceList.GetStyle() & WS_VISIBLE);
    EXPECT_FALSE(page().m_deviceLabel.GetStyle() & WS_VISIBLE);
}

TEST_F(UsbMakerPage, ImageListFollowsTheUsbListSwitches) {
    CTarvelApp* app = GetTarvelApp();
    // Entries 0..3 are the catalogue, 4..5 the recommended ones; entry 2 is not offered for USB.
    for (int i = 0; i < 6; ++i) {
        COnlinefileinfo record;
        record.m_title.Format(L"系统 %d", i);
        record.m_usbOffer = i == 2 ? 0 : 1;
        app->m_osImages.Add(record);
    }
    const int savedStart = app->m_recommend1Start, savedOrder = app->m_usbListOrder, savedMain = app->m_usbShowMain,
              savedRec = app->m_usbShowRecommended;
    app->m_recommend1Start = 4;
    struct Case {
        int order, showMain, showRecommended;
        std::vector<int> ids;
    } cases[] = {
        {0, 1, 1, {0, 1, 3, 4, 5}},
        {1, 1, 1, {4, 5, 0, 1, 3}},
        {0, 0, 1, {4, 5}},
        {1, 1, 0, {0, 1, 3}},
        {0, 2, 2, {}},
    };
    for (const Case& c : cases) {
        app->m_usbListOrder = c.order;
        app->m_usbShowMain = c.showMain;
        app->m_usbShowRecommended = c.showRecommended;
        page().FillImageList();
        std::vector<int> ids;
        for (INT_PTR i = 0; i < page().m_imageList.m_items.GetSize(); ++i) {
            ids.push_back(page().m_imageList.m_items[i]->id);
            EXPECT_EQ(66, page().m_imageList.m_items[i]->height);
        }
        EXPECT_EQ(c.ids, ids) << c.order << c.showMain << c.showRecommended;
    }
    app->m_recommend1Start = savedStart;
    app->m_usbListOrder = savedOrder;
    app->m_usbShowMain = savedMain;
    app->m_usbShowRecommended = savedRec;
}

HWND g_helpFound = nullptr;

BOOL CALLBACK FindHelpDialog(HWND h, LPARAM p) {
    if (dynamic_cast<Chotkey*>(CWnd::FromHandlePermanent(h))) *reinterpret_cast<HWND*>(p) = h;
    return TRUE;
}

void CALLBACK EscapeTheHelpDialog(HWND, UINT, UINT_PTR id, DWORD) {
    HWND help = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindHelpDialog, reinterpret_cast<LPARAM>(&help));
    if (!help) return;
    KillTimer(nullptr, id);
    g_helpFound = help;
    PostMessageW(help, WM_KEYDOWN, VK_ESCAPE, 0);
}

TEST_F(UsbMakerPage, HelpOpensTheBootKeyDialogWhichEscapeCloses) {
    ASSERT_TRUE(page().m_helpButton.GetStyle() & WS_VISIBLE);
    // The dialog runs modally inside the click; a timer sends it Escape
    // through its own loop, which keeps the stock key handling.
    g_helpFound = nullptr;
    SetTimer(nullptr, 0, 100, EscapeTheHelpDialog);
    page().m_helpButton.SendMessage(BM_CLICK);
    EXPECT_TRUE(g_helpFound != nullptr);
    EXPECT_FALSE(IsWindow(g_helpFound));
}

TEST_F(UsbMakerPage, NoToTheEraseWarningDoesNothing) {
    boxes.script = {false};
    ClickStart();
    Pump(200);
    ASSERT_EQ(1u, boxes.texts.size());
    // The warning names the disk it is about.
    EXPECT_NE(std::wstring::npos, boxes.texts[0].find(L"F:")) << boxes.texts[0];
    EXPECT_EQ(1, page().m_view);
    EXPECT_EQ(0, page().m_jobRunning);
}

TEST_F(UsbMakerPage, RefusesTheDiskTheProgramRunsFrom) {
    // The drive of the running program, in another letter case than the list's.
    GetTarvelApp()->m_modulePath = L"f:\\kavetta.exe";
    ClickStart();
    Pump(300);
    ASSERT_EQ(2u, boxes.texts.size());
    EXPECT_EQ(FixedText::kUsbProgramDiskRefused, boxes.texts[1]);
    EXPECT_EQ(1, page().m_view);
    EXPECT_EQ(0, page().m_jobRunning);
    EXPECT_TRUE(machine.runs.empty());
}

TEST_F(UsbMakerPage, RefusesADiskHoldingTheDataFolder) {
    GetTarvelApp()->m_dataFolder = L"F:\\Data";
    ClickStart();
    Pump(300);
    ASSERT_EQ(2u, boxes.texts.size());
    EXPECT_EQ(1, page().m_view);
    EXPECT_EQ(0, page().m_jobRunning);
    EXPECT_TRUE(machine.runs.empty());
}

TEST_F(UsbMakerPage, WithTheDataFolderOnlyFromTheFallbackNoImageIsOffered) {
    CTarvelApp* app = GetTarvelApp();
    app->m_configLoaded = 1;
    app->m_storagePass = 3;
    // The boot environment must be fetched and cannot be: the job ends before any tool runs.
    app->m_peImages[2].m_checkState = 0;
    app->m_peImages[2].m_requiredUsb = 1;
    ClickStart();
    EXPECT_EQ(3, page().m_view);
    EXPECT_EQ(1, page().m_jobRunning);
    ASSERT_TRUE(BackInViewOne());
    EXPECT_GE(boxes.texts.size(), 2u);
    EXPECT_TRUE(machine.runs.empty());
}

TEST_F(UsbMakerPage, WithTheConfigurationAndAFolderTheImageChoiceComesFirst) {
    CTarvelApp* app = GetTarvelApp();
    app->m_configLoaded = 1;
    app->m_storagePass = 1;
    ClickStart();
    Pump(200);
    EXPECT_EQ(2, page().m_view);
    EXPECT_TRUE(page().m_imageList.GetStyle() & WS_VISIBLE);
    EXPECT_FALSE(page().m_deviceList.GetStyle() & WS_VISIBLE);
    // Nothing chosen: a question that closes itself, and the choice stays.
    page().SendMessage(WM_COMMAND, MAKEWPARAM(IDC_USB_MAKE_WITH_IMAGE, BN_CLICKED), 0);
    Pump(200);
    EXPECT_EQ(FixedText::kUsbChooseImage, boxes.texts.back());
    EXPECT_EQ(2, page().m_view);
    EXPECT_EQ(0, page().m_jobRunning);
}

TEST_F(UsbMakerPage, AnUnavailableEngineReturnsToViewOneWithANotice) {
    StartWithoutAnEngine();
    ASSERT_TRUE(BackInViewOne());
    EXPECT_TRUE(Shown(FixedText::kUsbEngineUnavailable));
    EXPECT_TRUE(machine.runs.empty());
}

TEST_F(UsbMakerPage, DebugModeNotesEachQueuedFileThenTheFirstStepBeforeItRuns) {
    CTarvelApp* app = GetTarvelApp();
    const int savedDebug = app->m_debugMode;
    app->m_debugMode = 1;
    StartWithoutAnEngine();
    const bool back = BackInViewOne();
    app->m_debugMode = savedDebug;
    ASSERT_TRUE(back);
    // The erase warning, the queued file, the note before the first step,
    // and only then what the first step found.
    CString first;
    first.Format(FixedText::kUsbDebugFirstStepFormat, 1);
    const std::vector<std::wstring> expected = {std::wstring(L"pe10.wim") + FixedText::kUsbDebugQueuedSuffix,
                                                first.GetString(), FixedText::kUsbEngineUnavailable};
    ASSERT_EQ(4u, boxes.texts.size()) << Utf8Of(boxes.Last());
    EXPECT_EQ(expected, std::vector<std::wstring>(boxes.texts.begin() + 1, boxes.texts.end()));
}

TEST_F(UsbMakerPage, MakesTheDiskAndReturnsToViewOne) {
    ProvideWriterFiles();
    ClickStart();
    EXPECT_EQ(3, page().m_view);
    ASSERT_TRUE(BackInViewOne());
    EXPECT_TRUE(Shown(FixedText::kUsbMakeSucceeded)) << (boxes.texts.empty() ? L"" : boxes.texts.back());
    EXPECT_FALSE(machine.runs.empty());
    EXPECT_FALSE(DiskMakerRunning());
    EXPECT_TRUE(page().m_deviceList.GetStyle() & WS_VISIBLE);
}

TEST_F(UsbMakerPage, CopiesTheImageAndTheExtraFileWhenNothingIsLeftToFetch) {
    ProvideWriterFiles();
    CTarvelApp* app = GetTarvelApp();
    app->m_configLoaded = 1;
    app->m_storagePass = 2;
    COnlinefileinfo image;
    image.m_title = L"系统";
    image.m_fileName = L"win10.gho";
    image.m_usbOffer = 1;
    app->m_osImages.Add(image);
    Downloaded(app->m_osImages[0], 300ull << 20);
    app->m_extraFile2.m_sectionName = L"extra";
    app->m_extraFile2.m_fileName = L"extra.exe";
    Downloaded(app->m_extraFile2, 6ull << 20);
    page().FillImageList();
    ClickStart();
    ASSERT_TRUE(PumpUntil([&] { return page().m_view == 2; }, 60000));
    page().m_imageList.m_selectedId = 0;
    page().SendMessage(WM_COMMAND, MAKEWPARAM(IDC_USB_MAKE_WITH_IMAGE, BN_CLICKED), 0);
    ASSERT_TRUE(BackInViewOne());
    EXPECT_TRUE(Shown(FixedText::kUsbMakeSucceeded)) << (boxes.texts.empty() ? L"" : boxes.texts.back());
    CString drive = page().m_driveLetter;
    ASSERT_FALSE(drive.IsEmpty());
    EXPECT_TRUE(machine.HasFile((drive + FixedText::kUsbImagePath + L"win10.gho").GetString()));
    EXPECT_TRUE(machine.HasFile((drive + FixedText::kUsbExtraPath + L"extra.exe").GetString()));
}

TEST_F(UsbMakerPage, AFailedWriteIsReportedAsAFailure) {
    // No boot-record file: the writer refuses before any tool runs.
    ProvideWriterFiles();
    machine.files.erase(FakeMachine::Upper(std::wstring(kWork) + L"\\" + FixedText::kUsbBootRecordFile));
    ClickStart();
    ASSERT_TRUE(BackInViewOne());
    EXPECT_FALSE(Shown(FixedText::kUsbMakeSucceeded));
    EXPECT_TRUE(machine.runs.empty());
    EXPECT_FALSE(DiskMakerRunning());
}

TEST_F(UsbMakerPage, VolumeToolConvertsOnlyTheSecondKnownFileSystem) {
    struct Case {
        const wchar_t* fileSystem;
        int exitCode;
        bool runs;
        const wchar_t* notice;
    } cases[] = {
        {L"FAT32", 0, true, FixedText::kUsbVolumeToolSucceeded},
        {L"FAT32", 5, true, FixedText::kUsbVolumeToolFailed},
        {L"NTFS", 0, false, FixedText::kUsbVolumeAlreadyConverted},
        {L"exFAT", 0, false, FixedText::kUsbVolumeNotConvertible},
    };
    for (const Case& c : cases) {
        machine.volumes[2].fileSystem = c.fileSystem;
        machine.runs.clear();
        machine.exitCodes = {{1, c.exitCode}};
        boxes.texts.clear();
        page().SendMessage(WM_COMMAND, MAKEWPARAM(IDC_USB_VOLUME_TOOL, BN_CLICKED), 0);
        EXPECT_EQ(3, page().m_view) << c.fileSystem;
        ASSERT_TRUE(BackInViewOne()) << c.fileSystem;
        ASSERT_EQ(1u, boxes.texts.size()) << c.fileSystem;
        EXPECT_EQ(c.notice, boxes.texts[0]) << c.fileSystem;
        if (c.runs) {
            ASSERT_EQ(1u, machine.runs.size());
            EXPECT_EQ(std::wstring(FixedText::kUsbVolumeTool) + L"|F: /fs:ntfs /x", machine.runs[0]);
        } else {
            EXPECT_TRUE(machine.runs.empty()) << c.fileSystem;
        }
    }
}

TEST_F(UsbMakerPage, VolumeToolRefusesTheDiskTheProgramRunsFrom) {
    GetTarvelApp()->m_modulePath = L"F:\\kavetta.exe";
    page().SendMessage(WM_COMMAND, MAKEWPARAM(IDC_USB_VOLUME_TOOL, BN_CLICKED), 0);
    Pump(200);
    EXPECT_EQ(1, page().m_view);
    EXPECT_EQ(0, page().m_jobRunning);
    EXPECT_TRUE(machine.runs.empty());
    ASSERT_EQ(1u, boxes.texts.size());
    EXPECT_EQ(FixedText::kUsbProgramDiskRefused, boxes.texts[0]);
}

TEST_F(UsbMakerPage, DiskToolAsksTheEraseQuestionFirst) {
    ProvideWriterFiles();
    machine.AddFile(std::wstring(kWork) + L"\\" + FixedText::kUsbDiskTool, 1024);
    boxes.script = {false};
    page().SendMessage(WM_COMMAND, MAKEWPARAM(IDC_USB_DISK_TOOL, BN_CLICKED), 0);
    Pump(200);
    EXPECT_EQ(1, page().m_view);
    EXPECT_TRUE(machine.runs.empty());
    ASSERT_EQ(1u, boxes.texts.size());
    EXPECT_NE(std::wstring::npos, boxes.texts[0].find(L"F:")) << boxes.texts[0];

    boxes.texts.clear();
    page().SendMessage(WM_COMMAND, MAKEWPARAM(IDC_USB_DISK_TOOL, BN_CLICKED), 0);
    ASSERT_TRUE(BackInViewOne());
    ASSERT_FALSE(machine.runs.empty());
    EXPECT_NE(std::wstring::npos, machine.runs.back().find(FixedText::kUsbDiskTool));
    EXPECT_TRUE(Shown(FixedText::kUsbDiskToolSucceeded)) << (boxes.texts.empty() ? L"" : boxes.texts.back());
}

TEST_F(UsbMakerPage, Screenshots) {
    Screenshot(L"page_usb_view1.png");
    CTarvelApp* app = GetTarvelApp();
    for (int i = 0; i < 3; ++i) {
        COnlinefileinfo record;
        record.m_title.Format(L"Windows 10 专业版 64位 %d", i);
        record.m_detail1 = L"4.5GB";
        record.m_detail2 = L"2026-01";
        record.m_description = L"纯净版，适合大多数电脑";
        record.m_usbOffer = 1;
        app->m_osImages.Add(record);
    }
    page().FillImageList();
    page().SwitchView(2, 0);
    EXPECT_FALSE(page().m_deviceList.GetStyle() & WS_VISIBLE);
    EXPECT_TRUE(page().m_withImageButton.GetStyle() & WS_VISIBLE);
    Screenshot(L"page_usb_view2.png");
    page().SwitchView(3, 0);
    page().m_statusText.SetWindowText(FixedText::kUsbWaitingForImage);
    page().m_statusText2.SetWindowText(CString(FixedText::kUsbDownloadingPrefix) + L"Windows 10  42%");
    EXPECT_FALSE(page().m_imageList.GetStyle() & WS_VISIBLE);
    Screenshot(L"page_usb_view3.png");
    page().SwitchView(1, 1);
    EXPECT_EQ(0, page().m_jobRunning);
    EXPECT_TRUE(page().m_deviceList.GetStyle() & WS_VISIBLE);
}

// The line of a local digest's progress names the file being checked: also
// on a run after a check has rebuilt the catalogue, while the queue still
// remembers the last file of its previous run.
TEST_F(UsbMakerPage, CheckProgressAfterARecheckNamesTheFileBeingChecked) {
    CTarvelApp* app = GetTarvelApp();
    TempFolder data;
    app->m_dataFolder = data.Path().c_str();
    SetDownloadFolders(app->m_dataFolder, L"kvt_records.ini", L"records", L"usb-test", L"");
    ScriptedEngine engine;
    page().m_queue.m_engine = engine.Wrapper();

    // A first run whose last file is the tool file, which has no mirror.
    app->m_peImages[2].m_checkState = 3;
    app->m_toolFile.m_sectionName = L"tool";
    app->m_toolFile.m_fileName = L"kvttool.7z";
    app->m_toolFile.m_title = L"工具文件";
    app->m_toolFile.m_requiredUsb = 1;
    ClickStart();
    ASSERT_TRUE(BackInViewOne());
    ASSERT_EQ(&app->m_toolFile, page().m_queue.m_currentFile);

    // The check runs again and rebuilds the catalogue. The boot environment
    // now lies in the data folder: a sparse gigabyte, so that its digest
    // outlasts the first second of the progress line on any machine, and
    // not the expected file, so that it is not accepted.
    app->m_toolFile.m_sectionName.Empty();
    app->m_peImages.RemoveAll();
    for (const wchar_t* name : {L"pe7.wim", L"pe8.wim", L"pe10.wim"}) {
        COnlinefileinfo record;
        record.m_sectionName = name;
        record.m_fileName = name;
        record.m_title = CString(L"启动环境 ") + name;
        record.m_matchMode = 1;
        record.m_requiredUsb = 1;
        app->m_peImages.Add(record);
    }
    app->m_peImages[2].m_expectedMd5 = L"0123456789ABCDEF0123456789ABCDEF";
    {
        HANDLE file = CreateFileW(data.File(L"pe10.wim").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD returned = 0;
        DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
        LARGE_INTEGER size;
        size.QuadPart = 1LL << 30;
        EXPECT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file));
        CloseHandle(file);
    }
    const CString title = app->m_peImages[2].m_title;

    boxes.texts.clear();
    std::vector<CString> lines;
    ClickStart();
    EXPECT_TRUE(PumpUntil(
        [&] {
            CString line;
            page().m_statusText.GetWindowText(line);
            if (lines.empty() || lines.back() != line) lines.push_back(line);
            return page().m_view == 1 && page().m_jobRunning == 0 && !page().m_makingDisk;
        },
        120000));
    page().m_queue.m_engine = nullptr;
    EXPECT_EQ(1, app->m_peImages[2].m_checkState) << "the local copy was examined and not taken";
    const CString progressHead = title + FixedText::kUsbVerifying;
    bool progressShown = false;
    for (const CString& line : lines) {
        progressShown = progressShown || line.Find(progressHead) == 0;
        EXPECT_EQ(-1, line.Find(L"工具文件")) << Utf8Of(line.GetString());
    }
    EXPECT_TRUE(progressShown) << "a progress line of the digest names " << Utf8Of(title.GetString());
}

}  // namespace
