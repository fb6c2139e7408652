#!/usr/bin/env python3
"""Makes the local catalogue that catalogue_server.py serves.

  make_catalogue.py --out DIR

Writes DIR/kavetta.ini (the online configuration in its plain form, with
"{base}" where the server puts its own address, such as
http://127.0.0.1:18080/typical), DIR/files/* (every file the configuration
offers, deterministic content, 5 MiB or more where a download needs it) and
DIR/manifest.json (name -> size and MD5 of every file, for tests).

The configuration offers: the categories of the recommendation tables
(64-bit Windows 10, 7 and 8.1, 32-bit Windows 10 and 7), images with digests
and mirrors, the recommended entries, the three boot environments, a linked
drivers pack, the tool file and the two extra files, and the general and
version sections. Mirror kinds the server can be told to break per path
(see catalogue_server.py): each image has a second mirror, and one image is
also offered through the local share service.
"""
import argparse
import hashlib
import json
import os

MiB = 1024 * 1024
MARKER = ";KAVETTA-CATALOGUE"

# name -> size in bytes. Everything the download road fetches is 5 MiB or more.
FILES = {
    "win10_pro_x64.iso": 6 * MiB,
    "win10_home_x64.iso": 5 * MiB,
    "win7_ult_x64.iso": 5 * MiB,
    "win81_pro_x64.iso": 5 * MiB,
    "win10_pro_x86.iso": 5 * MiB,
    "win7_ult_x86.iso": 5 * MiB,
    "rec_win10x64.esd": 5 * MiB,
    "rec_win7x64.iso": 5 * MiB,
    "rec_lite_x64.iso": 5 * MiB,
    "rec_pure_x64.iso": 5 * MiB,
    "kvt7pe.wim": 5 * MiB,
    "kvt8pe.wim": 5 * MiB,
    "kvt10pe.wim": 7 * MiB,
    "drivers_pack.zip": 5 * MiB,
    "kvttool.bin": 5 * MiB,
    "kvtextra1.zip": 5 * MiB,
    "kvtextra2.zip": 1 * MiB,
    "kvtupdate.exe": 64 * 1024,
}

# Catalogue images: section -> (category, file, title, type, usb, link)
IMAGES = [
    ("win10_pro_x64", "win1064", "win10_pro_x64.iso", "Windows 10 专业版 22H2 64位", "iso", 1, "drivers_pack"),
    ("win10_home_x64", "win1064", "win10_home_x64.iso", "Windows 10 家庭版 22H2 64位", "iso", 1, ""),
    ("win7_ult_x64", "win764", "win7_ult_x64.iso", "Windows 7 旗舰版 SP1 64位", "iso", 1, "drivers_pack"),
    ("win81_pro_x64", "win864", "win81_pro_x64.iso", "Windows 8.1 专业版 64位", "iso", 0, ""),
    ("win10_pro_x86", "win1032", "win10_pro_x86.iso", "Windows 10 专业版 32位", "iso", 1, ""),
    ("win7_ult_x86", "win732", "win7_ult_x86.iso", "Windows 7 旗舰版 SP1 32位", "iso", 1, ""),
]
CATEGORIES = [
    ("win1064", "Windows 10 64位", "适合 4 GB 以上内存的新电脑"),
    ("win764", "Windows 7 64位", "经典稳定"),
    ("win864", "Windows 8.1 64位", ""),
    ("win1032", "Windows 10 32位", "适合老电脑"),
    ("win732", "Windows 7 32位", "适合 2 GB 以下内存"),
]
# Recommended entries: section -> (file, title, type)
RECOMMENDED = [
    ("rec_win10x64", "rec_win10x64.esd", "推荐：Windows 10 64位 精简安装", "esd"),
    ("rec_win7x64", "rec_win7x64.iso", "推荐：Windows 7 64位", "iso"),
    ("rec_lite_x64", "rec_lite_x64.iso", "轻量版 Windows 10 64位", "iso"),
    ("rec_pure_x64", "rec_pure_x64.iso", "纯净版 Windows 10 64位", "iso"),
]
PE = [("kvt7pe", "kvt7pe.wim"), ("kvt8pe", "kvt8pe.wim"), ("kvt10pe", "kvt10pe.wim")]


