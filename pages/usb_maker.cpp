#include "pages/usb_maker.h"

#include <process.h>

#include "controls/message_box.h"
#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/process_file_utils.h"
#include "core/tarvel_app.h"
#include "pages/flow_page.h"
#include "pages/hotkey_dlg.h"
#include "tools/boot_entry_tool.h"

namespace {

const COLORREF kLabelColor = 0x212121;
const COLORREF kStatusColor = 0x333333;
const int kNoticeSeconds = 10;
// How often a wait for a left-running tool looks at a stop of the job.
const DWORD kToolPollMs = 500;

CString TitleWith(const tagDownloadTaskItem& item, const wchar_t* text) {
    return item.file ? item.file->m_title + text : CString(text);
}

CString PercentLine(const CString& head, int percent) {
    CString tail;
    tail.Format(FixedText::kUsbPercentFormat, percent);
    return head + tail;
}

}  // namespace

BEGIN_MESSAGE_MAP(CUsbMaker, CPageDialog)
    ON_WM_PAINT()
    ON_BN_CLICKED(IDC_USB_START, OnClickedStart)
    ON_BN_CLICKED(IDC_USB_SHOW_ALL, OnClickedShowAllDisks)
    ON_BN_CLICKED(IDC_USB_MAKE_WITH_IMAGE, OnClickedMakeWithImage)
    ON_BN_CLICKED(IDC_USB_MAKE_BOOT_ONLY, OnClickedMakeBootOnly)
    ON_BN_CLICKED(IDC_USB_DISK_TOOL, OnClickedDiskTool)
    ON_BN_CLICKED(IDC_USB_VOLUME_TOOL, OnClickedVolumeTool)
    ON_BN_CLICKED(IDC_USB_HELP, OnClickedBootKeyHelp)
    ON_MESSAGE(WM_TASK_STEP, OnTaskStep)
END_MESSAGE_MAP()

CUsbMaker::CUsbMaker(CWnd* pParent)
    : CPageDialog(IDD_USB_MAKER, pParent),
      m_showAllDisks(0),
      m_view(1),
      m_chosenImage(-1),
      m_withImage(0),
      m_queue(this),
      m_downloadState(m_queue.m_downloadState),
      m_deviceNumber(-1),
      m_makingDisk(0),
      m_waitingForFile(0),
      m_announcedBytes{{0}, {0}, {0}},
      m_copying(0),
      m_jobRunning(0),
      m_makerThread(nullptr),
      m_toolThread(nullptr) {}

CUsbMaker::~CUsbMaker() {
    // The queue's workers write into this page: they end before it goes.
    m_events.Stop();
    m_queue.Stop();
    m_queue.WaitForThreads(FixedText::kDownloadPageWaitMs);
    if (m_makerThread) CloseHandle(m_makerThread);
    if (m_toolThread) CloseHandle(m_toolThread);
}

