// A sample window with every control, drawn with the real skin pictures and
// saved as PNG files in the test's working folder (the build's bin folder)
// for people to look at. The test asserts only that the captures are not blank.
#include <gtest/gtest.h>
#include <process.h>

#include <set>

#include "controls/color_controls.h"
#include "controls/color_text.h"
#include "controls/message_box.h"
#include "controls/os_lists.h"
#include "controls/picture_controls.h"
#include "controls/skin_button.h"
#include "controls_test_support.h"

namespace {

Gdiplus::Image* SkinFromFolder(LPCWSTR name) {
    std::wstring path = std::wstring(KAVETTA_SKIN_DIR) + L"/" + name;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return nullptr;
    return Gdiplus::Image::FromFile(path.c_str());
}

std::vector<BYTE> SkinBytes(LPCWSTR name) {
    std::wstring path = std::wstring(KAVETTA_SKIN_DIR) + L"/" + name;
    std::vector<BYTE> bytes;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return bytes;
    bytes.resize(GetFileSize(f, nullptr));
    DWORD got = 0;
    ReadFile(f, bytes.data(), (DWORD)bytes.size(), &got, nullptr);
    CloseHandle(f);
    return bytes;
}

// The sample's window, painted white like the program's pages.
class CSampleWnd : public CHostWnd {
protected:
    BOOL OnEraseBkgnd(CDC* pDC) {
        CRect rc;
        GetClientRect(&rc);
        pDC->FillSolidRect(&rc, 0xFFFFFF);
        return TRUE;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CSampleWnd, CHostWnd)
    ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

LOGFONTW Face(int height) {
    LOGFONTW lf = {};
    lf.lfHeight = height;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpyW(lf.lfFaceName, L"微软雅黑");
    return lf;
}

TEST(Screenshot, SampleWindowWithEveryControl) {
    SetSkinPictureSource(&SkinFromFolder);
    CSampleWnd wnd;
    ASSERT_TRUE(wnd.CreateHost(0, 0, 920, 580));

    CPicStaticCtrl header;
    header.Create(L"头部", WS_CHILD | WS_VISIBLE, CRect(0, 0, 920, 120), &wnd);
    std::vector<BYTE> headerBytes = SkinBytes(L"kvs_header.png");
    header.SetImageData(headerBytes.data(), (DWORD)headerBytes.size());
    header.EnableWindow(FALSE);

    CxSkinButton tabs[3];
    const wchar_t* tabNames[] = {L"install", L"usb", L"picture"};
    for (int i = 0; i < 3; ++i) {
        CString n, d, hv;
        n.Format(L"kvs_tab_%s_n.png", tabNames[i]);
        d.Format(L"kvs_tab_%s_d.png", tabNames[i]);
        hv.Format(L"kvs_tab_%s_h.png", tabNames[i]);
        tabs[i].SetSkin(n, d, hv, L"kvs_frame_shared_x.png");
        tabs[i].Create(L"标签", WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP : 0),
                       CRect(10 + 126 * i, 39, 136 + 126 * i, 115), &wnd, 10104 + i);
    }
    tabs[0].SendMessage(BM_SETCHECK, 1);
    CxSkinButton close;
    close.SetSkin(L"kvs_frame_close_n.png", L"kvs_frame_close_d.png", L"kvs_frame_close_h.png", L"kvs_frame_shared_x.png");
    close.Create(L"关闭", WS_CHILD | WS_VISIBLE, CRect(890, 0, 920, 26), &wnd, 10101);
    close.SetToolTipText(L"关闭程序");

