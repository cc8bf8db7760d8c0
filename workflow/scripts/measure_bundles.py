"""Measures the configured bundles of one acquisition with trkprofile: for every bundle whose
masks are found in the ROI folder, its figures (one row) and its profile, gathered into one
table each for the group level. A bundle without its masks, or an acquisition without tracks,
is left out and the log says so; a mask folder made elsewhere (atlas registration, drawing) is
used as it is."""
import argparse
import json
import os
import subprocess
import sys
import tempfile


def masks_of(bundle, roi_folder, prefix):
    """{"include": [...], "exclude": [...], "ends": [...]}: the bundle's masks as paths, or the
    first one missing."""
    found, missing = {}, None
    for kind in ("include", "exclude", "ends"):
        names = bundle.get(kind) or []
        if isinstance(names, str):
            names = [names]
        found[kind] = []
        for name in names:
            path = os.path.join(roi_folder, str(name).replace("{prefix}", prefix))
            if not os.path.isfile(path):
                missing = missing or path
            found[kind].append(path)
    return found, missing


def append_table(source, target, header_written):
    with open(source) as handle:
        lines = handle.read().splitlines()
    if not lines:
        return header_written
    with open(target, "a") as out:
        out.write("\n".join(lines[0 if not header_written else 1:]) + "\n")
    return True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stem", required=True)
    parser.add_argument("--tracks", required=True)
    parser.add_argument("--roi_folder", required=True)
    parser.add_argument("--bundles", required=True, help="the config's bundles, as JSON")
    parser.add_argument("--map", action="append", default=[], help="NAME=FILE")
    parser.add_argument("--nodes", default="100")
    parser.add_argument("--trkprofile", required=True)
    parser.add_argument("--threads", default="1")
    parser.add_argument("--stats", required=True)
    parser.add_argument("--profiles", required=True)
    args = parser.parse_args()

    for path in (args.stats, args.profiles):
        open(path, "w").close()
    if os.path.getsize(args.tracks) == 0:
        print("no tracks: no bundle measured")
        return 0
    stats_header = profiles_header = False
    with tempfile.TemporaryDirectory() as work:
        for bundle in json.loads(args.bundles) or []:
            name = str(bundle.get("name", ""))
            masks, missing = masks_of(bundle, args.roi_folder, args.stem)
            if missing:
                print(f"{name}: not measured, no mask {missing}")
                continue
            stats = os.path.join(work, name + "_stats.tsv")
            profile = os.path.join(work, name + "_profile.tsv")
            command = [args.trkprofile, args.tracks, "-bundle", name, "-stats", stats,
                       "-profile", profile, "-nodes", str(args.nodes),
                       "-nthreads", str(args.threads)]
            for kind in ("include", "exclude", "ends"):
                for path in masks[kind]:
                    command += ["-" + kind, path]
            for pair in args.map:
                command += ["-map", pair]
            result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                    text=True)
            print(result.stdout, end="", flush=True)
            if result.returncode != 0:
                return result.returncode
            stats_header = append_table(stats, args.stats, stats_header)
            profiles_header = append_table(profile, args.profiles, profiles_header)
    return 0


if __name__ == "__main__":
    sys.exit(main())