def content(name, size):
    """Deterministic bytes: SHA-256 blocks of the name and a counter."""
    seed = hashlib.sha256(name.encode()).digest()
    block = b"".join(hashlib.sha256(seed + i.to_bytes(4, "little")).digest() for i in range(2048))  # 64 KiB
    whole, rest = divmod(size, len(block))
    return block * whole + block[:rest]


def mirrors(file, share=None):
    """Two mirrors of the file (the second one a spare copy path), or a share page first."""
    lines = []
    if share:
        lines += ["mirrors=s|1|2", f"urls={{base}}/lk/{share}", "urltypes=2"]
    else:
        lines += ["mirrors=1|2"]
    lines += [f"url1={{base}}/files/{file}", f"url2={{base}}/mirror2/{file}"]
    return lines


def write_ini(path, digests):
    out = [MARKER, "; The local catalogue of the simulated machine (made by make_catalogue.py).", ""]
    for cat, caption, text in CATEGORIES:
        names = [s for s, c, *_ in IMAGES if c == cat]
        out += [f"[{cat}]", "list=" + "|".join(names), f"caption={caption}", f"text={text}", ""]
    for section, _cat, file, title, kind, usb, link in IMAGES:
        out += [f"[{section}]", f"name={section}", f"type={kind}", "match=1", f"title={title}",
                f"desc={title}，官方原版镜像", "detail1=2026-11", f"detail2={FILES[file] // MiB} MB",
                f"file={file}", f"usb={usb}", f"md5={digests[file]}"]
        out += mirrors(file, share="win10share" if section == "win10_pro_x64" else None)
        if link:
            out.append(f"link={link}")
        out.append("")
    for section, file, title, kind in RECOMMENDED:
        out += [f"[{section}]", f"title={title}", f"type={kind}", "match=1", f"desc={title}",
                "detail1=2026-10", f"detail2={FILES[file] // MiB} MB", f"file={file}", "usb=1",
                f"md5={digests[file]}"] + mirrors(file) + [""]
    for section, file in PE:
        out += [f"[{section}]", "match=2", f"title=维护环境 {section[3:].upper()}", f"md5={digests[file]}"]
        out += mirrors(file) + [""]
    out += ["[drivers_pack]", "match=1", "desc=驱动与常用工具", f"md5={digests['drivers_pack.zip']}"]
    out += mirrors("drivers_pack.zip") + [""]
    out += ["[tool]", "desc=工具文件", f"md5={digests['kvttool.bin']}"] + mirrors("kvttool.bin") + [""]
    out += ["[extra1]", "match=1", "desc=附加文件一", "file=kvtextra1.zip", f"md5={digests['kvtextra1.zip']}"]
    out += mirrors("kvtextra1.zip") + [""]
    out += ["[extra2]", "match=1", "desc=附加文件二", "file=kvtextra2.zip", f"md5={digests['kvtextra2.zip']}"]
    out += mirrors("kvtextra2.zip") + [""]
    out += ["[general]", "headerlink={base}/home", "weblink={base}/help", "stall=20", "pickerlist=mr11",
            "usblist=mr11", ""]
    out += ["[version]", "updater={base}/files/kvtupdate.exe", "force=", "notice=", ""]
    text = "\r\n".join(out)
    with open(path + ".part", "w", encoding="utf-8", newline="") as f:
        f.write(text)
    os.replace(path + ".part", path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    files = os.path.join(args.out, "files")
    os.makedirs(files, exist_ok=True)
    manifest = {}
    for name, size in FILES.items():
        data = content(name, size)
        path = os.path.join(files, name)
        if not (os.path.exists(path) and os.path.getsize(path) == size):
            with open(path + ".part", "wb") as f:
                f.write(data)
            os.replace(path + ".part", path)
        manifest[name] = {"size": size, "md5": hashlib.md5(data).hexdigest().upper()}
    write_ini(os.path.join(args.out, "kavetta.ini"), {n: m["md5"] for n, m in manifest.items()})
    with open(os.path.join(args.out, "manifest.json.part"), "w") as f:
        json.dump({"files": manifest, "shares": {"win10share": "win10_pro_x64.iso"}}, f, indent=1, sort_keys=True)
    os.replace(os.path.join(args.out, "manifest.json.part"), os.path.join(args.out, "manifest.json"))


if __name__ == "__main__":
    main()
