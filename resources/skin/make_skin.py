#!/usr/bin/python3
"""Draws the program's skin pictures into this folder.

Run with Debian's python3 and python3-pil (and fonts-wqy-microhei for the
Chinese labels):  /usr/bin/python3 resources/skin/make_skin.py
The output is reproducible: the same packages draw the same bytes. The build
zips this folder into the skin payload; the program asks for each picture by
its entry name (a case-insensitive suffix match, first entry wins), so every
name starts with "kvs_" and "kvs_" occurs nowhere else in a name: then no
name is the end of another.

Button pictures come in states: _n normal, _d down (pressed or checked),
_h hover, _x disabled. NAMES.md (written by this script) lists every entry
with its size and role.
"""
import io
import os
import sys

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
FONT_PATH = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"

BLUE = (0, 120, 227)
DEEP = (5, 135, 229)
LIGHT = (13, 150, 255)
GREY = (200, 200, 200)
DARK = (52, 52, 52)
WHITE = (255, 255, 255)
GREEN = (46, 160, 67)
RED = (214, 48, 49)
ORANGE = (240, 150, 20)

entries = []  # (name, width, height, role)


def font(size):
    return ImageFont.truetype(FONT_PATH, size)


def save(img, name, role, colors=32):
    """Saves a palette PNG (small) and records the entry."""
    path = os.path.join(HERE, name)
    pal = img.convert("RGB").quantize(colors=colors, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    pal.save(path, optimize=True)
    entries.append((name, img.width, img.height, role))


def centred_text(draw, box, text, size, fill):
    f = font(size)
    l, t, r, b = draw.textbbox((0, 0), text, font=f)
    x = box[0] + (box[2] - box[0] - (r - l)) // 2 - l
    y = box[1] + (box[3] - box[1] - (b - t)) // 2 - t
    draw.text((x, y), text, font=f, fill=fill)


STATE_STYLE = {
    # state: (background, text colour, border)
    "n": (LIGHT, WHITE, DEEP),
    "d": (DEEP, WHITE, (3, 90, 160)),
    "h": ((60, 175, 255), WHITE, DEEP),
    "x": (GREY, (245, 245, 245), (170, 170, 170)),
}


def button(base, w, h, label, role, states="ndhx", radius=None):
    for st in states:
        bg, fg, border = STATE_STYLE[st]
        img = Image.new("RGB", (w, h), WHITE)
        d = ImageDraw.Draw(img)
        r = radius if radius is not None else min(6, h // 4)
        d.rounded_rectangle((0, 0, w - 1, h - 1), radius=r, fill=bg, outline=border)
        if label:
            centred_text(d, (0, 0, w, h), label, max(10, min(h * 9 // 20, 18)), fg)
        save(img, "kvs_%s_%s.png" % (base, st), "%s (%s)" % (role, {"n": "normal", "d": "down", "h": "hover", "x": "disabled"}[st]))


def check_box(base, w, h, label, role, states="ndhx"):
    """A picture check box: a box mark (ticked when down) and the label."""
    for st in states:
        img = Image.new("RGB", (w, h), WHITE)
        d = ImageDraw.Draw(img)
        if st == "h":
            d.rectangle((0, 0, w - 1, h - 1), fill=(232, 243, 255))
        mark = min(h - 6, 16)
        y0 = (h - mark) // 2
        col = GREY if st == "x" else BLUE
        d.rectangle((3, y0, 3 + mark, y0 + mark), outline=col, width=2, fill=WHITE)
        if st == "d":
            d.line((6, y0 + mark // 2, 3 + mark // 2, y0 + mark - 3, mark, y0 + 3), fill=col, width=3)
        if label:
            centred_text(d, (mark + 6, 0, w, h), label, max(10, min(h // 2, 16)), (150, 150, 150) if st == "x" else DARK)
        save(img, "kvs_%s_%s.png" % (base, st), "%s (%s)" % (role, st))


def folder_box(base, w, h, label, role):
    """A large picture check box with a folder drawing (the backup choices)."""
    for st in "ndhx":
        img = Image.new("RGB", (w, h), WHITE)
        d = ImageDraw.Draw(img)
        frame = {"n": GREY, "d": BLUE, "h": LIGHT, "x": (225, 225, 225)}[st]
        d.rounded_rectangle((0, 0, w - 1, h - 1), radius=6, outline=frame, width=2, fill=(240, 248, 255) if st == "d" else WHITE)
        body = (250, 200, 80) if st != "x" else (220, 220, 220)
        d.rectangle((w // 2 - 20, 12, w // 2 - 4, 18), fill=body)
        d.rectangle((w // 2 - 20, 16, w // 2 + 20, 44), fill=body)
        centred_text(d, (0, 48, w, h - 4), label, 13, DARK if st != "x" else (160, 160, 160))
        if st == "d":
            d.ellipse((w - 22, 4, w - 6, 20), fill=GREEN)
            d.line((w - 18, 12, w - 15, 16, w - 9, 8), fill=WHITE, width=2)
        save(img, "kvs_%s_%s.png" % (base, st), "%s (%s)" % (role, st))


def panel(name, w, h, title, role, lines=(), color=BLUE):
    img = Image.new("RGB", (w, h), WHITE)
    d = ImageDraw.Draw(img)
    d.rectangle((0, 0, w - 1, h - 1), outline=(210, 225, 240), width=2)
    d.rectangle((0, 0, w - 1, min(36, h // 4)), fill=(235, 244, 253))
    centred_text(d, (0, 0, w, min(36, h // 4)), title, 16 if h > 100 else 12, color)
    y = min(36, h // 4) + 14
    for line in lines:
        d.text((24, y), line, font=font(14), fill=DARK)
        y += 24
    save(img, name, role, colors=24)


def mark_icon(name, w, h, kind, role):
    img = Image.new("RGB", (w, h), WHITE)
    d = ImageDraw.Draw(img)
    s = min(w, h) - 2
    x0, y0 = (w - s) // 2, (h - s) // 2
    col = {"warning": ORANGE, "error": RED, "question": BLUE, "info": LIGHT, "ok": GREEN, "fail": RED}[kind]
    if kind == "warning":
        d.polygon([(w // 2, y0), (x0 + s, y0 + s), (x0, y0 + s)], fill=col)
        centred_text(d, (0, y0 + s // 4, w, y0 + s), "!", max(8, s // 2), WHITE)
    else:
        d.ellipse((x0, y0, x0 + s, y0 + s), fill=col)
        if kind == "ok":
            d.line((x0 + s * 0.25, y0 + s * 0.52, x0 + s * 0.43, y0 + s * 0.7, x0 + s * 0.75, y0 + s * 0.32), fill=WHITE, width=max(2, s // 8))
        elif kind in ("error", "fail"):
            m = s * 0.3
            d.line((x0 + m, y0 + m, x0 + s - m, y0 + s - m), fill=WHITE, width=max(2, s // 8))
            d.line((x0 + s - m, y0 + m, x0 + m, y0 + s - m), fill=WHITE, width=max(2, s // 8))
        else:
            centred_text(d, (x0, y0, x0 + s, y0 + s), "?" if kind == "question" else "i", max(8, s * 3 // 5), WHITE)
    save(img, name, role)


def spinner(name, size, frames, delay_cs, role):
    """An animated GIF: a ring of dots whose bright dot goes round."""
    import math
    images = []
    for f in range(frames):
        img = Image.new("RGB", (size, size), WHITE)
        d = ImageDraw.Draw(img)
        r = size * 0.38
        dot = max(1.5, size * 0.09)
        for i in range(frames):
            a = 2 * math.pi * i / frames
            cx, cy = size / 2 + r * math.sin(a), size / 2 - r * math.cos(a)
            age = (f - i) % frames
            shade = int(80 + 170 * age / frames) if age else 0
            col = BLUE if age == 0 else (shade, min(255, shade + 20), 255)
            d.ellipse((cx - dot, cy - dot, cx + dot, cy + dot), fill=col)
        images.append(img.convert("P", palette=Image.Palette.ADAPTIVE, colors=16))
    path = os.path.join(HERE, name)
    images[0].save(path, save_all=True, append_images=images[1:], duration=delay_cs * 10, loop=0, optimize=False)
    entries.append((name, size, size, role + " (%d frames, %d ms each)" % (frames, delay_cs * 10)))


def logo(name, w, h, text, color, role):
    size = w
    img = Image.new("RGB", (size, size), WHITE)
    d = ImageDraw.Draw(img)
    d.rounded_rectangle((1, 1, size - 2, size - 2), radius=8, fill=color)
    q = size // 2
    for dx, dy in ((0, 0), (1, 0), (0, 1), (1, 1)):
        d.rectangle((8 + dx * (q - 6), 8 + dy * (q - 6), 8 + dx * (q - 6) + q - 9, 8 + dy * (q - 6) + q - 9), fill=WHITE)
    if text:
        centred_text(d, (0, size - 16, size, size), text, 10, WHITE)
    save(img, name, role)


# The pages' step column (0xF5F5F5): the strip's pictures sit on it.
COLUMN = (245, 245, 245)


def simple(name, w, h, role, draw, bg=None):
    img = Image.new("RGB", (w, h), bg or WHITE)
    draw(ImageDraw.Draw(img), w, h)
    save(img, name, role, colors=16)


def main():
    for f in os.listdir(HERE):
        if f.startswith("kvs_"):
            os.remove(os.path.join(HERE, f))

    # ---- Message box icons (controls) ----
    mark_icon("kvs_msg_warning.png", 46, 45, "warning", "message box: warning icon")
    mark_icon("kvs_msg_error.png", 46, 45, "error", "message box: error icon")
    mark_icon("kvs_msg_question.png", 46, 45, "question", "message box: question icon")
    mark_icon("kvs_msg_info.png", 46, 45, "info", "message box: information icon")

    # ---- Catalogue lists (controls) ----
    logo("kvs_list_logo_default.png", 45, 45, "", (110, 120, 135), "lists: default system logo")
    logo("kvs_list_logo_win10.png", 45, 45, "10", (0, 120, 215), "lists: first family logo")
    logo("kvs_list_logo_win8.png", 45, 45, "8", (0, 160, 160), "lists: second family logo")
    logo("kvs_list_logo_win7.png", 45, 45, "7", (40, 100, 180), "lists: third family logo")
    simple("kvs_list_badge_group1.png", 49, 43, "lists: group-1 badge",
           lambda d, w, h: (d.polygon([(0, 0), (w, 0), (0, h)], fill=RED), d.text((4, 3), "荐", font=font(14), fill=WHITE)))
    simple("kvs_list_marker_group2.png", 20, 20, "lists: group-2 marker",
           lambda d, w, h: (d.ellipse((1, 1, w - 2, h - 2), fill=GREY), d.line((5, 10, 15, 10), fill=WHITE, width=3)))
    simple("kvs_list_marker_collapsed.png", 20, 20, "category list: collapsed header",
           lambda d, w, h: d.polygon([(5, 7), (15, 7), (10, 14)], fill=BLUE))
    simple("kvs_list_marker_expanded.png", 20, 20, "category list: expanded header",
           lambda d, w, h: d.polygon([(5, 13), (15, 13), (10, 6)], fill=BLUE))
    simple("kvs_list_marker_hover.png", 50, 35, "lists: hovered entry",
           lambda d, w, h: (d.rounded_rectangle((0, 0, w - 1, h - 1), radius=6, outline=LIGHT, width=2),
                            centred_text(d, (0, 0, w, h), "选择", 13, LIGHT)))
    simple("kvs_list_marker_selected.png", 50, 35, "lists: selected entry",
           lambda d, w, h: (d.rounded_rectangle((0, 0, w - 1, h - 1), radius=6, fill=BLUE),
                            centred_text(d, (0, 0, w, h), "已选", 13, WHITE)))
    simple("kvs_usblist_mark_unchosen.png", 18, 18, "USB image list: unchosen row",
           lambda d, w, h: d.ellipse((1, 1, w - 2, h - 2), outline=GREY, width=2))
    simple("kvs_usblist_mark_chosen.png", 18, 18, "USB image list: chosen row",
           lambda d, w, h: (d.ellipse((1, 1, w - 2, h - 2), outline=BLUE, width=2), d.ellipse((5, 5, w - 6, h - 6), fill=BLUE)))
    simple("kvs_usbdisk_unchecked.png", 13, 13, "USB disk list: unchecked disk",
           lambda d, w, h: d.rectangle((0, 0, w - 1, h - 1), outline=GREY, width=1))
    simple("kvs_usbdisk_checked.png", 13, 13, "USB disk list: checked disk",
           lambda d, w, h: (d.rectangle((0, 0, w - 1, h - 1), fill=BLUE), d.line((2, 6, 5, 9, 10, 3), fill=WHITE, width=2)))

    # ---- Animations and their stills ----
    spinner("kvs_spin_check.gif", 16, 8, 8, "system check rows: spinner")
    mark_icon("kvs_spin_ok.png", 16, 16, "ok", "spinner still 1: success mark (shared by every page)")
    mark_icon("kvs_spin_fail.png", 16, 16, "fail", "spinner still 2: failure mark (shared by every page)")
    spinner("kvs_anim_check.gif", 60, 12, 8, "system check page: busy animation")
    spinner("kvs_anim_reboot.gif", 80, 12, 8, "restart page: busy animation")
    spinner("kvs_anim_usb.gif", 146, 12, 8, "USB page: busy animation")
    spinner("kvs_anim_ghost.gif", 80, 12, 8, "backup/restore page: busy animation")

    # ---- Main window frame ----
    def header(d, w, h):
        for y in range(h):
            t = y / h
            d.line((0, y, w, y), fill=(int(0 + 20 * t), int(110 + 30 * t), int(220 + 20 * t)))
        d.text((420, 30), "Kavetta 系统重装助手", font=font(30), fill=WHITE)
    simple("kvs_header.png", 920, 120, "main window: header picture", header)
    button("frame_tray", 30, 26, "—", "main window: hide to tray button", states="ndh", radius=0)
    button("frame_close", 30, 26, "×", "main window: close button", states="ndh", radius=0)
    button("frame_link", 78, 26, "官网", "main window: header link button", states="ndh", radius=0)
    button("frame_shared", 30, 26, "", "main window: the disabled picture shared by the frame's eight buttons", states="x", radius=0)
    for base, label in (("install", "系统重装"), ("usb", "U盘启动"), ("backup", "备份还原"), ("picture", "使用说明"), ("web", "在线帮助")):
        button("tab_" + base, 126, 76, label, "main window: %s tab" % base, states="ndh", radius=8)

    # ---- Page frame: the step strip ----
    steps = ["系统检测", "资料备份", "选择系统", "下载文件", "重启安装"]
    for i, label in enumerate(steps, 1):
        for kind, col in (("done", BLUE), ("todo", (150, 150, 150))):
            simple("kvs_step_%s_%d.png" % (kind, i), 120, 30, "step strip: caption of step %d (%s)" % (i, kind),
                   lambda d, w, h, label=label, col=col: d.text((4, 4), label, font=font(16), fill=col), bg=COLUMN)
    simple("kvs_step_dot_done.png", 9, 9, "step strip: done dot", lambda d, w, h: d.ellipse((0, 0, w - 1, h - 1), fill=BLUE),
           bg=COLUMN)
    simple("kvs_step_dot_todo.png", 9, 9, "step strip: to-do dot", lambda d, w, h: d.ellipse((0, 0, w - 1, h - 1), fill=GREY),
           bg=COLUMN)
    simple("kvs_step_line_done.png", 9, 45, "step strip: done connector", lambda d, w, h: d.line((4, 0, 4, h), fill=BLUE, width=2),
           bg=COLUMN)
    simple("kvs_step_line_todo.png", 9, 45, "step strip: to-do connector", lambda d, w, h: d.line((4, 0, 4, h), fill=GREY, width=2),
           bg=COLUMN)

    # ---- Page buttons ----
    button("btn_next", 120, 40, "下一步", "pages: Next")
    button("btn_back", 120, 40, "上一步", "pages: Back")
    button("btn_recheck", 80, 26, "重新检测", "system check: Re-check")
    button("btn_ok", 120, 40, "确定", "picker: OK")
    button("btn_cancel", 120, 40, "取消", "picker: Cancel")
    button("btn_return", 80, 26, "返回", "download page: Back")
    button("btn_pause", 23, 23, "Ⅱ", "download page: pause", radius=11)
    button("btn_resume", 23, 23, "▶", "download page: resume", radius=11)
    check_box("chk_autocontinue", 160, 30, "下载完成后自动继续", "download page: continue automatically")
    check_box("chk_selectall", 50, 30, "全选", "backup page: select all")
    folder_box("box_desktop", 100, 80, "桌面", "backup page: desktop")
    folder_box("box_documents", 100, 80, "我的文档", "backup page: documents")
    folder_box("box_favorites", 100, 80, "收藏夹", "backup page: favorites")
    for i, label in ((1, "全部系统"), (2, "推荐系统"), (3, "精选系统")):
        button("picker_tab%d" % i, 100, 28, label, "picker: tab %d" % i, radius=4)
    panel("kvs_banner_download.png", 640, 78, "正在为您准备系统文件", "download page: banner")

    # ---- USB page ----
    panel("kvs_usb_empty.png", 448, 200, "未检测到U盘", "USB page: no USB disk", ["请插入U盘，程序会自动刷新列表。"])
    panel("kvs_usb_side.png", 420, 220, "制作U盘启动盘", "USB page: side picture",
          ["1. 插入U盘并在左侧选择", "2. 点击“开始制作”", "3. 制作会清空U盘上的全部数据"])
    check_box("usb_showall", 90, 20, "显示全部", "USB page: show-all box", states="nd")
    for base, label, role in (("usb_disktool", "分区工具", "USB page: disk tool"),
                              ("usb_voltool", "卷标工具", "USB page: volume tool"),
                              ("usb_help", "帮助", "USB page: help")):
        button(base, 90, 80, label, role, states="nd", radius=8)
    button("shared", 90, 40, "", "hover and disabled pictures shared by the pages' buttons", states="hx")
    button("usb_start", 180, 50, "开始制作", "USB page: Start")
    button("usb_noimage", 180, 50, "仅制作启动盘", "USB page: make without image", states="ndh")
    button("usb_withimage", 180, 50, "制作并写入系统", "USB page: make with image", states="ndh")

    # ---- Picture page and help dialog ----
    panel("kvs_manual.png", 920, 460, "使用说明", "picture page: the picture",
          ["第一步：系统检测会检查电脑的配置与磁盘空间。", "第二步：选择需要备份的资料。", "第三步：选择要安装的系统。",
           "第四步：下载系统文件并校验。", "第五步：重启电脑，自动完成安装。"])
    panel("kvs_help_background.png", 720, 400, "U盘启动帮助", "USB help dialog: background")
    button("help_close", 33, 30, "×", "USB help dialog: close", radius=0)
    for i, label in ((1, "制作步骤"), (2, "启动方法"), (3, "常见问题")):
        button("help_tab%d" % i, 134, 40, label, "USB help dialog: tab %d" % i, radius=4)
        panel("kvs_help_page%d.png" % i, 692, 273, label, "USB help dialog: picture %d" % i,
              ["按开机快捷键（F12、F11 或 Esc）选择U盘启动。"] if i == 2 else ["请按提示操作。"])

    # ---- Image backup/restore page ----
    panel("kvs_ghost_page.png", 800, 300, "系统备份与还原", "backup/restore page: background")
    button("ghost_browse", 25, 21, "…", "backup/restore page: browse buttons", states="ndh", radius=3)
    button("ghost_backup", 150, 40, "备份系统", "backup/restore page: backup", states="ndh")
    button("ghost_restore", 150, 40, "还原系统", "backup/restore page: restore", states="ndh")

    check_names()
    write_index()


def check_names():
    names = [e[0].lower() for e in entries]
    for a in names:
        for b in names:
            if a != b and b.endswith(a):
                sys.exit("entry name %s is the end of %s" % (a, b))
        if a.find("kvs_", 1) >= 0:
            sys.exit("entry name %s holds the prefix twice" % a)


def write_index():
    total = sum(os.path.getsize(os.path.join(HERE, e[0])) for e in entries)
    with open(os.path.join(HERE, "NAMES.md"), "w", encoding="utf-8") as out:
        out.write("# Skin pictures\n\nWritten by make_skin.py: every entry of the skin archive, its size and role.\n")
        out.write("Button states: _n normal, _d down (pressed or checked), _h hover, _x disabled.\n\n")
        out.write("| entry | size | role |\n|---|---|---|\n")
        for name, w, h, role in entries:
            out.write("| %s | %dx%d | %s |\n" % (name, w, h, role))
        out.write("\n%d pictures, %d bytes.\n" % (len(entries), total))
    print("%d pictures, %d bytes" % (len(entries), total))


if __name__ == "__main__":
    main()