BOOL CUsbMaker::OnInitDialog() {
    CPageDialog::OnInitDialog();
    m_emptyPicture.Create(L"", WS_CHILD | WS_VISIBLE, CRect(30, 44, 478, 244), this);
    LoadPicture(m_emptyPicture, FixedText::kSkinUsbEmpty);
    m_emptyPicture.ShowWindow(SW_HIDE);
    m_sidePicture.Create(L"", WS_CHILD | WS_VISIBLE, CRect(480, 23, 900, 243), this);
    LoadPicture(m_sidePicture, FixedText::kSkinUsbSide);
    m_deviceLabel.Create(FixedText::kUsbDeviceCaption, WS_CHILD | WS_VISIBLE, CRect(200, 35, 300, 55), this);
    m_deviceLabel.SetTextColor(kLabelColor);
    LOGFONTW labelFont = PageFont(-14);
    m_deviceLabel.SetFont(&labelFont);
    m_deviceList.Create(WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY | LBS_OWNERDRAWVARIABLE | LBS_HASSTRINGS |
                            LBS_NOINTEGRALHEIGHT,
                        CRect(30, 58, 478, 244), this, IDC_USB_DEVICE_LIST);
    m_deviceList.m_inventory = &m_usbInventory;
    m_showAllBox.SetSkin(FixedText::kSkinUsbShowAll[0], FixedText::kSkinUsbShowAll[1],
                         FixedText::kSkinSharedHover, FixedText::kSkinSharedDisabled);
    m_showAllBox.Create(FixedText::kUsbShowAllCaption, WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX,
                        CRect(380, 24, 470, 44), this, IDC_USB_SHOW_ALL);
    m_diskToolButton.SetSkin(FixedText::kSkinUsbDiskTool[0], FixedText::kSkinUsbDiskTool[1],
                             FixedText::kSkinSharedHover, FixedText::kSkinSharedDisabled);
    // The tool buttons follow Start: disabled until a disk is listed and chosen.
    m_diskToolButton.Create(FixedText::kUsbDiskToolCaption, WS_CHILD | WS_VISIBLE | WS_DISABLED,
                            CRect(520, 310, 610, 390), this, IDC_USB_DISK_TOOL);
    m_volumeToolButton.SetSkin(FixedText::kSkinUsbVolumeTool[0], FixedText::kSkinUsbVolumeTool[1],
                               FixedText::kSkinSharedHover, FixedText::kSkinSharedDisabled);
    m_volumeToolButton.Create(FixedText::kUsbVolumeToolCaption, WS_CHILD | WS_VISIBLE | WS_DISABLED,
                              CRect(630, 310, 720, 390), this, IDC_USB_VOLUME_TOOL);
    m_helpButton.SetSkin(FixedText::kSkinUsbHelp[0], FixedText::kSkinUsbHelp[1], FixedText::kSkinSharedHover,
                         FixedText::kSkinSharedDisabled);
    m_helpButton.Create(FixedText::kUsbHelpCaption, WS_CHILD | WS_VISIBLE, CRect(740, 310, 830, 390), this, IDC_USB_HELP);
    SetButtonSkin(m_startButton, FixedText::kSkinUsbStart);
    m_startButton.Create(FixedText::kUsbStartCaption, WS_CHILD | WS_VISIBLE | WS_DISABLED,
                         CRect(145, 320, 325, 370), this, IDC_USB_START);
    m_bootOnlyButton.SetSkin(FixedText::kSkinUsbBootOnly[0], FixedText::kSkinUsbBootOnly[1],
                             FixedText::kSkinUsbBootOnly[2], FixedText::kSkinSharedDisabled);
    m_bootOnlyButton.Create(FixedText::kUsbBootOnlyCaption, WS_CHILD, CRect(35, 385, 215, 435), this,
                            IDC_USB_MAKE_BOOT_ONLY);
    m_withImageButton.SetSkin(FixedText::kSkinUsbWithImage[0], FixedText::kSkinUsbWithImage[1],
                              FixedText::kSkinUsbWithImage[2], FixedText::kSkinSharedDisabled);
    m_withImageButton.Create(FixedText::kUsbWithImageCaption, WS_CHILD, CRect(260, 385, 440, 435), this,
                             IDC_USB_MAKE_WITH_IMAGE);
    m_imageList.CreateListWindow(this, CRect(20, 35, 477, 365));
    m_imageList.ShowWindow(SW_HIDE);
    m_busyPicture.Create(L"", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, CRect(160, 30, 306, 176), this);
    m_busyPicture.LoadImages(FixedText::kSkinUsbAnimation, FixedText::kSkinRebootStillDone,
                             FixedText::kSkinRebootStillFail);
    m_busyPicture.ShowWindow(SW_HIDE);
    LOGFONTW statusFont = PageFont(-18);
    CColorText_Static* lines[2] = {&m_statusText, &m_statusText2};
    const CRect rects[2] = {CRect(10, 180, 490, 205), CRect(5, 215, 495, 240)};
    for (int i = 0; i < 2; ++i) {
        lines[i]->Create(L"", WS_CHILD | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE, rects[i], this);
        lines[i]->SetTextColor(kStatusColor);
        lines[i]->SetFont(&statusFont);
        lines[i]->ShowWindow(SW_HIDE);
    }
    return TRUE;
}

// ---- views ----

void CUsbMaker::ShowViewControls(int view, int show) {
    const int how = show ? SW_SHOW : SW_HIDE;
    switch (view) {
    case 1:
        for (CWnd* control : {(CWnd*)&m_deviceList, (CWnd*)&m_showAllBox, (CWnd*)&m_startButton,
                              (CWnd*)&m_diskToolButton, (CWnd*)&m_volumeToolButton, (CWnd*)&m_helpButton})
            control->ShowWindow(how);
        break;
    case 2:
        for (CWnd* control : {(CWnd*)&m_imageList, (CWnd*)&m_bootOnlyButton, (CWnd*)&m_withImageButton})
            control->ShowWindow(how);
        break;
    case 3:
        for (CWnd* control : {(CWnd*)&m_busyPicture, (CWnd*)&m_statusText, (CWnd*)&m_statusText2})
            control->ShowWindow(how);
        break;
    }
}

void CUsbMaker::SwitchView(int view, int refresh) {
    RunOnPage([&] {
        if (view == m_view) return;
        ShowViewControls(m_view, 0);
        if (m_view == 3) m_busyPicture.Stop(0);
        m_view = view;
        ShowViewControls(view, 1);
        if (view == 1) {
            if (refresh) RefreshDeviceList();
            // With no disk listed the empty picture stands in for the list.
            if (m_deviceList.GetCount() <= 0) m_deviceList.ShowWindow(SW_HIDE);
            m_jobRunning = 0;
        } else if (view == 2) {
            m_imageList.SetFocus();
        } else if (view == 3) {
            m_statusText.SetWindowText(L"");
            m_statusText2.SetWindowText(L"");
            m_busyPicture.Play();
        }
        Invalidate(TRUE);
    });
}

