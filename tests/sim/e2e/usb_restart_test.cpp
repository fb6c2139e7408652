// A restart asked for while the USB page makes a boot disk (run through
// with_scenario.sh on the usb scenario): the real main window in-process,
// a USB job with an image through the real engine and our tools as
// programs, held at the partitioning tool's first command while the restart
// worker runs to its end. The restart is refused on the restart page, the
// machine is not restarted, and the disk is made to its end.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../../controls/controls_test_support.h"
#include "../../pages/pages_test_support.h"
#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/process_file_utils.h"
#include "core/tarvel_app.h"
#include "pages/backup_dlg.h"
#include "pages/reboot_dlg.h"
#include "pages/usb_maker.h"
#include "sim/e2e/passing_boot_host.h"
#include "sim/e2e/sim_page_main.h"
#include "sim/e2e/usb_sim_suite.h"
#include "sim/sim_machine.h"
#include "support/test_files.h"

namespace {

bool g_scenarioLoaded = false;

bool Exists(const CString& path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// Holds the first run of the partitioning tool (the disk maker's thread)
// until the test lets it go on: the moment the maker is mid-job.
class HoldingBootHost : public PassingBootHost {
public:
    explicit HoldingBootHost(IBootHost& inner)
        : PassingBootHost(inner), held(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          release(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~HoldingBootHost() override {
        SetEvent(release);
        CloseHandle(held);
        CloseHandle(release);
    }
    int RunProcessAndWait(const wchar_t* program, const wchar_t* arguments) override {
        if (!m_holding && wcsstr(program, L"kvtpart") && InterlockedExchange(&m_holding, 1) == 0) {
            SetEvent(held);
            WaitForSingleObject(release, 600000);
        }
        return m_inner.RunProcessAndWait(program, arguments);
    }
    HANDLE held;
    HANDLE release;

private:
    volatile LONG m_holding = 0;
};

class SimUsbRestart : public SimUsbSuite {
protected:
    CUsbMaker& usb() { return *window->dlg->m_usbPage; }
    void Click(int id) { usb().SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
};

TEST_F(SimUsbRestart, ARestartAskedForWhileTheDiskIsMadeIsRefusedAndTheDiskIsFinished) {
    if (!window) GTEST_SKIP() << "no scenario loaded (run through with_scenario.sh)";
    if (CurrentBootHost().RealHostRule()) GTEST_SKIP() << "this scenario refuses the stand-ins the test archive carries";
    CTarvelApp* app = GetTarvelApp();
    CTarvelDlg& dlg = *window->dlg;
    ASSERT_TRUE(app->m_configLoaded) << "the check did not load the configuration";
    app->m_rebootAtExit = 0;
    ResetSimRecords();
    BoxAnswerer boxes;

    // The USB tab, the stick, Start (Yes), the first image.
    dlg.SendMessage(WM_TAB_BUTTON_CONTROL, 2, 1);
    dlg.SendMessage(WM_TAB_BUTTON_CONTROL, 2, 2);
    Pump(200);
    usb().RefreshDeviceList();
    ASSERT_EQ(1, usb().m_deviceList.GetCount());
    Click(IDC_USB_START);
    ASSERT_TRUE(PumpUntil([&] { return usb().m_view == 2; }, 10000)) << Utf8Of(boxes.Last());
    ASSERT_GT(usb().m_imageList.m_items.GetSize(), 0);
    const int chosen = usb().m_imageList.m_items[0]->id;
    const CString imageFile = app->m_osImages[chosen].m_fileName;
    usb().m_imageList.m_selectedId = chosen;

    HoldingBootHost host(CurrentBootHost());
    IBootHost* previous = SetBootHost(&host);
    Click(IDC_USB_MAKE_WITH_IMAGE);
    // The maker has begun and is about to clear the stick.
    ASSERT_TRUE(PumpUntil([&] { return WaitForSingleObject(host.held, 0) == WAIT_OBJECT_0; }, 600000))
        << Utf8Of(boxes.Last());
    SetBootHost(previous);
    EXPECT_TRUE(usb().WritesDisk());

    // Meanwhile on the install tab's last page: the restart worker, with the
    // boot environment on the data folder and no user folder to copy.
    app->m_selectedImageIndex = chosen;
    ASSERT_GE(app->m_selectedPeIndex, 0);
    ASSERT_LT(app->m_selectedPeIndex, app->m_peImages.GetSize());
    const CString bootFile = GetLocalPath(app->m_peImages[app->m_selectedPeIndex]);
    if (!Exists(bootFile)) {
        SHCreateDirectoryExW(nullptr, GetParentFolder(bootFile), nullptr);
        ASSERT_TRUE(WriteWholeFile((const wchar_t*)bootFile, "boot environment image"));
    }
    dlg.PrepareBackupTarget();
    for (int i = 0; i < 3; ++i) dlg.m_backupPage->GetDlgItem(IDC_BACKUP_DESKTOP + i)->SendMessage(BM_SETCHECK, 0);
    const CString marker = RestartMarkerPath(app->m_systemDrive);
    ASSERT_FALSE(marker.IsEmpty());
    // The boot setup's inventory of its own, whose temporary letter goes
    // with it: the scenario's stick takes fixed letters that a letter left
    // on the system disk would shadow (Windows would give the stick another).
    CDiskInventory* real = app->m_diskInventory;
    std::unique_ptr<CDiskInventory> own(new CDiskInventory);
    own->Refresh();
    app->m_diskInventory = own.get();
    CRebootDlg& reboot = *dlg.m_rebootPage;
    ASSERT_TRUE(reboot.StartRestart());
    const bool ended = PumpUntil([&] { return !reboot.WorkersRunning(); }, 600000);
    app->m_diskInventory = real;
    own.reset();
    ASSERT_TRUE(ended) << "the restart worker did not end";
    EXPECT_FALSE(GetSimRecords().processRuns.empty()) << "the boot setup ran no boot-entry tool";
    Pump(100);
    CString line;
    reboot.m_rebootStatus.GetWindowText(line);
    EXPECT_EQ(CRebootDlg::kRefusedDiskJob, reboot.LastOutcome()) << Utf8Of((const wchar_t*)line);
    EXPECT_EQ(CString(FixedText::kRebootRefusedDiskJob), line);
    // The restart page is not the one shown (the USB tab is): the button's own visibility.
    EXPECT_TRUE(::GetWindowLongW(reboot.m_backButton.GetSafeHwnd(), GWL_STYLE) & WS_VISIBLE);
    EXPECT_FALSE(Exists(marker));
    EXPECT_EQ(0, app->m_rebootAtExit);
    EXPECT_TRUE(dlg.IsWindowVisible());

    // The maker goes on and makes the disk to its end.
    SetEvent(host.release);
    ASSERT_TRUE(PumpUntil([&] { return usb().m_view == 1 && !usb().m_jobRunning && !usb().m_makingDisk; }, 900000));
    EXPECT_EQ(BootDiskCommandsOnTheStick(), Lines(SimStatePath()));
    const CString image = CString(L"F:") + FixedText::kUsbImagePath + imageFile;
    EXPECT_TRUE(Exists(image)) << Utf8Of(image.GetString()) << " " << Utf8Of(boxes.Last());
    EXPECT_FALSE(boxes.Shown(FixedText::kUsbStopped));

    // Nothing asked the machine to restart, and a plain exit now restarts nothing.
    EXPECT_EQ(0, GetSimRecords().reboots);
    EXPECT_TRUE(app->FinishAfterMainWindow(dlg, 60000, 60000));
    EXPECT_EQ(0, app->m_rebootAtExit);
}

}  // namespace

int main(int argc, char** argv) { return RunSimPageTests(argc, argv, L"simusbrestart", g_scenarioLoaded); }