    CColorText_Static title;
    title.Create(L"系统检测：正在检查您的电脑配置", WS_CHILD | WS_VISIBLE, CRect(20, 135, 420, 160), &wnd);
    LOGFONTW lf = Face(-18);
    title.SetFont(&lf);
    title.SetTextColor(0x212121);
    CColorText_Static disabled;
    disabled.Create(L"已停用的标签", WS_CHILD | WS_VISIBLE, CRect(20, 165, 200, 185), &wnd);
    lf = Face(-14);
    disabled.SetFont(&lf);
    disabled.EnableWindow(FALSE);
    CHyperLink link;
    link.Create(L"查看更新 1.0.0.1", WS_CHILD | WS_VISIBLE, CRect(220, 165, 400, 185), &wnd, 10113);
    link.SetFont(&lf);
    link.SetBackColor(0xFFFFFF);
    link.SetLink(L"打开更新页面", L"https://www.kavetta.example/", 1);

    CGIFControl spinner, okMark, failMark;
    spinner.Create(L"", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, CRect(20, 200, 36, 216), &wnd);
    spinner.LoadImages(L"kvs_spin_check.gif", L"kvs_spin_ok.png", L"kvs_spin_fail.png");
    spinner.Play();
    okMark.Create(L"", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, CRect(46, 200, 62, 216), &wnd);
    okMark.LoadImages(L"kvs_spin_check.gif", L"kvs_spin_ok.png", L"kvs_spin_fail.png");
    okMark.Stop(1);
    failMark.Create(L"", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, CRect(72, 200, 88, 216), &wnd);
    failMark.LoadImages(L"kvs_spin_check.gif", L"kvs_spin_ok.png", L"kvs_spin_fail.png");
    failMark.Stop(2);
    CGIFControl busy;
    busy.Create(L"", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, CRect(110, 190, 170, 250), &wnd);
    busy.LoadImages(L"kvs_anim_check.gif", L"", L"");
    busy.Play();

    CMyProgressCtrl progress;
    progress.Create(WS_CHILD | WS_VISIBLE, CRect(20, 270, 420, 290), &wnd, 30);
    progress.SetBarColor(0xFF0078E3);
    progress.SetTrackColor(0xFFFFFFFF);
    progress.SetPos(60);

    CMyRadioButton format1, format2;
    format1.m_backColor = 0xFFFFFF;
    format2.m_backColor = 0xFFFFFF;
    format1.Create(L"格式一", WS_CHILD | WS_VISIBLE | WS_GROUP | BS_AUTORADIOBUTTON, CRect(20, 305, 100, 325), &wnd, 10705);
    format2.Create(L"格式二", WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON, CRect(110, 305, 190, 325), &wnd, 10706);
    lf = Face(-12);
    format1.SetFont(&lf);
    format2.SetFont(&lf);
    format1.SetCheck(1);
    CAdvancedEdit edit;
    edit.Create(WS_CHILD | WS_VISIBLE | ES_READONLY | ES_AUTOHSCROLL, CRect(20, 335, 300, 355), &wnd, 10707);
    edit.SetWindowText(L"D:\\备份\\系统.gho");
    edit.SetTextColor(0x515151);

    CxSkinButton desktop;
    desktop.SetSkin(L"kvs_box_desktop_n.png", L"kvs_box_desktop_d.png", L"kvs_box_desktop_h.png", L"kvs_box_desktop_x.png");
    desktop.Create(L"桌面", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, CRect(20, 370, 120, 450), &wnd, 1020);
    desktop.SendMessage(BM_SETCHECK, 1);
    CxSkinButton documents;
    documents.SetSkin(L"kvs_box_documents_n.png", L"kvs_box_documents_d.png", L"kvs_box_documents_h.png",
                      L"kvs_box_documents_x.png");
    documents.Create(L"文档", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, CRect(130, 370, 230, 450), &wnd, 1021);
    CxSkinButton next;
    next.SetSkin(L"kvs_btn_next_n.png", L"kvs_btn_next_d.png", L"kvs_btn_next_h.png", L"kvs_btn_next_x.png");
    next.Create(L"下一步", WS_CHILD | WS_VISIBLE, CRect(280, 520, 400, 560), &wnd, 10109);
    CxSkinButton back;
    back.SetSkin(L"kvs_btn_back_n.png", L"kvs_btn_back_d.png", L"kvs_btn_back_h.png", L"kvs_btn_back_x.png");
    back.Create(L"上一步", WS_CHILD | WS_VISIBLE, CRect(140, 520, 260, 560), &wnd, 10112);
    back.EnableWindow(FALSE);
    CColorButton colour;
    colour.Create(L"确定", WS_CHILD | WS_VISIBLE, CRect(20, 520, 120, 555), &wnd, 103);
    colour.SetFont(10, L"微软雅黑", FALSE, FALSE);
    colour.SetColors(0xFFFFFF, 0xFF960D, 0xFFFFFF, 0xE58705);

