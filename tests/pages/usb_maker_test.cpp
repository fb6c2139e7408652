// The USB disk maker page in the main window, on a simulated machine with a
// USB stick: the disk list, the image list, the erase question and the disk
// checks at Start, the views a job passes through, the disk written by the
// maker, and the ways a job ends early.
#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../controls/controls_test_support.h"
#include "../disk/usb_test_support.h"
#include "controls/message_box.h"
#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/process_file_utils.h"
#include "core/tarvel_app.h"
#include "disk/usb_disk_guard.h"
#include "pages/hotkey_dlg.h"
#include "pages/usb_maker.h"
#include "download_queue_test_support.h"
#include "pages_test_support.h"
#include "support/temp_folder.h"
#include "support/test_files.h"

namespace {

const wchar_t* const kWork = L"C:\\Work";
const wchar_t* const kData = L"D:\\Data";

// Where the system's converter must be started from: the real System32 of
// the Windows folder (Sysnative from a 32-bit process on 64-bit Windows).
std::wstring SystemConverterPath() {
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    std::wstring path = windows;
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path + (wow64 ? L"\\Sysnative\\" : L"\\System32\\") + FixedText::kUsbVolumeTool;
}

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
        EXPECT_TRUE(PumpUntil([&] { return !page().WorkersRunning(); }, 120000))
            << "waited 120 s for the page's workers to end after the test";
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
public:
    CUsbMaker& page() { return *window.dlg->m_usbPage; }
    COnlinefileinfo& GetImage() { return GetTarvelApp()->m_osImages[0]; }
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
    // A job with the image `image` (already in m_osImages at 0), from Start to view 3.
    void StartWithImage() {
        CTarvelApp* app = GetTarvelApp();
        app->m_configLoaded = 1;
        app->m_storagePass = 2;
        page().FillImageList();
        ClickStart();
        ASSERT_TRUE(PumpUntil([&] { return page().m_view == 2; }, 60000)) << "waited 60 s for the image choice";
        page().m_imageList.m_selectedId = 0;
        page().SendMessage(WM_COMMAND, MAKEWPARAM(IDC_USB_MAKE_WITH_IMAGE, BN_CLICKED), 0);
    }
    // The chosen image of the catalogue: "win10.gho", titled 系统.
    COnlinefileinfo& AddImage() {
        COnlinefileinfo image;
        image.m_sectionName = L"win10";
        image.m_title = L"系统";
        image.m_fileName = L"win10.gho";
        image.m_usbOffer = 1;
        GetTarvelApp()->m_osImages.Add(image);
        return GetTarvelApp()->m_osImages[0];
    }
    // For each case of a table: the stick as it came, the writer's files and
    // the image as the only catalogue entry.
    COnlinefileinfo& FreshStickAndImage() {
        machine = FakeMachine();
        BuildUsbMachine(machine, 3);
        ForgetHungTools();
        boxes.texts.clear();
        page().RefreshDeviceList();
        ProvideWriterFiles();
        GetTarvelApp()->m_osImages.RemoveAll();
        return AddImage();
    }
    CString ImageOnStick() const { return CString(L"F:") + FixedText::kUsbImagePath + L"win10.gho"; }
    // The download engine beside the test program, for runs that queue a file.
    void BindEngine() {
        CTarvelApp* app = GetTarvelApp();
        app->m_workFolder = TestProgramDirectory().c_str();
        // As if this process had made that folder and unpacked the tools there.
        app->m_workFolderCreated = true;
        if (!app->m_toolsReady) app->m_toolsReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        app->FinishUnpack(TRUE);
        bool bound = app->EnsureDownloadEngine() != 0;
        app->m_workFolderCreated = false;  // the exit must not delete the test program's folder
        ASSERT_TRUE(bound);
        saved.engine = app->m_downloadEngine;  // kept for the tests after this one
        app->m_workFolder = kWork;
    }
    int RunsOf(const wchar_t* part) const {
        int n = 0;
        for (const std::wstring& run : machine.runs) n += run.find(part) != std::wstring::npos;
        return n;
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

// The tool buttons follow Start: with no stick listed nothing can be chosen,
// and neither tool asks about (or touches) a disk without a name.
TEST_F(UsbMakerPage, TheToolButtonsFollowStartAndAskNothingWithoutAStick) {
    CxSkinButton* buttons[] = {&page().m_startButton, &page().m_diskToolButton, &page().m_volumeToolButton};
    for (CxSkinButton* button : buttons) EXPECT_TRUE(button->IsWindowEnabled());
    EXPECT_TRUE(page().m_helpButton.IsWindowEnabled());
    machine.AddFile(std::wstring(kWork) + L"\\" + FixedText::kUsbDiskTool, 1024);
    machine.disks.pop_back();  // the stick is pulled
    page().RefreshDeviceList();
    ASSERT_EQ(0, page().m_deviceList.GetCount());
    for (CxSkinButton* button : buttons) EXPECT_FALSE(button->IsWindowEnabled());
    EXPECT_TRUE(page().m_helpButton.IsWindowEnabled()) << "the help has nothing to do with a disk";
    Screenshot(L"page_usb_no_stick.png");
    for (int id : {IDC_USB_DISK_TOOL, IDC_USB_VOLUME_TOOL, IDC_USB_START}) {
        page().SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        Pump(200);
        EXPECT_TRUE(boxes.texts.empty()) << id << ": " << Utf8Of(boxes.Last());
        EXPECT_EQ(1, page().m_view);
        EXPECT_EQ(0, page().m_jobRunning);
    }
    EXPECT_TRUE(machine.runs.empty());
    machine = FakeMachine();  // the stick is back
    BuildUsbMachine(machine, 3);
    page().RefreshDeviceList();
    for (CxSkinButton* button : buttons) EXPECT_TRUE(button->IsWindowEnabled());
}

// A device change reaches the list once the first USB refresh has turned the
// watch on, and only in view 1: while a job runs (view 3) the writer uses
// the inventory, and the list stays as it was until the job ends.
TEST_F(UsbMakerPage, DeviceChangesAreHandledOnlyAfterTheFirstUsbRefresh) {
    DEV_BROADCAST_HDR volume = {sizeof(DEV_BROADCAST_VOLUME), DBT_DEVTYP_VOLUME, 0};
    DEV_BROADCAST_HDR deviceInterface = {sizeof(DEV_BROADCAST_DEVICEINTERFACE_W), DBT_DEVTYP_DEVICEINTERFACE, 0};
    DEV_BROADCAST_HDR port = {sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_PORT, 0};
    CTarvelApp* app = GetTarvelApp();
    FakeDisk& stick = machine.disks.back();
    struct Case {
        const char* what;
        int watch;             // the device watch, as the first USB refresh leaves it
        int view;
        bool stickThere;       // the stick as the change finds it
        UINT event;
        DEV_BROADCAST_HDR* header;
        LRESULT answer;
        int listed;            // the list's disks afterwards
    } cases[] = {
        {"before the first refresh: not handled", 0, 1, false, DBT_DEVICEREMOVECOMPLETE, &volume, 0, 1},
        {"the stick pulled", 1, 1, false, DBT_DEVICEREMOVECOMPLETE, &volume, TRUE, 0},
        {"the stick comes back", 1, 1, true, DBT_DEVICEARRIVAL, &volume, TRUE, 1},
        {"pulled, told by its interface", 1, 1, false, DBT_DEVICEREMOVECOMPLETE, &deviceInterface, TRUE, 0},
        {"back, told by its interface", 1, 1, true, DBT_DEVICEARRIVAL, &deviceInterface, TRUE, 1},
        {"a removal asked for is no removal", 1, 1, false, DBT_DEVICEQUERYREMOVE, &volume, TRUE, 1},
        {"a change without a header", 1, 1, false, DBT_DEVICEREMOVECOMPLETE, nullptr, TRUE, 1},
        {"a port's change", 1, 1, false, DBT_DEVICEREMOVECOMPLETE, &port, TRUE, 1},
        {"while a job runs", 1, 3, false, DBT_DEVICEREMOVECOMPLETE, &volume, TRUE, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // An arrival finds the list without the stick; any other change finds it listed.
        stick.present = c.event != DBT_DEVICEARRIVAL;
        page().SwitchView(1, 1);
        page().RefreshDeviceList();  // a view already shown is not listed again
        ASSERT_EQ(stick.present ? 1 : 0, page().m_deviceList.GetCount());
        app->m_deviceWatchEnabled = c.watch;
        if (c.view != 1) page().SwitchView(c.view, 0);
        stick.present = c.stickThere;
        EXPECT_EQ(c.answer, window.dlg->SendMessage(WM_DEVICECHANGE, c.event, (LPARAM)c.header));
        EXPECT_EQ(c.listed, page().m_deviceList.GetCount());
        if (c.view != 1) page().SwitchView(1, 0);
    }
    // The first refresh turns the watch on and reads the list.
    stick.present = true;
    app->m_deviceWatchEnabled = 0;
    page().RefreshDeviceList();
    stick.present = false;
    EXPECT_EQ(0, window.dlg->SendMessage(WM_USB_REFRESH));
    EXPECT_EQ(1, app->m_deviceWatchEnabled);
    EXPECT_EQ(0, page().m_deviceList.GetCount());
    stick.present = true;
    EXPECT_EQ(TRUE, window.dlg->SendMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, (LPARAM)&volume));
    EXPECT_EQ(1, page().m_deviceList.GetCount());
}

// The disk confirmed at Yes cannot be opened once the maker runs (pulled in
// between): the job ends with its notice, nothing is written, view 1 again.
TEST_F(UsbMakerPage, ADiskThatCannotBeOpenedEndsTheJobWithItsNotice) {
    ProvideWriterFiles();
    ClickStart();
    // The maker starts from the queue's message, which this thread has not
    // handled yet: the disk fails to open from here on.
    ASSERT_EQ(3, page().m_view);
    machine.disks.back().openFails = true;
    ASSERT_TRUE(BackInViewOne());
    EXPECT_EQ(FixedText::kUsbCannotOpen, boxes.Last());
    EXPECT_FALSE(Shown(FixedText::kUsbMakeSucceeded));
    EXPECT_TRUE(machine.runs.empty());
    EXPECT_FALSE(DiskMakerRunning());
}

// The stick is swapped for another at the same path after the user's Yes:
// the serial number taken at Yes refuses it before any tool runs.
TEST_F(UsbMakerPage, AnotherStickAtTheConfirmedPathIsNeverWritten) {
    ProvideWriterFiles();
    machine.disks.back().serial = "SN-0815";
    ClickStart();
    // The maker starts from the queue's message, which this thread has not
    // handled yet: the other stick is in place from here on.
    ASSERT_EQ(3, page().m_view);
    machine.disks.back().serial = "SN-4711";
    ASSERT_TRUE(BackInViewOne());
    EXPECT_EQ(0u, boxes.Last().find(L"设备编号 3 已不是")) << Utf8Of(boxes.Last());
    EXPECT_TRUE(machine.runs.empty());
    EXPECT_FALSE(Shown(FixedText::kUsbMakeSucceeded));
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
    // Two files to fetch: the boot environment, then the tool file.
    app->m_toolFile.m_sectionName = L"tool";
    app->m_toolFile.m_fileName = L"kvttool.7z";
    app->m_toolFile.m_title = L"工具";
    // How many files the queue held as each box showed.
    std::vector<INT_PTR> queued;
    boxes.onShown = [&] { queued.push_back(page().m_queue.m_taskQueue.GetSize()); };
    StartWithoutAnEngine();
    const bool back = BackInViewOne();
    app->m_debugMode = savedDebug;
    ASSERT_TRUE(back);
    // The erase warning, each file's note as it is queued (before the next
    // file is checked), the note before the first step, and only then what
    // the first step found.
    CString first;
    first.Format(FixedText::kUsbDebugFirstStepFormat, 2);
    const std::vector<std::wstring> expected = {std::wstring(L"pe10.wim") + FixedText::kUsbDebugQueuedSuffix,
                                                std::wstring(L"工具") + FixedText::kUsbDebugQueuedSuffix,
                                                first.GetString(), FixedText::kUsbEngineUnavailable};
    ASSERT_EQ(5u, boxes.texts.size()) << Utf8Of(boxes.Last());
    EXPECT_EQ(expected, std::vector<std::wstring>(boxes.texts.begin() + 1, boxes.texts.end()));
    ASSERT_EQ(5u, queued.size());
    EXPECT_EQ((std::vector<INT_PTR>{1, 2, 2}), std::vector<INT_PTR>(queued.begin() + 1, queued.begin() + 4));
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

// A tool that comes back still running (it outlived its wait) may still be
// writing the stick: the job says it waits, and reports its end only once
// the tool has ended, on the failure path and on the success path, for the
// disk maker and for the disk tool; nothing restarts meanwhile. The tool
// here ends only after several of the job's 500 ms looks at it, and until
// then the page stays in the job view with the disk maker held and the tabs
// locked. Only the exit's stop ends the wait early.
TEST_F(UsbMakerPage, AJobWhoseToolOutlivesItsWaitEndsOnlyOnceTheToolHasEnded) {
    const int kSlicesWaited = 8;  // of the job's 500 ms looks at the tool
    struct Case {
        const char* name;
        bool diskTool;        // else the disk maker
        bool toolHangs;       // the job's own first tool run outlives its wait (the failure path)
        bool earlierStop;     // an earlier job was stopped by an exit that did not happen
        bool theExitStops;    // else the tool ends
        const wchar_t* notice;  // a part of the job's closing notice
    } cases[] = {
        {"maker: its first tool is left running", false, true, false, false, L"超时仍未结束"},
        {"maker: the disk is made while a tool still runs", false, false, false, false,
         FixedText::kUsbMakeSucceeded},
        {"maker: a tool left running after an earlier job's stop", false, true, true, false, L"超时仍未结束"},
        {"disk tool: left running after an earlier job's stop", true, true, true, false, L"超时仍未结束"},
        {"disk tool: done while a tool still runs, after an earlier stop", true, false, true, false,
         FixedText::kUsbDiskToolSucceeded},
        {"maker: the exit stops the job", false, true, false, true, L"超时仍未结束"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        window.dlg->SwitchTab(IDC_USB_TAB);
        ASSERT_EQ(IDC_USB_TAB, window.dlg->m_currentTabId);
        FreshStickAndImage();
        GetTarvelApp()->m_osImages.RemoveAll();
        machine.AddFile(std::wstring(kWork) + L"\\" + FixedText::kUsbDiskTool, 1024);
        // As an exit that was then refused leaves the page: the job stopped, view 1.
        if (c.earlierStop) page().StopJobs();
        // The job's first tool run outlives its wait: it counts as running, as
        // one left running does, until it has ended.
        if (c.toolHangs) machine.exitCodes = {{(int)machine.runs.size() + 1, 259}};
        std::unique_ptr<RunningToolScope> tool(new RunningToolScope);
        page().SendMessage(WM_COMMAND, MAKEWPARAM(c.diskTool ? IDC_USB_DISK_TOOL : IDC_USB_START, BN_CLICKED), 0);
        auto waitingForTool = [&] {
            CString line;
            page().m_statusText.GetWindowText(line);
            return line == FixedText::kUsbWaitingForTool;
        };
        ASSERT_TRUE(PumpUntil(waitingForTool, 120000)) << Utf8Of(boxes.Last());
        // The tool still runs for several slices: the job stays as it is.
        const DWORD start = GetTickCount();
        bool stayed = true;
        while (stayed && GetTickCount() - start < kSlicesWaited * 500) {
            Pump(50);
            stayed = page().m_view == 3 && page().m_jobRunning == 1 && page().m_makingDisk && DiskMakerRunning() &&
                     waitingForTool() && !Shown(c.notice);
        }
        EXPECT_TRUE(stayed) << "the job ended while its tool still ran: view " << page().m_view << ", "
                            << Utf8Of(boxes.Last());
        EXPECT_FALSE(page().WritesDisk()) << "nothing of ours writes while the tool is waited for";
        EXPECT_NE(kRestartAccepted, window.dlg->SendMessage(WM_REQUEST_REBOOT));
        EXPECT_EQ(0, GetTarvelApp()->m_rebootAtExit);
        window.dlg->SwitchTab(IDC_INSTALL_TAB);
        EXPECT_EQ(IDC_USB_TAB, window.dlg->m_currentTabId) << "the tabs stay locked";
        EXPECT_TRUE(Shown(FixedText::kNoticeUsbJobRunning));
        if (c.theExitStops) page().StopJobs();
        else tool.reset();
        ASSERT_TRUE(BackInViewOne(120000)) << Utf8Of(boxes.Last());
        EXPECT_TRUE(Shown(c.notice)) << Utf8Of(boxes.Last());
        EXPECT_FALSE(DiskMakerRunning());
        tool.reset();
        machine.exitCodes.clear();
        ForgetHungTools();  // the stick was noted as having a hung tool
    }
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

// The queue's end arrives on the page's thread while the maker's last call
// (back to view 1) is on its way there: it must not find the disk free and
// the job still in view 3.
LRESULT CALLBACK QueueEndBeforeTheLastCall(HWND, UINT, WPARAM, LPARAM);
struct GapProbe {
    WNDPROC previous = nullptr;
    CUsbMaker* page = nullptr;
    BoxAnswerer* boxes = nullptr;
    bool delivered = false;
} g_gap;

LRESULT CALLBACK QueueEndBeforeTheLastCall(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAGE_UI_CALL && !g_gap.delivered && g_gap.boxes->Shown(FixedText::kUsbMakeSucceeded) &&
        !FindMessageBox()) {
        // The first call after the success notice: the maker's last one.
        g_gap.delivered = true;
        g_gap.page->OnQueueEnd();
    }
    return CallWindowProcW(g_gap.previous, hwnd, message, wParam, lParam);
}

TEST_F(UsbMakerPage, AQueueEndJustBeforeTheMakersLastCallStartsNoSecondMaker) {
    ProvideWriterFiles();
    g_gap = GapProbe();
    g_gap.page = &page();
    g_gap.boxes = &boxes;
    g_gap.previous = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        page().GetSafeHwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(QueueEndBeforeTheLastCall)));
    ClickStart();
    const bool back = PumpUntil([&] { return g_gap.delivered; }, 60000) && BackInViewOne() &&
                      PumpUntil([&] { return !page().WorkersRunning(); }, 60000);
    SetWindowLongPtrW(page().GetSafeHwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_gap.previous));
    ASSERT_TRUE(back);
    EXPECT_EQ(1, RunsOf(L"/del /all")) << "one maker, one clearing";
    EXPECT_EQ(1, (int)std::count(boxes.texts.begin(), boxes.texts.end(), std::wstring(FixedText::kUsbMakeSucceeded)));
    EXPECT_FALSE(DiskMakerRunning());
}

TEST_F(UsbMakerPage, TheFinishedTextComesOnlyAfterTheFileWasAccepted) {
    CTarvelApp* app = GetTarvelApp();
    COnlinefileinfo& image = AddImage();
    page().SwitchView(3, 0);
    struct Case {
        tagDownloadTaskItem item;
        CColorText_Static* line;
    } cases[] = {{{&app->m_peImages[2], 0}, &page().m_statusText}, {{&image, 1}, &page().m_statusText2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item.kind);
        const CString finished = c.item.file->m_title + FixedText::kUsbDownloadFinished;
        c.line->SetWindowText(L"");
        // The engine reports the transfer finished; the file is not checked yet.
        page().OnTransferFinished(c.item, true);
        page().OnCompletionChecked(c.item);
        CString shown;
        c.line->GetWindowText(shown);
        EXPECT_EQ(-1, shown.Find(FixedText::kUsbDownloadFinished)) << Utf8Of(shown.GetString());
        // Accepted: only now is it called finished.
        page().OnEntryDone(c.item);
        c.line->GetWindowText(shown);
        EXPECT_STREQ(finished, shown);
    }
    page().m_events.ResetForJob();
    page().SwitchView(1, 0);
}

TEST_F(UsbMakerPage, AnImageTheQueueDidNotDeliverIsNotCopiedAndTheNoticeSaysSo) {
    // A partial file of the image's name lies in the data folder; the queue
    // must fetch the image and cannot (no mirror): given up when it is
    // optional, the queue's end when it is required.
    for (int required : {0, 1}) {
        SCOPED_TRACE(required ? "required: the queue ends early" : "optional: given up");
        COnlinefileinfo& image = FreshStickAndImage();
        BindEngine();
        image.m_requiredUsb = required;
        machine.AddFile(std::wstring(kData) + L"\\win10.gho", 300ull << 20);
        StartWithImage();
        ASSERT_TRUE(BackInViewOne()) << Utf8Of(boxes.Last());
        EXPECT_FALSE(machine.runs.empty()) << "the disk was written while the image was to come";
        EXPECT_FALSE(machine.HasFile(ImageOnStick().GetString()));
        for (const std::wstring& line : machine.log) EXPECT_EQ(std::wstring::npos, line.find(L"win10.gho ->")) << Utf8Of(line);
        CString notice;
        notice.Format(FixedText::kUsbMadeWithoutFiles, L"系统\r\n");
        // A required file's failure has its own notice as well, at about the same time.
        EXPECT_NE(boxes.texts.end(), std::find(boxes.texts.begin(), boxes.texts.end(), std::wstring(notice.GetString())))
            << Utf8Of(boxes.Last());
        EXPECT_FALSE(Shown(FixedText::kUsbMakeSucceeded));
    }
}

TEST_F(UsbMakerPage, TheMakersEndings) {
    struct Case {
        const char* name;
        std::function<void(UsbMakerPage&)> arrange;
        const wchar_t* notice;  // the last notice begins with this
        bool imageCopied;
        bool toolsRun;
    } cases[] = {
        {"everything copied", [](UsbMakerPage&) {}, FixedText::kUsbMakeSucceeded, true, true},
        {"the image's copy fails",
         [](UsbMakerPage& t) { t.machine.failingCopies.push_back(t.ImageOnStick().GetString()); },
         FixedText::kUsbCopyFailed, false, true},
        {"the job is stopped while the disk is written",
         [](UsbMakerPage& t) {
             // On the maker's thread, as the exit question's stop does it.
             t.machine.usbTools.after[L"kvtmbr.exe|/mbr"] = [&t](FakeMachine&) { t.page().m_events.Stop(); };
         },
         FixedText::kUsbStopped, false, true},
        {"the data partition has less room than the image needs",
         [](UsbMakerPage& t) {
             t.machine.usbTools.after[L"kvtmbr.exe|/mbr"] = [](FakeMachine& m) {
                 for (FakeVolume& v : m.volumes)
                     if (v.device == 3 && v.partition == 2) v.freeBytes = 1ull << 20;
             };
         },
         L"启动U盘已制作完成，但数据分区剩余空间不足", false, true},
        {"an image the stick cannot hold is refused before the stick is erased",
         [](UsbMakerPage& t) { t.Downloaded(t.GetImage(), 9ull << 30); }, L"U盘容量不足", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Downloaded(FreshStickAndImage(), 300ull << 20);
        c.arrange(*this);
        StartWithImage();
        ASSERT_TRUE(BackInViewOne()) << Utf8Of(boxes.Last());
        EXPECT_EQ(0u, boxes.Last().find(c.notice)) << Utf8Of(boxes.Last());
        EXPECT_EQ(c.imageCopied, machine.HasFile(ImageOnStick().GetString()));
        EXPECT_EQ(c.toolsRun, !machine.runs.empty());
        EXPECT_FALSE(DiskMakerRunning());
    }
}

// The chosen image comes from one mirror of a scripted engine whose transfer
// the test holds; the engine is the page's while the object lives.
struct HeldImageDownload {
    HeldImageDownload(CUsbMaker& page, COnlinefileinfo& image, LONGLONG announcedBytes) : page(page) {
        CTarvelApp* app = GetTarvelApp();
        const std::wstring url = L"http://127.0.0.1:9/held/win10.gho";
        ScriptedMirror mirror;
        mirror.content = "never finished";
        mirror.holdTransfer = true;
        mirror.announcedBytes = announcedBytes;
        engine.AddMirror(url, mirror);
        image.m_checkState = 0;
        image.m_linkCount = 0;
        image.m_linkIndices[image.m_linkCount++] = (int)app->m_fileLinks.Add(CFileLinkInfo(1, CString(url.c_str())));
        app->m_downloadEngine = engine.Wrapper();
        page.m_queue.m_engine = nullptr;
    }
    ~HeldImageDownload() {
        page.StopTask();
        PumpUntil([&] { return !page.WorkersRunning(); }, 60000);
        page.m_queue.m_engine = nullptr;
    }
    CUsbMaker& page;
    ScriptedEngine engine;
};

TEST_F(UsbMakerPage, WhileTheMakerWaitsForTheImageTheExitAsksAndStopsTheJobAsADownload) {
    HeldImageDownload download(page(), FreshStickAndImage(), 300ll << 20);
    ScriptedEngine& engine = download.engine;
    StartWithImage();
    // The stick is made and the maker waits for the image.
    ASSERT_TRUE(PumpUntil(
        [&] {
            CString line;
            page().m_statusText.GetWindowText(line);
            return line == FixedText::kUsbWaitingForImage;
        },
        120000))
        << Utf8Of(boxes.Last());
    EXPECT_TRUE(page().m_makingDisk);
    // Nothing is written while it waits: the exit is no longer refused.
    ASSERT_FALSE(page().WritesDisk());
    EXPECT_FALSE(window.dlg->AnyPageWritesDisk());
    boxes.texts.clear();
    window.dlg->m_closeButton.SendMessage(BM_CLICK);
    ASSERT_TRUE(PumpUntil([&] { return !window.dlg->IsWindowVisible(); }, 60000)) << Utf8Of(boxes.Last());
    ASSERT_FALSE(boxes.texts.empty());
    EXPECT_EQ(std::wstring(FixedText::kExitQuestionUsb), boxes.texts[0]);
    EXPECT_FALSE(Shown(FixedText::kExitRefusedDiskJob));
    // Yes stopped the download and the job, which says the stick boots without the image.
    EXPECT_TRUE(Shown(FixedText::kUsbStoppedWithoutFiles)) << Utf8Of(boxes.Last());
    EXPECT_EQ(0, page().m_downloadState.load());
    EXPECT_FALSE(page().WorkersRunning());
    EXPECT_FALSE(machine.HasFile(ImageOnStick().GetString()));
    ASSERT_EQ(1, engine.TaskCount());
    EXPECT_GE(engine.Tasks()[0].stops, 1);
    EXPECT_FALSE(DiskMakerRunning());
}

TEST_F(UsbMakerPage, AStickTooSmallForTheImageTheDownloadAnnouncesIsRefusedBeforeItIsCleaned) {
    struct Case {
        const char* name;
        LONGLONG announced;
        bool refused;
    } cases[] = {
        {"the announced image fits", 300ll << 20, false},
        {"the announced image does not fit", 9ll << 30, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeldImageDownload download(page(), FreshStickAndImage(), c.announced);
        StartWithImage();
        if (c.refused) {
            ASSERT_TRUE(BackInViewOne()) << Utf8Of(boxes.Last());
            EXPECT_EQ(0u, boxes.Last().find(L"U盘容量不足")) << Utf8Of(boxes.Last());
            EXPECT_TRUE(machine.runs.empty()) << "the stick was not touched";
            EXPECT_EQ(0, page().m_downloadState.load()) << "the download stopped with the job";
        } else {
            ASSERT_TRUE(PumpUntil([&] { return page().m_waitingForFile != 0; }, 120000)) << Utf8Of(boxes.Last());
            EXPECT_FALSE(machine.runs.empty());
            page().StopTask();
            ASSERT_TRUE(BackInViewOne()) << Utf8Of(boxes.Last());
        }
        ASSERT_TRUE(PumpUntil([&] { return !page().WorkersRunning(); }, 60000));
    }
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
            EXPECT_EQ(SystemConverterPath() + L"|F: /fs:ntfs /x", machine.runs[0]);
        } else {
            EXPECT_TRUE(machine.runs.empty()) << c.fileSystem;
        }
    }
}

TEST_F(UsbMakerPage, VolumeToolAnswersTheConvertersLabelQuestion) {
    // The converter (the fake runs it as Windows' does) asks for the label of
    // a labelled volume and fails unless its input holds it, in the OEM code
    // page. A label that code page cannot hold is refused before it runs.
    const UINT oem = GetOEMCP();
    if (oem != 437 && oem != 936)
        GTEST_SKIP() << "the known answers are for OEM code pages 437 and 936 (this run has " << oem << ")";
    struct Case {
        const wchar_t* label;
        const char* answer;  // null: refused before the converter runs
        const char* answer936;
    } cases[] = {
        {L"", "", ""},
        {L"KAVETTA", "KAVETTA\r\n", "KAVETTA\r\n"},
        {L"\u6570\u636E", nullptr, "\xCA\xFD\xBE\xDD\r\n"},  // 数据: no answer in 437
        {L"\u0E01", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.label).GetString());
        const char* answer = oem == 437 ? c.answer : c.answer936;
        machine.volumes[2].fileSystem = L"FAT32";
        machine.volumes[2].label = c.label;
        machine.runs.clear();
        machine.inputs.clear();
        machine.exitCodes.clear();
        boxes.texts.clear();
        page().SendMessage(WM_COMMAND, MAKEWPARAM(IDC_USB_VOLUME_TOOL, BN_CLICKED), 0);
        ASSERT_TRUE(BackInViewOne());
        ASSERT_EQ(1u, boxes.texts.size());
        if (answer) {
            EXPECT_EQ(FixedText::kUsbVolumeToolSucceeded, boxes.texts[0]);
            ASSERT_EQ(1u, machine.runs.size());
            EXPECT_EQ(SystemConverterPath() + L"|F: /fs:ntfs /x", machine.runs[0]);
            EXPECT_EQ(std::string(answer), machine.inputs[0]);
            EXPECT_EQ(L"NTFS", machine.volumes[2].fileSystem);
        } else {
            EXPECT_EQ(FixedText::kUsbVolumeLabelUnanswerable, boxes.texts[0]);
            EXPECT_TRUE(machine.runs.empty()) << "refused before the converter ran";
            EXPECT_EQ(L"FAT32", machine.volumes[2].fileSystem);
        }
        EXPECT_EQ(0, RunningToolCount());
    }
}

TEST_F(UsbMakerPage, VolumeToolRechecksItsDriveRightBeforeItRuns) {
    // The list was read with F: on the stick; by the time the tool would run,
    // F: is a volume of another disk.
    machine.volumes[2].fileSystem = L"FAT32";
    page().SendMessage(WM_COMMAND, MAKEWPARAM(IDC_USB_VOLUME_TOOL, BN_CLICKED), 0);
    machine.volumes[2].device = 1;
    ASSERT_TRUE(BackInViewOne());
    EXPECT_TRUE(machine.runs.empty());
    ASSERT_EQ(1u, boxes.texts.size());
    EXPECT_EQ(FixedText::kUsbVolumeLetterChanged, boxes.texts[0]);
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
    // The two status lines of view 3, each centred on its own span.
    const struct {
        CWnd* line;
        CRect rect;
    } lines[] = {{&page().m_statusText, CRect(10, 180, 490, 205)}, {&page().m_statusText2, CRect(5, 215, 495, 240)}};
    for (const auto& l : lines) {
        CRect at;
        l.line->GetWindowRect(&at);
        page().ScreenToClient(&at);
        EXPECT_EQ(l.rect, at);
    }
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