void CUsbMaker::RefreshDeviceList() {
    RunOnPage([&] {
        if (m_view != 1 || !m_deviceList.GetSafeHwnd()) return;
        EnableDiskButtons(FALSE);
        m_deviceList.FillDisks(m_showAllDisks);
        if (m_deviceList.GetCount() <= 0) {
            m_emptyPicture.ShowWindow(SW_SHOW);
            m_deviceList.ShowWindow(SW_HIDE);
            m_deviceLabel.ShowWindow(SW_HIDE);
        } else {
            m_emptyPicture.ShowWindow(SW_HIDE);
            m_deviceList.ShowWindow(SW_SHOW);
            m_deviceLabel.ShowWindow(SW_SHOW);
            m_deviceList.SetCurSel(0);
            EnableDiskButtons(TRUE);
        }
    });
}

void CUsbMaker::EnableDiskButtons(BOOL enable) {
    m_startButton.EnableWindow(enable);
    m_diskToolButton.EnableWindow(enable);
    m_volumeToolButton.EnableWindow(enable);
}

void CUsbMaker::FillImageList() {
    CTarvelApp* app = GetTarvelApp();
    m_imageList.RemoveAllItems();
    const int count = (int)app->m_osImages.GetSize();
    const int split = app->m_recommend1Start < 0 ? 0 : (app->m_recommend1Start > count ? count : app->m_recommend1Start);
    auto addBlock = [&](int from, int to) {
        for (int i = from; i < to; ++i)
            if (app->m_osImages[i].m_usbOffer == 1) m_imageList.AddItem(&app->m_osImages[i], i);
    };
    if (app->m_usbListOrder == 0) {
        if (app->m_usbShowMain == 1) addBlock(0, split);
        if (app->m_usbShowRecommended == 1) addBlock(split, count);
    } else {
        if (app->m_usbShowRecommended == 1) addBlock(split, count);
        if (app->m_usbShowMain == 1) addBlock(0, split);
    }
    m_imageList.RecalcLayout();
}

