"""One subject's row of the study summary, and its QC picture."""
import argparse
import os
import re
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from niftitrk import read_float_volume, track_lengths  # noqa: E402
from study import COLUMNS, WRONG_TABLE  # noqa: E402


def fit_report(log):
    """The negative eigenvalue count and the shells fitted, from tenscalc's log."""
    negative = "n/a"
    shells = "all"
    with open(log, errors="replace") as handle:
        for line in handle:
            if line.startswith("Voxels with a negative eigenvalue: "):
                negative = line.split(": ", 1)[1].strip()
            elif line.startswith("Shells fitted: "):
                shells = line.split(": ", 1)[1].strip()
    return negative, shells


def gradients(line, policy):
    """The summary's gradients cell and the subject's status, from gradcheck's verdict and what
    the workflow was told to do about it (a table that looks wrong under fail never gets here)."""
    line = line.strip()
    if line.startswith("Gradient table looks right"):
        return "right", "ok"
    if line.startswith("Gradient table looks wrong: best is "):
        best = line[len("Gradient table looks wrong: best is "):]
        if policy == "correct":
            return f"corrected ({best.split(' (')[0]})", "ok"
        return "WRONG: best is " + best, WRONG_TABLE
    # Too little white matter, or directions that determine no tensor: not a verdict of right.
    return "undecided", "ok"


def caption_gradients(cell):
    """The gradients cell short enough for the picture's one-line caption."""
    return cell.split(" (mean length")[0]


def main():
    parser = argparse.ArgumentParser()
    for name in ["stem", "fa", "adc", "tracks", "gradcheck", "row", "picture", "trkview", "color",
                 "ad", "rd", "tenscalc_log"]:
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--threshold", type=float, default=0.2)
    parser.add_argument("--policy", choices=["warn", "fail", "correct"], default="warn")
    args = parser.parse_args()

    fa = read_float_volume(args.fa)
    adc = read_float_volume(args.adc)
    inside = [i for i, value in enumerate(fa) if value >= args.threshold]
    fitted = sum(1 for value in fa if value > 0)
    mean_fa = sum(fa[i] for i in inside) / len(inside) if inside else 0.0
    mean_adc = sum(adc[i] for i in inside) / len(inside) if inside else 0.0
    ad = read_float_volume(args.ad)
    rd = read_float_volume(args.rd)
    mean_ad = sum(ad[i] for i in inside) / len(inside) if inside else 0.0
    mean_rd = sum(rd[i] for i in inside) / len(inside) if inside else 0.0
    negative, shells = fit_report(args.tenscalc_log)
    lengths = track_lengths(args.tracks)
    mean_length = sum(lengths) / len(lengths) if lengths else 0.0
    with open(args.gradcheck) as handle:
        check, status = gradients(handle.read(), args.policy)

    subject = re.match(r"sub-([A-Za-z0-9]+)", args.stem).group(1)
    session = re.search(r"_ses-([A-Za-z0-9]+)", args.stem)
    row = ["sub-" + subject, "ses-" + session.group(1) if session else "n/a", str(fitted),
           f"{mean_fa:.4f}", f"{mean_adc:.6g}", str(len(lengths)), f"{mean_length:.1f}", check,
           status, f"{mean_ad:.6g}", f"{mean_rd:.6g}", negative, shells]
    caption = (f"{args.stem}   mean FA {mean_fa:.2f}   {len(lengths)} tracks, mean length "
               f"{mean_length:.1f} mm   gradient table {caption_gradients(check)}")
    help_text = subprocess.run([args.trkview, "--help"], capture_output=True, text=True).stdout
    command = [args.trkview, args.color, args.tracks, args.picture]
    if "--mosaic" in help_text:
        command += ["-mosaic", "-caption", caption]
    else:
        command += ["-a"]
    if os.path.getsize(args.tracks) == 0:
        # trkview needs a track file; an empty run gets the picture of the map alone.
        empty = args.picture + ".empty.trk"
        command[2] = empty
        write_empty_tracks(empty, args.fa)
    drawn = subprocess.run(command)
    if drawn.returncode != 0:
        # trkview's message, last in the log, is the reason: a traceback would bury it.
        sys.exit(drawn.returncode)
    with open(args.row, "w") as handle:
        handle.write("\t".join(COLUMNS) + "\n" + "\t".join(row) + "\n")


def write_empty_tracks(path, reference):
    """A track file with a header and no track, on the grid of the reference volume."""
    import gzip
    import struct
    opener = gzip.open if reference.endswith(".gz") else open
    with opener(reference, "rb") as handle:
        header = handle.read(348)
    dims = struct.unpack("<8h", header[40:56])
    sizes = struct.unpack("<8f", header[76:108])
    record = bytearray(1000)
    record[0:6] = b"TRACK\0"
    struct.pack_into("<3h", record, 6, *dims[1:4])
    struct.pack_into("<3f", record, 12, *sizes[1:4])
    struct.pack_into("<i", record, 988, 0)     # track count
    struct.pack_into("<i", record, 992, 2)     # version
    struct.pack_into("<i", record, 996, 1000)  # header size
    with open(path, "wb") as handle:
        handle.write(record)


if __name__ == "__main__":
    main()
