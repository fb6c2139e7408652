// The USB disk maker end to end on the simulated machine (run through
// with_scenario.sh on the usb scenario): the real main window in-process,
// its check run against the local catalogue server, then a boot disk made
// with an image (and the catalogue's second extra file, which the queue
// gives up). The page's queue downloads through the real engine, and
// our USB tools run as programs (the simulated builds the test tools
// archive carries) against the same scenario: as each command succeeds,
// the stick's old partition goes and the EFI and data partitions appear,
// and the writer copies onto their drives. Screenshots of the three views.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "../../controls/controls_test_support.h"
#include "../../pages/pages_test_support.h"
#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/tarvel_app.h"
#include "disk/disk_calls.h"
#include "pages/usb_maker.h"
#include "sim/e2e/sim_page_main.h"
#include "sim/e2e/usb_sim_suite.h"
#include "sim/sim_machine.h"
#include "support/test_files.h"

namespace {

bool g_scenarioLoaded = false;

bool Exists(const CString& path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

class SimUsbPage : public SimUsbSuite {
protected:
    CUsbMaker& page() { return *window->dlg->m_usbPage; }
    void Screenshot(const wchar_t* file) {
        page().RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_ERASE);
        Pump(300);
        EXPECT_GT(CaptureWindow(page().GetSafeHwnd(), file), 20) << Utf8Of(file);
    }
    void Click(int id) { page().SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
    // The USB tab with the stick listed, then Start answered Yes: the image choice.
    void StartOnTheStick(BoxAnswerer& boxes, bool screenshots) {
        window->dlg->SendMessage(WM_TAB_BUTTON_CONTROL, 2, 1);
        window->dlg->SendMessage(WM_TAB_BUTTON_CONTROL, 2, 2);
        Pump(200);
        page().RefreshDeviceList();
        // Only the stick is listed: the system disk is not a USB disk.
        ASSERT_EQ(1, page().m_deviceList.GetCount());
        if (screenshots) Screenshot(L"sim_usb_view1.png");
        Click(IDC_USB_START);
        ASSERT_TRUE(PumpUntil([&] { return page().m_view == 2; }, 60000)) << Utf8Of(boxes.Last());
        // The erase warning named the stick by its letter.
        ASSERT_FALSE(boxes.texts.empty());
        EXPECT_NE(std::wstring::npos, boxes.texts[0].find(L"E:")) << Utf8Of(boxes.texts[0]);
        ASSERT_GT(page().m_imageList.m_items.GetSize(), 0);
        if (screenshots) Screenshot(L"sim_usb_view2.png");
    }
    bool BackInViewOne() {
        return PumpUntil([&] { return page().m_view == 1 && !page().m_jobRunning && !page().m_makingDisk; }, 900000);
    }
};

TEST_F(SimUsbPage, MakesABootDiskWithAnImageThroughOurTools) {
    if (!window) GTEST_SKIP() << "no scenario loaded (run through with_scenario.sh)";
    CTarvelApp* app = GetTarvelApp();
    ASSERT_TRUE(app->m_configLoaded) << "the check did not load the configuration";
    ASSERT_GE(app->m_usbPeIndex, 0);
    if (CurrentBootHost().RealHostRule()) GTEST_SKIP() << "this scenario refuses the stand-ins the test archive carries";
    BoxAnswerer boxes;
    StartOnTheStick(boxes, true);
    if (HasFatalFailure()) return;
    const int chosen = page().m_imageList.m_items[0]->id;
    ASSERT_TRUE(chosen >= 0 && chosen < app->m_osImages.GetSize());
    const CString imageFile = app->m_osImages[chosen].m_fileName;
    page().m_imageList.m_selectedId = chosen;
    Click(IDC_USB_MAKE_WITH_IMAGE);
    ASSERT_TRUE(PumpUntil([&] { return page().m_view == 3; }, 60000)) << Utf8Of(boxes.Last());
    Screenshot(L"sim_usb_view3.png");

    // The downloads, the tools and the copies; then the notice and view 1.
    ASSERT_TRUE(BackInViewOne());
    // The catalogue's second extra file is smaller than the queue's floor, so
    // the queue gives it up: the disk is made, the image is on it, and the
    // notice names the file that was not copied.
    ASSERT_FALSE(app->m_extraFile2.m_sectionName.IsEmpty());
    CString notice;
    notice.Format(FixedText::kUsbMadeWithoutFiles, (app->m_extraFile2.m_title + L"\r\n").GetString());
    EXPECT_EQ(std::wstring(notice.GetString()), boxes.Last()) << Utf8Of(boxes.Last());
    EXPECT_FALSE(boxes.Shown(FixedText::kUsbMakeSucceeded));

    // Every command of the writer succeeded, in order, on the stick (device 1).
    EXPECT_EQ(BootDiskCommandsOnTheStick(), Lines(SimStatePath()));
    // The partitioning ran no diskpart: the tools lay out, clear and
    // activate through the stick's handle and format the two new volumes
    // (EFI, data) by their GUID paths; nothing ran on the system disk.
    const std::vector<std::string> journal = Lines(SimJournalPath());
    int diskpartRuns = 0, formatRuns = 0;
    for (const std::string& line : journal) {
        if (line.compare(0, 4, "run ") == 0 && line.find("diskpart") != std::string::npos) ++diskpartRuns;
        if (line.compare(0, 4, "run ") == 0 && line.find("format.com|\\\\?\\Volume{") != std::string::npos) ++formatRuns;
        EXPECT_EQ(std::string::npos, line.find("-> 101")) << line;
    }
    EXPECT_EQ(0, diskpartRuns);
    EXPECT_EQ(2, formatRuns);
    EXPECT_NE(journal.end(), std::find(journal.begin(), journal.end(), "gone E:"));

    // The files on their partitions: the boot files and the boot environment
    // on the EFI partition (H:), the image on the data partition (F:).
    EXPECT_EQ(CString(L"F:"), page().m_driveLetter.Left(2));
    EXPECT_TRUE(Exists(L"H:\\waldr"));
    EXPECT_TRUE(Exists(L"H:\\EFI\\Boot\\bootx64.efi"));
    EXPECT_TRUE(Exists(L"H:\\boot\\bcd"));
    // The verified boot environment of the USB road is among the PE files.
    const CString source = app->m_dataFolder + L"\\" + app->m_peImages[app->m_usbPeIndex].m_fileName;
    const std::string pe = ReadWholeFile(source.GetString());
    ASSERT_FALSE(pe.empty()) << Utf8Of(source.GetString());
    bool peCopied = false;
    WIN32_FIND_DATAW found;
    const CString peFolder = CString(L"H:") + FixedText::kUsbPeFolder;
    HANDLE find = FindFirstFileW(peFolder + L"*", &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                ReadWholeFile((peFolder + found.cFileName).GetString()) == pe)
                peCopied = true;
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    EXPECT_TRUE(peCopied) << "no copy of " << Utf8Of(source.GetString()) << " in " << Utf8Of(peFolder.GetString());
    const CString image = CString(L"F:") + FixedText::kUsbImagePath + imageFile;
    EXPECT_TRUE(Exists(image)) << Utf8Of(image.GetString());
    const CString extra = CString(L"F:") + FixedText::kUsbExtraPath + app->m_extraFile2.m_fileName;
    EXPECT_FALSE(Exists(extra)) << Utf8Of(extra.GetString());

    // The stick's list line now shows the new partitions.
    page().RefreshDeviceList();
    EXPECT_EQ(1, page().m_deviceList.GetCount());
    Screenshot(L"sim_usb_done.png");
}

TEST_F(SimUsbPage, RefusesTheStandInsOfARealMachineBeforeAnyToolRuns) {
    if (!window) GTEST_SKIP() << "no scenario loaded (run through with_scenario.sh)";
    if (!CurrentBootHost().RealHostRule())
        GTEST_SKIP() << "this scenario accepts stand-ins (usb_real_rule asks for the rule of a real machine)";
    BoxAnswerer boxes;
    StartOnTheStick(boxes, false);
    if (HasFatalFailure()) return;
    Click(IDC_USB_MAKE_BOOT_ONLY);
    ASSERT_TRUE(BackInViewOne());
    // The boot environment was fetched, then the writer refused the archive's
    // stand-ins by name; no tool ran and the stick is as it was.
    const CString format = FixedText::kUsbRefuseStandInFile;
    const std::wstring refusal = format.Left(format.Find(L"%s")).GetString();
    EXPECT_EQ(0u, boxes.Last().find(refusal)) << Utf8Of(boxes.Last());
    EXPECT_NE(std::wstring::npos, boxes.Last().find(GetTarvelApp()->m_workFolder.GetString())) << Utf8Of(boxes.Last());
    EXPECT_TRUE(Lines(SimStatePath()).empty());
    for (const std::string& line : Lines(SimJournalPath()))
        EXPECT_EQ(std::string::npos, line.find("run ")) << line;
    page().RefreshDeviceList();
    ASSERT_EQ(1, page().m_deviceList.GetCount());
    CString text;
    page().m_deviceList.GetText(0, text);
    page().m_deviceList.DiskItemText(text);
    EXPECT_NE(-1, text.Find(L"E:")) << Utf8Of(text.GetString());
}

}  // namespace

int main(int argc, char** argv) { return RunSimPageTests(argc, argv, L"simusb", g_scenarioLoaded); }