void CUsbMaker::OnPaint() {
    CPaintDC dc(this);
    CRect client;
    GetClientRect(&client);
    HDC screen = dc.GetSafeHdc();
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, client.Width(), client.Height());
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    SetBkMode(memory, TRANSPARENT);
    FillRect(memory, &client, (HBRUSH)GetStockObject(WHITE_BRUSH));
    HBRUSH edge = CreateSolidBrush(0xFF0000);
    RECT left = {0, 0, 1, client.bottom}, bottom = {0, client.bottom - 1, client.right, client.bottom},
         right = {client.right - 1, 0, client.right, client.bottom};
    FillRect(memory, &left, edge);
    FillRect(memory, &bottom, edge);
    FillRect(memory, &right, edge);
    DeleteObject(edge);
    HGDIOBJ oldBrush = SelectObject(memory, GetStockObject(NULL_BRUSH));
    if (m_view == 1) Rectangle(memory, 29, 23, 479, 245);
    if (m_view == 2) {
        Rectangle(memory, 19, 34, 478, 366);
        LOGFONTW lf = PageFont(-13);
        lf.lfWeight = FW_NORMAL;
        HFONT font = CreateFontIndirectW(&lf);
        HGDIOBJ oldFont = SelectObject(memory, font);
        SetTextColor(memory, 0x212121);
        RECT caption = {25, 8, 425, 33};
        DrawTextW(memory, FixedText::kUsbImageCaption, -1, &caption, DT_VCENTER | DT_WORDBREAK);
        SelectObject(memory, oldFont);
        DeleteObject(font);
    }
    SelectObject(memory, oldBrush);
    BitBlt(screen, 0, 0, client.Width(), client.Height(), memory, 0, 0, SRCCOPY);
    SelectObject(memory, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

// ---- the selected disk ----

CString CUsbMaker::GetSelectedDeviceText() {
    int selection = m_deviceList.GetCurSel();
    if (selection < 0) return FixedText::kUsbNothingSelected;
    CString path;
    m_deviceList.GetText(selection, path);
    if (path.IsEmpty()) return FixedText::kUsbEmptyPath;
    CString letters;
    if (!m_usbInventory.LettersOfPath(path, letters)) return FixedText::kUsbDiskGone;
    return letters;
}

int CUsbMaker::OpenSelectedDevice() {
    // The disk confirmed at Yes, not whatever the list shows by now.
    if (m_confirmedPath.IsEmpty()) return 0;
    IStorageCalls& storage = m_usbInventory.Storage();
    HANDLE device = storage.OpenDevice(m_confirmedPath);
    if (device == INVALID_HANDLE_VALUE || device == nullptr) return 0;
    storage.CloseDevice(device);
    const int number = m_usbInventory.DeviceNumberOfPath(m_confirmedPath);
    if (number == -1) return 0;
    m_deviceNumber = number;
    return 1;
}

BOOL CUsbMaker::ConfirmSelectedDisk(const wchar_t* question) {
    if (DiskMakerRunning()) {
        MyMessageBox(MB_ICONWARNING, FALSE, FixedText::kUsbDiskMakerBusy, 0);
        return FALSE;
    }
    const int selection = m_deviceList.GetCurSel();
    CString path, name;
    if (selection >= 0) m_deviceList.GetText(selection, path);
    // No disk chosen: nothing to ask about (the buttons are disabled then).
    if (path.IsEmpty()) return FALSE;
    name = path;
    m_deviceList.DiskItemText(name);
    if (question) {
        CString warning;
        warning.Format(question, (LPCWSTR)name);
        if (MyMessageBox(MB_ICONWARNING | MB_YESNO, FALSE, warning, 0) != IDYES) return FALSE;
    }
    // The identity is taken here: the job writes this disk or none.
    m_confirmedPath = path;
    m_confirmedName = name;
    UsbDiskIdentity identity;
    ReadUsbDiskIdentity(m_usbInventory.Storage(), path, identity);
    m_confirmedSerial = identity.serial;
    m_deviceNumber = path.IsEmpty() ? -1 : m_usbInventory.DeviceNumberOfPath(path);
    CString letters = GetSelectedDeviceText();
    CTarvelApp* app = GetTarvelApp();
    CString programDrive = app->m_modulePath.Left(2);
    CString upperLetters = letters;
    upperLetters.MakeUpper();
    programDrive.MakeUpper();
    if (programDrive.GetLength() == 2 && upperLetters.Find(programDrive) >= 0) {
        MyMessageBox(MB_ICONWARNING, FALSE, FixedText::kUsbProgramDiskRefused, 0);
        return FALSE;
    }
    // The system drive and the data folder (and the program's drive once more).
    if (m_deviceNumber >= 0) {
        UsbWriteJob job = UsbWriteJob::FromApplication(*app, m_deviceNumber, path);
        UsbDiskCheck check = CheckUsbDiskForWriting(m_usbInventory.Storage(), m_deviceNumber, path, job.protectedPaths);
        if (check != kUsbDiskAccepted) {
            MyMessageBox(MB_ICONWARNING, FALSE, UsbDiskRefusalText(check, m_deviceNumber), 0);
            return FALSE;
        }
    }
    return TRUE;
}

// ---- commands ----

void CUsbMaker::OnClickedStart() {
    if (m_jobRunning) return;
    if (!ConfirmSelectedDisk(FixedText::kUsbEraseWarningFormat)) return;
    CTarvelApp* app = GetTarvelApp();
    if (app->m_configLoaded && (app->m_storagePass == 1 || app->m_storagePass == 2))
        SwitchView(2, 0);
    else
        OnClickedMakeBootOnly();
}

void CUsbMaker::OnClickedShowAllDisks() {
    m_showAllDisks = 1 - m_showAllDisks;
    RefreshDeviceList();
}

void CUsbMaker::OnClickedMakeWithImage() {
    m_chosenImage = m_imageList.m_selectedId;
    if (m_chosenImage < 0 || m_chosenImage >= GetTarvelApp()->m_osImages.GetSize()) {
        MyMessageBox(MB_ICONQUESTION, TRUE, FixedText::kUsbChooseImage, kNoticeSeconds);
        return;
    }
    StartJob(1);
}

void CUsbMaker::OnClickedMakeBootOnly() { StartJob(0); }

void CUsbMaker::StartJob(int withImage) {
    if (m_jobRunning) return;
    m_withImage = withImage;
    m_jobRunning = 1;
    m_events.ResetForJob();
    for (std::atomic<ULONGLONG>& bytes : m_announcedBytes) bytes = 0;
    SwitchView(3, 0);
    if (!m_queue.BuildTaskQueue()) {
        Notice(MB_ICONWARNING, FixedText::kUsbDiskMakerBusy, 0);
        SwitchView(1, 0);
    }
}

void CUsbMaker::OnClickedDiskTool() {
    if (m_jobRunning) return;
    // The disk tool erases the disk too: the same question and checks as Start.
    if (ConfirmSelectedDisk(FixedText::kUsbDiskToolWarningFormat)) StartTool(DiskToolThreadProc);
}

void CUsbMaker::OnClickedBootKeyHelp() {
    Chotkey help(this);
    help.DoModal();
}

void CUsbMaker::OnClickedVolumeTool() {
    if (m_jobRunning) return;
    // The conversion keeps the files: no question, but the same disk checks.
    if (ConfirmSelectedDisk(nullptr)) StartTool(VolumeToolThreadProc);
}

void CUsbMaker::StartTool(unsigned(__stdcall* proc)(void*)) {
    if (!TryEnterDiskMaker()) {
        MyMessageBox(MB_ICONWARNING, FALSE, FixedText::kUsbDiskMakerBusy, 0);
        return;
    }
    m_makingDisk = 1;
    m_jobRunning = 1;
    // A stop left by an earlier job must not cut this tool's waits short.
    m_events.ResetForJob();
    SwitchView(3, 0);
    if (m_toolThread) CloseHandle(m_toolThread);
    m_toolThread = (HANDLE)_beginthreadex(nullptr, 0, proc, this, 0, nullptr);
    if (!m_toolThread) {
        m_makingDisk = 0;
        LeaveDiskMaker();
        SwitchView(1, 1);
    }
}

void CUsbMaker::StopTask() {
    m_events.Stop();
    m_queue.StopTask();
}

void CUsbMaker::StopJobs() { StopTask(); }

void CUsbMaker::StopQueueOnly() {
    RunOnPage([this] { m_queue.StopTask(); });
}

void CUsbMaker::ResumeAfterRefusedExit() {
    if (m_view == 3 && !m_makingDisk && m_downloadState == 0) SwitchView(1, 0);
}

const wchar_t* CUsbMaker::SessionEndBlocker() {
    return WritesDisk() ? FixedText::kSessionBlockDiskWrite : nullptr;
}

bool CUsbMaker::WorkersRunning() {
    return m_queue.IsBusy() || ThreadStillRunning(m_makerThread) || ThreadStillRunning(m_toolThread);
}

// ---- the disk maker ----

unsigned __stdcall CUsbMaker::MakeDiskThreadProc(void* param) {
    static_cast<CUsbMaker*>(param)->MakeDisk();
    return 0;
}

unsigned __stdcall CUsbMaker::DiskToolThreadProc(void* param) {
    static_cast<CUsbMaker*>(param)->RunDiskTool();
    return 0;
}

unsigned __stdcall CUsbMaker::VolumeToolThreadProc(void* param) {
    static_cast<CUsbMaker*>(param)->RunVolumeTool();
    return 0;
}

void CUsbMaker::StartMaker() {
    // Only for the job in view 3: a step that comes after the job ended starts nothing.
    if (m_makingDisk || m_view != 3 || !m_jobRunning) return;
    if (!TryEnterDiskMaker()) {
        m_queue.StopTask();
        m_events.SignalQueueEnded();
        Notice(MB_ICONWARNING, FixedText::kUsbDiskMakerBusy, 0);
        SwitchView(1, 0);
        return;
    }
    // Set before the thread runs, so a second step never starts a second maker.
    m_makingDisk = 1;
    if (m_makerThread) CloseHandle(m_makerThread);
    m_makerThread = (HANDLE)_beginthreadex(nullptr, 0, MakeDiskThreadProc, this, 0, nullptr);
    if (!m_makerThread) {
        m_makingDisk = 0;
        LeaveDiskMaker();
        m_queue.StopTask();
        Notice(MB_ICONERROR, FixedText::kUsbMakeFailed, kNoticeSeconds);
        SwitchView(1, 0);
    }
}

void CUsbMaker::WaitForLeftTools() {
    if (RunningToolCount() == 0) return;
    SetStatus(m_statusText, FixedText::kUsbWaitingForTool);
    InterlockedExchange(&m_waitingForFile, 1);
    while (!WaitForRunningTools(kToolPollMs) && !m_events.Stopped()) {
    }
    InterlockedExchange(&m_waitingForFile, 0);
}

void CUsbMaker::EndWorker(int flags, const CString& notice, int seconds, int refresh) {
    WaitForLeftTools();
    Notice(flags, notice, seconds);
    // View 1 first and the flag after, in one call on the page's thread: a
    // queue end handled there finds either a maker still running or the job
    // over, never a gap in which it would start a second maker.
    bool done = false;
    RunOnPage([&] {
        SwitchView(1, refresh);
        m_makingDisk = 0;
        LeaveDiskMaker();
        done = true;
    });
    // The page is gone (the program ends): nothing can start a maker any more.
    if (!done) {
        m_makingDisk = 0;
        LeaveDiskMaker();
    }
}

UsbWriteJob CUsbMaker::ConfirmedJob() {
    UsbWriteJob job = UsbWriteJob::FromApplication(*GetTarvelApp(), m_deviceNumber, m_confirmedPath);
    job.serialTaken = true;
    job.serial = m_confirmedSerial;
    return job;
}

std::vector<CUsbMaker::DataFileStep> CUsbMaker::DataFileSteps() {
    CTarvelApp* app = GetTarvelApp();
    std::vector<DataFileStep> steps;
    if (m_chosenImage >= 0 && m_chosenImage < app->m_osImages.GetSize())
        steps.push_back({FixedText::kUsbWaitingForImage, FixedText::kUsbCopyingImage, &app->m_osImages[m_chosenImage],
                         FixedText::kUsbImagePath, true});
    if (!app->m_extraFile2.m_sectionName.IsEmpty())
        steps.push_back({FixedText::kUsbWaitingForExtra, FixedText::kUsbCopyingExtra, &app->m_extraFile2,
                         FixedText::kUsbExtraPath, false});
    return steps;
}

void CUsbMaker::MakeDisk() {
    if (!OpenSelectedDevice()) {
        StopQueueOnly();
        EndWorker(MB_ICONERROR, FixedText::kUsbCannotOpen, kNoticeSeconds);
        return;
    }
    UsbWriteJob job = ConfirmedJob();
    // The files of the data partition whose length is known (accepted, or
    // announced by their running download): the disk must have room for them.
    if (m_withImage) {
        for (const DataFileStep& step : DataFileSteps()) {
            if (step.record->m_checkState == 2 || step.record->m_checkState == 3)
                job.dataBytes += CurrentBootHost().FileSize(job.dataFolder + FixedText::kPathSeparator +
                                                            step.record->m_fileName);
            else
                job.dataBytes += m_announcedBytes[step.image ? 1 : 2];
        }
    }
    CUsbBootDiskWriter writer(job, m_usbInventory, *this);
    if (!writer.WriteBootDisk()) {
        StopQueueOnly();
        EndWorker(MB_ICONERROR, writer.m_failure.IsEmpty() ? CString(FixedText::kUsbMakeFailed) : writer.m_failure,
                  kNoticeSeconds);
        return;
    }
    m_driveLetter = writer.m_driveLetter;
    if (m_withImage) {
        CString missing, noRoom;
        bool copyFailed = false;
        for (const DataFileStep& step : DataFileSteps()) {
            SetStatus(m_statusText, step.waiting);
            InterlockedExchange(&m_waitingForFile, 1);
            UsbWaitResult waited = step.image ? m_events.WaitImage() : m_events.WaitExtra();
            InterlockedExchange(&m_waitingForFile, 0);
            // A stop that came while nothing was written (the exit asks and
            // stops the job, as for a download) leaves the stick bootable
            // without the files. One that comes after the flag was cleared is
            // seen here, before the copy; from here on the exit waits for it.
            if (waited == kUsbJobStopped || m_events.Stopped()) {
                EndWorker(MB_ICONWARNING, FixedText::kUsbStoppedWithoutFiles, kNoticeSeconds);
                return;
            }
            // Only what the queue of this job accepted (or found ready) is copied.
            CUsbBootDiskWriter::DataCopy copied = CUsbBootDiskWriter::kDataNotVerified;
            if (waited == kUsbFileReady) {
                SetStatus(m_statusText2, step.copying);
                copied = writer.CopyDataFile(*step.record, m_driveLetter + step.folder + step.record->m_fileName);
            }
            // The letter no longer leads to the stick: nothing more goes there.
            if (copied == CUsbBootDiskWriter::kDataDiskChanged) {
                EndWorker(MB_ICONERROR, writer.m_failure, kNoticeSeconds);
                return;
            }
            const CString line = step.record->m_title + L"\r\n";
            if (copied == CUsbBootDiskWriter::kDataNotVerified) missing += line;
            if (copied == CUsbBootDiskWriter::kDataNoRoom) noRoom += line;
            if (copied == CUsbBootDiskWriter::kDataCopyFailed) copyFailed = true;
        }
        CString notice;
        if (copyFailed) {
            EndWorker(MB_ICONERROR, FixedText::kUsbCopyFailed, kNoticeSeconds);
            return;
        }
        if (!noRoom.IsEmpty()) {
            notice.Format(FixedText::kUsbDataNoRoom, noRoom.GetString());
            EndWorker(MB_ICONERROR, notice, kNoticeSeconds);
            return;
        }
        if (!missing.IsEmpty()) {
            notice.Format(FixedText::kUsbMadeWithoutFiles, missing.GetString());
            EndWorker(MB_ICONWARNING, notice, 0);
            return;
        }
    }
    EndWorker(MB_ICONINFORMATION, FixedText::kUsbMakeSucceeded, 0);
}

void CUsbMaker::RunDiskTool() {
    if (!OpenSelectedDevice()) {
        EndWorker(MB_ICONERROR, FixedText::kUsbCannotOpen, kNoticeSeconds);
        return;
    }
    SetStatus(m_statusText, FixedText::kUsbDiskToolWorking);
    UsbWriteJob job = ConfirmedJob();
    CUsbBootDiskWriter writer(job, m_usbInventory, *this);
    if (writer.RunUsbDiskTool())
        EndWorker(MB_ICONINFORMATION, FixedText::kUsbDiskToolSucceeded, kNoticeSeconds);
    else
        EndWorker(MB_ICONERROR,
                  writer.m_failure.IsEmpty() ? CString(FixedText::kUsbDiskToolFailed) : writer.m_failure,
                  kNoticeSeconds);
}

void CUsbMaker::RunVolumeTool() {
    if (!OpenSelectedDevice()) {
        EndWorker(MB_ICONERROR, FixedText::kUsbCannotOpen, kNoticeSeconds);
        return;
    }
    SetStatus(m_statusText, FixedText::kUsbCheckingVolume);
    CString drive;
    m_usbInventory.LetterOfDeviceNumber(m_deviceNumber, drive);
    // A failed call leaves the name empty; the root path ends with its separator.
    wchar_t fileSystem[260] = {};
    wchar_t label[MAX_PATH + 1] = {};
    m_usbInventory.Storage().VolumeInformation(drive + L"\\", label, MAX_PATH + 1, fileSystem, 260);
    CString name;
    name.Format(FixedText::kUsbFileSystemFormat, fileSystem);
    if (name == FixedText::kUsbKnownFileSystems[0]) {
        EndWorker(MB_ICONINFORMATION, FixedText::kUsbVolumeAlreadyConverted, kNoticeSeconds, 0);
        return;
    }
    if (name != FixedText::kUsbKnownFileSystems[1]) {
        EndWorker(MB_ICONINFORMATION, FixedText::kUsbVolumeNotConvertible, kNoticeSeconds, 0);
        return;
    }
    // The converter asks for the label of a volume that has one before it
    // changes anything, and reads it in the console's code page: it gets the
    // label as its answer. A label that code page cannot hold has no answer.
    std::string answer;
    if (label[0] && !AnswerLineInOemCodePage(label, answer)) {
        EndWorker(MB_ICONERROR, FixedText::kUsbVolumeLabelUnanswerable, kNoticeSeconds);
        return;
    }
    // The disk is checked once more right before the tool touches it.
    UsbWriteJob job = ConfirmedJob();
    UsbDiskCheck check = CheckUsbDiskForWriting(m_usbInventory.Storage(), m_deviceNumber, m_confirmedPath,
                                                job.protectedPaths);
    if (check != kUsbDiskAccepted) {
        EndWorker(MB_ICONERROR, UsbDiskRefusalText(check, m_deviceNumber), kNoticeSeconds);
        return;
    }
    // The inventory's letters may be stale: the drive must still be a volume of the confirmed disk.
    if (!DriveIsOnDevice(m_usbInventory.Storage(), drive, m_deviceNumber)) {
        EndWorker(MB_ICONERROR, FixedText::kUsbVolumeLetterChanged, kNoticeSeconds);
        return;
    }
    // We run elevated from a folder the user can write: the system's program
    // by its full path, never a bare name the search would take from beside us.
    const CString program = OwnSystemProgramPath(FixedText::kUsbVolumeTool);
    if (program.IsEmpty()) {
        EndWorker(MB_ICONERROR, FixedText::kUsbVolumeToolMissing, kNoticeSeconds);
        return;
    }
    SetStatus(m_statusText, FixedText::kUsbVolumeToolWorking);
    CString arguments;
    arguments.Format(FixedText::kUsbVolumeToolArgsFormat, (LPCWSTR)drive);
    if (CurrentBootHost().RunProcessWithInput(program, arguments, answer) == 0)
        EndWorker(MB_ICONINFORMATION, FixedText::kUsbVolumeToolSucceeded, kNoticeSeconds);
    else
        EndWorker(MB_ICONERROR, FixedText::kUsbVolumeToolFailed, kNoticeSeconds);
}

// ---- the writer's view ----

void CUsbMaker::SetStatusText(const wchar_t* text) { SetStatus(m_statusText, text); }

void CUsbMaker::ShowLog(const wchar_t* text) { Notice(MB_ICONINFORMATION, text, 0); }

void CUsbMaker::SetCopying(BOOL copying, const wchar_t* name) {
    RunOnPage([&] {
        m_copying = copying ? 1 : 0;
        m_copyName = name ? name : L"";
    });
}

// ---- the queue's host: the USB page's differences ----

void CUsbMaker::CollectCandidates(CArray<tagDownloadTaskItem>& candidates) {
    CTarvelApp* app = GetTarvelApp();
    auto add = [&candidates](COnlinefileinfo* record, int kind) {
        tagDownloadTaskItem item = {record, kind};
        candidates.Add(item);
    };
    if (app->m_usbPeIndex >= 0 && app->m_usbPeIndex < app->m_peImages.GetSize())
        add(&app->m_peImages[app->m_usbPeIndex], 0);
    if (!app->m_toolFile.m_sectionName.IsEmpty()) add(&app->m_toolFile, 0);
    if (m_withImage) {
        if (m_chosenImage >= 0 && m_chosenImage < app->m_osImages.GetSize()) add(&app->m_osImages[m_chosenImage], 1);
        if (!app->m_extraFile2.m_sectionName.IsEmpty()) add(&app->m_extraFile2, 2);
    }
}

void CUsbMaker::OnBuildStarted() { SetStatus(m_statusText, FixedText::kUsbCheckingFiles); }

void CUsbMaker::OnCandidateChecking(const tagDownloadTaskItem& item) {
    SetStatus(m_statusText, TitleWith(item, FixedText::kUsbCheckingFileSuffix));
}

void CUsbMaker::OnCandidateReady(const tagDownloadTaskItem& item) {
    if (item.kind == 1) m_events.SignalImage();
    if (item.kind == 2) m_events.SignalExtra();
}

void CUsbMaker::OnBuildFinished() {}

// Debug notes: one as each file is queued and one before the first step,
// each waited for on the builder thread, so they come in order and before
// anything is downloaded.
void CUsbMaker::OnCandidateQueued(const tagDownloadTaskItem& item) {
    if (GetTarvelApp()->m_debugMode) Notice(MB_ICONINFORMATION, TitleWith(item, FixedText::kUsbDebugQueuedSuffix), 0);
}

void CUsbMaker::BeforeFirstStep(const CArray<tagDownloadTaskItem>& queue) {
    if (!GetTarvelApp()->m_debugMode) return;
    CString text;
    text.Format(FixedText::kUsbDebugFirstStepFormat, (int)queue.GetSize());
    Notice(MB_ICONINFORMATION, text, 0);
}

BOOL CUsbMaker::IsRequired(const tagDownloadTaskItem& item) { return item.file->m_requiredUsb != 0; }

void CUsbMaker::OnEntryCurrent(const tagDownloadTaskItem&) {
    // The boot environment is in. The disk is written while the image
    // downloads, but only once the download has announced its length (or
    // the entry has ended), so that a stick too small for it is refused
    // before it is cleaned.
}

void CUsbMaker::OnEntryDone(const tagDownloadTaskItem& item) {
    // The file passed its check: only now is it called finished.
    SetStatus(item.kind > 0 ? m_statusText2 : m_statusText, TitleWith(item, FixedText::kUsbDownloadFinished));
    OnCandidateReady(item);
    if (item.kind > 0 && !m_makingDisk) StartMaker();
}

void CUsbMaker::OnEntrySkipped(const tagDownloadTaskItem& item) {
    if (item.kind > 0) SetStatus(m_statusText2, TitleWith(item, L" ") + FixedText::kUsbFileSkipped);
    if (item.kind == 1) m_events.SignalImage(FALSE);
    if (item.kind == 2) m_events.SignalExtra(FALSE);
    if (item.kind > 0 && !m_makingDisk) StartMaker();
}

void CUsbMaker::OnRequiredFailed(const tagDownloadTaskItem& item, int) {
    m_events.SignalQueueEnded();
    Notice(MB_ICONERROR, item.file->m_sectionName + FixedText::kUsbDownloadFailedSuffix, kNoticeSeconds);
    // The boot environment is in: the stick is still made, without the file.
    if (item.kind > 0 && !m_makingDisk) StartMaker();
    if (!m_makingDisk) SwitchView(1, 0);
}

void CUsbMaker::OnEngineUnavailable() {
    m_events.SignalQueueEnded();
    Notice(MB_ICONERROR, FixedText::kUsbEngineUnavailable, kNoticeSeconds);
    if (!m_makingDisk) SwitchView(1, 0);
}

void CUsbMaker::OnRecordBusy() {
    m_events.SignalQueueEnded();
    Notice(MB_ICONWARNING, FixedText::kUsbRecordBusy, kNoticeSeconds);
    if (!m_makingDisk) SwitchView(1, 0);
}

void CUsbMaker::OnQueueEnd() {
    m_events.SignalQueueEnded();
    if (!m_makingDisk) {
        // A job without an image, or nothing left to fetch: the disk is written now.
        if (m_view == 3) StartMaker();
    } else if (!m_copying) {
        SetStatus(m_statusText2, FixedText::kUsbWaitingForCopy);
    }
}

void CUsbMaker::OnTransferProgress(const tagDownloadTaskItem& item, const QueueTransferProgress& progress) {
    SetStatus(item.kind > 0 ? m_statusText2 : m_statusText,
              PercentLine(CString(FixedText::kUsbDownloadingPrefix) + item.file->m_title, progress.percent));
    // The download's length is known: the disk can be judged and written now.
    if (item.kind > 0 && progress.totalBytes > 0) {
        m_announcedBytes[item.kind] = (ULONGLONG)progress.totalBytes;
        if (!m_makingDisk) StartMaker();
    }
}

void CUsbMaker::OnVerifyStarted(const tagDownloadTaskItem& item) {
    SetStatus(m_statusText, TitleWith(item, FixedText::kUsbVerifying));
}

void CUsbMaker::OnCheckProgress(int percent) {
    COnlinefileinfo* file = m_queue.m_currentFile;
    SetStatus(m_statusText, PercentLine(CString(file ? file->m_title : CString()) + FixedText::kUsbVerifying, percent));
}

void CUsbMaker::OnCheckEnded() {
    COnlinefileinfo* file = m_queue.m_currentFile;
    SetStatus(m_statusText, CString(file ? file->m_title : CString()) + FixedText::kUsbVerifyDone);
}

// ---- the page's thread ----

LRESULT CUsbMaker::OnTaskStep(WPARAM wParam, LPARAM lParam) { return m_queue.OnTaskStep(wParam, lParam); }

void CUsbMaker::SetStatus(CColorText_Static& line, const CString& text) {
    RunOnPage([&] {
        line.SetWindowText(text);
        line.Invalidate();
    });
}

void CUsbMaker::Notice(int flags, const CString& text, int seconds) {
    RunOnPage([&] { MyMessageBox(flags, seconds > 0, text, seconds); });
}
