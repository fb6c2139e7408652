#!/usr/bin/env python3
"""Prepares a scenario of the simulated machine in a Wine prefix, host-side,
before the program starts.

  prepare_scenario.py --prefix WINEPREFIX --sim-root DIR --scenario FILE.json
                      [--name NAME] [--port N]

Makes SIM_ROOT/NAME/ afresh: a copy of the scenario (scenario.json, the file
the program is given), routes.json for the catalogue server (the scenario's
"server" section), drives/<letter>/ for every drive letter of the scenario
and drives/part-<device>-<number>/ for every volume without a letter (the
simulated boot host takes paths on a temporary letter there), each filled
with the volume's "files". Each letter becomes a real Wine
drive: WINEPREFIX/dosdevices/<letter>: links to its folder. (Wine 8 forgets a
DefineDosDeviceW letter when the defining process ends, so the links are made
here.) The system drive C: is the prefix's own drive_c; its "files" go there,
and the data folder left on it by an earlier run is removed. Letters that
appear later are linked now too: the storage seam reveals them.

With --port, the copy's "server" section gets "mirror":
http://127.0.0.1:PORT/NAME/kavetta.ini, which the simulated machine uses as
its configuration mirror, so every scenario reaches its own routes.

Prints the Windows path of the prepared scenario file.
"""
import argparse
import hashlib
import json
import os
import shutil
import sys

KEEP = {"c", "z"}  # the prefix's system drive and the host's root
DATA_FOLDER = "KavettaData"  # the program's data folder name (core/fixed_texts.h)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def fill(folder, files):
    for entry in files:
        relative = entry["path"].replace("\\", "/").lstrip("/")
        if ".." in relative.split("/"):
            sys.exit("a scenario file path may not leave its drive: " + entry["path"])
        target = os.path.join(folder, relative)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if "text" in entry:
            data = entry["text"].encode("utf-8")
        else:
            size = int(entry.get("sizeBytes", 0))
            seed = hashlib.sha256(relative.encode()).digest()
            data = (seed * (size // len(seed) + 1))[:size]
        with open(target, "wb") as f:
            f.write(data)


def is_simulated_drive(target):
    """Whether a letter's link target is a drive folder of a prepared
    scenario: SIM_ROOT/NAME/drives/<letter>, its scenario beside it or gone."""
    target = os.path.abspath(target)
    drives = os.path.dirname(target)
    if os.path.basename(drives) != "drives":
        return False
    prepared = os.path.dirname(drives)
    return not os.path.exists(target) or os.path.isfile(os.path.join(prepared, "scenario.json"))


def volumes(scenario):
    """(letter or "part-<device>-<number>", volume) of every volume."""
    for disk in scenario.get("disks", []):
        for index, part in enumerate(disk.get("partitions", [])):
            volume = part.get("volume")
            if not volume:
                continue
            if volume.get("letter"):
                yield volume["letter"][0].lower(), volume
            else:
                yield "part-%d-%d" % (disk.get("device", 0), part.get("number", index + 1)), volume


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--sim-root", required=True)
    parser.add_argument("--scenario", required=True)
    parser.add_argument("--name")
    parser.add_argument("--port", type=int)
    o = parser.parse_args()
    name = o.name or os.path.splitext(os.path.basename(o.scenario))[0]
    with open(o.scenario, encoding="utf-8") as f:
        scenario = json.load(f)

    run = os.path.abspath(os.path.join(o.sim_root, name))
    shutil.rmtree(run, ignore_errors=True)
    os.makedirs(os.path.join(run, "drives"))
    dosdevices = os.path.join(o.prefix, "dosdevices")
    drive_c = os.path.join(o.prefix, "drive_c")
    if not os.path.isdir(dosdevices) or not os.path.isdir(drive_c):
        sys.exit("not a Wine prefix: " + o.prefix)

    # Letters an earlier scenario linked into a simulated drive folder go,
    # whichever folder of scenarios it was prepared in (another run's, or
    # one already removed): only this scenario's letters are drives.
    for entry in os.listdir(dosdevices):
        link = os.path.join(dosdevices, entry)
        if len(entry) == 2 and entry[1] == ":" and os.path.islink(link) and entry[0] not in KEEP:
            if is_simulated_drive(os.path.join(dosdevices, os.readlink(link))):
                os.remove(link)
    shutil.rmtree(os.path.join(drive_c, DATA_FOLDER), ignore_errors=True)

    for letter, volume in volumes(scenario):
        if letter == "z":
            sys.exit("Z: is the host's root in the Wine prefix; a scenario may not use it")
        if letter == "c":
            fill(drive_c, volume.get("files", []))
            continue
        folder = os.path.join(run, "drives", letter)
        os.makedirs(folder)
        fill(folder, volume.get("files", []))
        if len(letter) > 1:
            continue  # no letter: reached through a temporary letter of the boot host
        link = os.path.join(dosdevices, letter + ":")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(folder, link)

    server = dict(scenario.get("server", {}))
    routes = {"mode": server.get("mode", "normal"), "paths": server.get("paths", {}),
              "shares": server.get("shares", {})}
    with open(os.path.join(run, "routes.json"), "w", encoding="utf-8") as f:
        json.dump(routes, f, indent=1)
    if o.port:
        server["mirror"] = "http://127.0.0.1:%d/%s/kavetta.ini" % (o.port, name)
        scenario["server"] = server
    with open(os.path.join(run, "scenario.json"), "w", encoding="utf-8") as f:
        json.dump(scenario, f, indent=1, ensure_ascii=False)
    print(windows_path(os.path.join(run, "scenario.json")))


if __name__ == "__main__":
    main()