    COsCatInfo cats[2];
    cats[0].m_id = L"win1064";
    cats[0].m_caption = L"Windows 10 64位";
    cats[0].m_text = L"适合大多数新电脑，内存 4GB 以上推荐";
    cats[0].m_systemMask = 0xC0;
    cats[1].m_id = L"win764";
    cats[1].m_caption = L"Windows 7 64位";
    cats[1].m_text = L"经典稳定，适合老电脑";
    cats[1].m_systemMask = 0xA0;
    cats[1].m_displayGroup = 1;
    COnlinefileinfo images[3];
    const wchar_t* titles[] = {L"Windows 10 专业版 22H2", L"Windows 10 家庭版 22H2", L"Windows 7 旗舰版 SP1"};
    BYTE masks[] = {0xC0, 0xC0, 0xA0};
    for (int i = 0; i < 3; ++i) {
        images[i].m_title = titles[i];
        images[i].m_detail1 = L"19045.3803";
        images[i].m_detail2 = L"5.2GB";
        images[i].m_description = L"纯净安装，自动激活驱动，保留常用运行库。";
        images[i].m_systemMask = masks[i];
    }
    CMyOsCatListbox list;
    list.CreateListWindow(&wnd, CRect(440, 135, 905, 505));
    for (int i = 0; i < 2; ++i) list.AddCategory(&cats[i], i);
    for (int i = 0; i < 3; ++i) list.AddEntry(&images[i], i);
    list.RecalcLayout();
    list.UpdateWindow();
    list.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(20, 20));  // expand the first category
    list.m_selectedId = 1;
    list.Invalidate();

    wnd.UpdateWindow();
    Pump(600);
    EXPECT_GT(CaptureWindow(wnd.m_hWnd, L"controls_sample.png"), 20);

    // The message box over the sample window, from a worker thread.
    AfxGetApp()->m_pMainWnd = &wnd;
    struct Box {
        static unsigned __stdcall Proc(void*) {
            return (unsigned)MyMessageBox(MB_ICONQUESTION | MB_YESNO, TRUE,
                                          L"文件已下载完成。\n\n是否立即重启电脑并开始安装系统？", 10);
        }
    };
    HANDLE t = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Box::Proc, nullptr, 0, nullptr));
    HWND box = nullptr;
    DWORD boxThread = GetThreadId(t);
    struct Find {
        static BOOL CALLBACK Proc(HWND h, LPARAM lp) {
            if (!IsWindowVisible(h)) return TRUE;
            *reinterpret_cast<HWND*>(lp) = h;
            return FALSE;
        }
    };
    PumpUntil([&] {
        EnumThreadWindows(boxThread, &Find::Proc, reinterpret_cast<LPARAM>(&box));
        return box != nullptr;
    });
    ASSERT_NE(nullptr, box);
    Pump(1500);
    EXPECT_GT(CaptureWindow(box, L"controls_message_box.png"), 5);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(104, BN_CLICKED), (LPARAM)GetDlgItem(box, 104));
    PumpUntil([&] { return WaitForSingleObject(t, 0) == WAIT_OBJECT_0; });
    CloseHandle(t);
    AfxGetApp()->m_pMainWnd = nullptr;
    SetSkinPictureSource(nullptr);
    wnd.DestroyWindow();
}

}  // namespace
