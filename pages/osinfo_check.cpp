// The system check worker: fills the page's nine fact rows, chooses the data
// folder, loads the catalogue and decides what the run may do: the full
// reinstall road, the USB disk maker alone, or nothing.
#include <memory>

#include "core/catalogue.h"
#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/system_facts.h"
#include "core/tarvel_app.h"
#include "core/text_utils.h"
#include "pages/osinfo_dlg.h"

namespace {

bool SetsBootModeFlag(const CString& kind) {
    for (const wchar_t* system : FixedText::kBootModeSystems)
        if (kind == system) return true;
    return false;
}

}  // namespace

void COsinfoDlg::EndStoppedCheck() {
    RunOnPage([&] {
        m_busyAnimation.Stop(0);
        m_statusText.SetWindowText(FixedText::kJobStoppedByExit);
        m_statusText.Invalidate();
        m_recheckButton.ShowWindow(SW_SHOW);
    });
}

void COsinfoDlg::CheckSystem() {
    CTarvelApp* app = GetTarvelApp();
    if (!app) return;

    // ---- start ----
    InterlockedExchange(&m_prepareOnNext, 1);
    EnableNext(FALSE);
    SendToMain(WM_TAB_BUTTON_CONTROL, 2, 0);
    SendToMain(WM_TAB_BUTTON_CONTROL, 3, 0);
    app->m_usbOnlyMode = 0;
    // The system partition is found anew each run: a stale index could let
    // the data folder land on the partition about to be reinstalled.
    app->m_referencePartition = -1;
    RunOnPage([&] {
        m_statusText.SetWindowText(FixedText::kCheckStatusChecking);
        m_statusText.Invalidate();
        m_resultText.ShowWindow(SW_HIDE);
        m_resultText.SetTextColor(kLineColor);
        m_busyAnimation.ShowWindow(SW_SHOW);
        m_busyAnimation.Play();
        m_recheckButton.ShowWindow(SW_HIDE);
        m_checkProgress.SetPos(0);
    });
    for (int row = 0; row < kRows; ++row) {
        SetRowText(row, row == kFolderRow ? FixedText::kCheckFolderPlaceholder : FixedText::kCheckValuePlaceholder);
        SetRowColor(row, row == kFolderRow ? m_folderLinkColor : kRowColor);
        RunOnPage([&] { m_rowSpinners[row].ShowWindow(SW_HIDE); });
    }

    // ---- rows ----
    std::unique_ptr<IFactsQuery> facts(CurrentSystemFacts().OpenQuery());
    CString value;

    StartRow(0);
    facts->OsDescription(value);
    SetRowText(0, value);
    EndRow(0, true, 11);

    BOOL systemDiskFlag = FALSE;
    StartRow(1);
    value = CString(FixedText::kCheckSystemDrivePrefix) + app->m_systemDrive;
    CDiskInventory& inventory = *app->m_diskInventory;
    inventory.Refresh();
    const int partitions = (int)inventory.m_totalPartitions.GetSize();
    bool styleKnown = partitions > 0;
    if (partitions == 0) {
        SetRowText(1, value + FixedText::kCheckNotFound);
        SetRowColor(1, kFailColor);
        EndRow(1, false, 22);
        StartRow(2);
        CString chassis;
        facts->LookupDisplayText(chassis);
        SetRowText(2, chassis + FixedText::kCheckUnknownStyle);
        SetRowColor(2, kFailColor);
        EndRow(2, false, 33);
    } else {
        for (int j = 0; j < partitions; ++j) {
            if (inventory.m_totalPartitions[j].letter == app->m_systemDrive) {
                app->m_referencePartition = j;
                break;
            }
        }
        if (app->m_referencePartition >= 0) {
            SetRowText(1, value + FixedText::kCheckPartitionPrefix +
                              inventory.m_totalPartitions[app->m_referencePartition].key);
            EndRow(1, true, 22);
        } else {
            // Partitions, but none with the system drive's letter: said plainly.
            SetRowText(1, value + FixedText::kCheckNotFound);
            SetRowColor(1, kFailColor);
            EndRow(1, false, 22);
        }
    }
    if (styleKnown) {
        StartRow(2);
        CString chassis;
        facts->LookupDisplayText(chassis);
        if (app->m_referencePartition >= 0) {
            if (inventory.m_totalPartitions[app->m_referencePartition].partition_style == 0) {
                chassis += FixedText::kCheckMbrStyle;
            } else {
                chassis += FixedText::kCheckOtherStyle;
                systemDiskFlag = TRUE;
            }
        }
        SetRowText(2, chassis);
        EndRow(2, true, 33);
    }

    CString kind = inventory.ClassifyVolumeContent(app->m_systemDrive);
    app->m_bootModeFlag = SetsBootModeFlag(kind) ? 1 : 0;
    app->m_bootModeText = kind;

    StartRow(3);
    value.Empty();
    facts->QueryProperty(FixedText::kCheckBoardClass, FixedText::kCheckBoardProperty, value);
    SetRowText(3, value);
    EndRow(3, true, 44);

    StartRow(4);
    value.Empty();
    facts->QueryProperty(FixedText::kCheckCpuClass, FixedText::kCheckCpuProperty, value);
    SetRowText(4, value);
    EndRow(4, true, 55);

    StartRow(5);
    ULONGLONG memory = 0;
    CurrentSystemFacts().InstalledMemory(memory, app->m_bootModeFlag);
    SetRowText(5, FormatSizeText(memory));
    EndRow(5, true, 66);
    facts.reset();

    StartRow(6);
    value = FixedText::kCheckDefaultDisk;
    if (app->m_referencePartition >= 0) value = inventory.m_totalPartitions[app->m_referencePartition].model;
    SetRowText(6, value);
    EndRow(6, true, 77);

    if (Stopping()) return EndStoppedCheck();

    StartRow(kFolderRow);
    app->m_dataFolder =
        inventory.PickStorageFolder(app->m_dataFolderName, app->m_referencePartition, FixedText::kDataFolderNeededMb);
    const int pass = app->m_storagePass;
    if (pass != 0) {
        SetDownloadFolders(app->m_dataFolder, app->m_filePrefix + FixedText::kRecordIniSuffix,
                           app->m_filePrefix + FixedText::kRecordSectionSuffix, app->m_iniPassword,
                           app->m_moduleFolder);
        // A folder of ours that let others in until now: what is in it may be theirs.
        if (inventory.m_dataFolderReprotected) DistrustDownloadFolderContents();
        SetRowText(kFolderRow, app->m_dataFolder);
        CString folder = app->m_dataFolder;
        RunOnPage([&] { FolderLink()->SetLink(FixedText::kOpenFolderTooltip, folder, 0); });
        EndRow(kFolderRow, true, 88);
    } else {
        app->m_dataFolder = app->m_moduleFolder;
        SetDownloadFolders(app->m_dataFolder, app->m_filePrefix + FixedText::kRecordIniSuffixNoData,
                           app->m_filePrefix + FixedText::kRecordSectionSuffixNoData, app->m_iniPassword,
                           FixedText::kSecondaryFolderNoData);
        SetRowText(kFolderRow, app->m_dataFolder);
        SetRowColor(kFolderRow, kFailColor);
        EndRow(kFolderRow, false, 88);
    }

    if (Stopping()) return EndStoppedCheck();

    StartRow(8);
    CString hint = app->BuildRecommendLists(kind, memory, systemDiskFlag);
    app->FetchOnlineConfig();
    const int loaded = app->m_configLoaded;
    if (loaded) {
        SetRowText(8, FixedText::kCheckConnected);
        EndRow(8, true, 100);
    } else {
        app->m_configLoaded = 0;
        SetRowText(8, FixedText::kCheckNotConnected);
        SetRowColor(8, kFailColor);
        EndRow(8, false, 100);
    }

    if (Stopping()) return EndStoppedCheck();

    // ---- decision ----
    const CString error = FixedText::kCheckGeneralError;
    bool usbOnly = false;
    if (loaded && (pass == 1 || pass == 2)) {
        SetResult(CString(FixedText::kCheckRecommendPrefix) + hint, kLineColor);
        EnableNext(TRUE);
        SendToMain(WM_TAB_BUTTON_CONTROL, 2, 1);
        SendToMain(WM_TAB_BUTTON_CONTROL, 3, 1);
        SendToMain(WM_USB_REFRESH, 0, 0);
        SendToMain(WM_LISTS_REFRESH, 0, 0);
    } else if (pass == 0) {
        const CString& why = inventory.m_storageRefusal;
        SetResult(error + (why.IsEmpty() ? CString(FixedText::kCheckNoDataFolder) : why), kFailColor);
    } else if (loaded) {
        SetResult(error, kFailColor);
        usbOnly = true;
    } else {
        // Without the configuration: a boot environment already on this
        // machine (entry 1 or 2) still makes a USB disk. These built-in
        // records carry no digest, so a copy is taken as it is (match mode
        // 0), even from a place another account can write.
        int found = -1;
        for (int k = 0; k < 3 && k < (int)app->m_peImages.GetSize(); ++k) {
            COnlinefileinfo& record = app->m_peImages[k];
            if (record.m_checkState == 0) CheckPeFile(record);
            if ((record.m_checkState == 2 || record.m_checkState == 3) && k >= 1) {
                found = k;
                break;
            }
        }
        if (found >= 0) {
            SetResult(error, kFailColor);
            app->m_usbPeIndex = found;
            usbOnly = true;
        } else {
            SetResult(error + FixedText::kCheckNoBootEnvironment, kFailColor);
        }
    }
    if (usbOnly) {
        SendToMain(WM_TAB_BUTTON_CONTROL, 2, 1);
        SendToMain(WM_USB_REFRESH, 0, 0);
        SetResult(FixedText::kCheckUsbOnly, kFailColor);
        app->m_usbOnlyMode = 1;
        EnableNext(TRUE);
        SendToMain(WM_TAB_BUTTON_CONTROL, 2, 2);
    }

    // ---- end ----
    if (pass == 1 || pass == 2) PostToMain(WM_COPY_PROGRAM, 0, 0);
    RunOnPage([&] {
        m_busyAnimation.Stop(0);
        m_statusText.SetWindowText(FixedText::kCheckStatusFinished);
        m_statusText.Invalidate();
    });
    PostToMain(WM_VERSION_UPDATE, 0, 0);
    RunOnPage([&] { m_recheckButton.ShowWindow(SW_SHOW); });
}
