"""The study's summary table and its QC page, from the subjects' summary rows; a subject without
a row failed, and its row names the log that says why. Every subject with a colour FA map also
gets a 3D view page beside the QC page (NiiVue, copied into the group folder, so that viewing
needs no network)."""
import argparse
import glob
import html
import os
import re
import shutil
import sys
import urllib.parse

COLUMNS = ["participant_id", "session_id", "voxels_fitted", "mean_fa", "mean_adc",
           "track_count", "mean_track_length_mm", "gradcheck", "status", "mean_ad", "mean_rd",
           "negative_eigenvalue_voxels", "shells"]


def acquisitions(bids):
    patterns = [os.path.join(bids, "sub-*", "dwi", "*_dwi.nii.gz"),
                os.path.join(bids, "sub-*", "ses-*", "dwi", "*_dwi.nii.gz")]
    for path in sorted(p for pattern in patterns for p in glob.glob(pattern)):
        folder = os.path.relpath(os.path.dirname(path), bids)
        stem = os.path.basename(path)[: -len("_dwi.nii.gz")]
        yield folder, stem


def failed_row(output, folder, stem):
    subject = re.match(r"sub-([A-Za-z0-9]+)", stem).group(1)
    session = re.search(r"_ses-([A-Za-z0-9]+)", stem)
    # The first step, in the order they run, whose output is missing is the one that failed
    # (later steps may have failed on what it did not write).
    steps = [("tenscalc", "work/" + stem + "_tensor.nii.gz"),
             ("gradcheck", stem + "_gradcheck.txt"),
             ("fiberwalk", stem + "_model-tensor_tractography.*"),
             ("trksmooth", stem + "_model-tensor_desc-smooth_tractography.*"),
             ("summary", stem + "_summary.tsv")]
    log = "the workflow's log"
    for step, product in steps:
        step_log = os.path.join(output, folder, "logs", stem + "_" + step + ".log")
        made = glob.glob(os.path.join(output, folder, product))
        if not made and os.path.exists(step_log):
            log = os.path.relpath(step_log, output)
            break
    return ["sub-" + subject, "ses-" + session.group(1) if session else "n/a", "n/a", "n/a",
            "n/a", "n/a", "n/a", "n/a", "failed (see " + log + ")", "n/a", "n/a", "n/a", "n/a"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bids")
    parser.add_argument("output")
    parser.add_argument("--participant_label", nargs="*", default=[])
    args = parser.parse_args()
    rows = []
    pictures = []
    stems = []
    for folder, stem in acquisitions(args.bids):
        subject = re.match(r"sub-([A-Za-z0-9]+)", stem).group(1)
        labels = [label[len("sub-"):] if label.startswith("sub-") else label
                  for label in args.participant_label]
        if labels and subject not in labels:
            continue
        summary = os.path.join(args.output, folder, stem + "_summary.tsv")
        if os.path.exists(summary):
            with open(summary) as handle:
                rows.append(handle.read().splitlines()[1].split("\t"))
            pictures.append(os.path.join("..", folder, stem + "_qc.png"))
        else:
            rows.append(failed_row(args.output, folder, stem))
            pictures.append("")
        stems.append((folder, stem))
    group = os.path.join(args.output, "group")
    os.makedirs(group, exist_ok=True)
    views = write_views(args.output, group, rows, stems)
    with open(os.path.join(group, "summary.tsv"), "w") as handle:
        handle.write("\t".join(COLUMNS) + "\n")
        for row in rows:
            handle.write("\t".join(row) + "\n")
    write_page(os.path.join(group, "index.html"), rows, pictures, views)
    failed = sum(1 for row in rows if row[8] != "ok")
    wrong = sum(1 for row in rows if row[7].startswith("WRONG"))
    print(f"{len(rows)} subjects: {len(rows) - failed} ok, {failed} failed, "
          f"{wrong} with a gradient table that looks wrong")
    return 1 if failed else 0


def viewer_files():
    """NiiVue's browser bundle and the view script: beside the installed workflow, or where
    scripts/install-deps.sh installs the npm package in the repository."""
    viewer = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "viewer")
    bundle = os.path.join(viewer, "niivue.umd.js")
    if not os.path.exists(bundle):
        bundle = os.path.join(viewer, "node_modules", "@niivue", "niivue", "dist", "niivue.umd.js")
    return bundle, os.path.join(viewer, "qcview.js")


def link(path, start):
    return urllib.parse.quote(os.path.relpath(path, start).replace(os.sep, "/"))


def smoothed_tracks(folder, stem, row):
    """The subject's smoothed track file, or "" when it has no track. Of files in several
    formats (track_format changed between runs) the newest. A subject without tracks has an
    empty file, or one with no track in it, which NiiVue cannot read: the summary's count tells."""
    pattern = os.path.join(folder, stem + "_model-tensor_desc-smooth_tractography.*")
    found = sorted(glob.glob(pattern), key=os.path.getmtime)
    if not found or os.path.getsize(found[-1]) == 0 or row[5] == "0":
        return ""
    return found[-1]


def write_views(output, group, rows, acquisitions):
    """A 3D view page per subject whose colour FA map is there; returns each row's page name
    (empty where there is none)."""
    bundle, script = viewer_files()
    if not os.path.exists(bundle):
        print("No 3D views: NiiVue is not installed (scripts/install-deps.sh installs it into "
              "workflow/viewer/node_modules)", file=sys.stderr)
        return [""] * len(rows)
    views = []
    for row, (folder, stem) in zip(rows, acquisitions):
        maps = os.path.join(output, folder, stem + "_model-tensor_param-")
        if not os.path.exists(maps + "rgb_dwimap.nii.gz"):
            views.append("")
            continue
        tracks = smoothed_tracks(os.path.join(output, folder), stem, row)
        name = row[0] + ("" if row[1] == "n/a" else " " + row[1])
        page = stem + "_view.html"
        write_view(os.path.join(group, page), name, link(maps + "rgb_dwimap.nii.gz", group),
                   link(maps + "fa_dwimap.nii.gz", group), link(tracks, group) if tracks else "")
        views.append(page)
    if any(views):
        shutil.copyfile(bundle, os.path.join(group, "niivue.umd.js"))
        shutil.copyfile(script, os.path.join(group, "qcview.js"))
    return views


def write_view(path, name, volume, fallback, tracks):
    """The page of one subject; qcview.js does the showing. It reads the files beside it, which
    browsers allow only to a page that is served (cohort.sh OUTPUT_DIR view)."""
    title = html.escape(name)
    data = f"data-volume='{html.escape(volume)}' data-fallback-volume='{html.escape(fallback)}'"
    if tracks:
        data += f" data-tracks='{html.escape(tracks)}'"
    described = ("with the smoothed tracks (" + html.escape(os.path.basename(tracks)) + ")"
                 if tracks else "(no tracks)")
    parts = ["<!DOCTYPE html>", "<html><head><meta charset='utf-8'>",
             f"<title>{title}: 3D QC</title>",
             "<style>body{font-family:sans-serif;margin:8px} #frame{height:75vh;background:#000}"
             " #errors{color:#a00} [data-state=failed] #status{color:#a00}</style>",
             # qcview.js first: it records errors of everything after it, NiiVue's too.
             "<script src='qcview.js'></script><script src='niivue.umd.js'></script>",
             f"</head><body {data}>", f"<h1>{title}</h1>",
             f"<p><a href='index.html'>Study QC</a> &middot; colour FA {described} &middot; "
             "<button data-layout='MULTIPLANAR'>Slices and 3D</button> "
             "<button data-layout='RENDER'>3D</button></p>",
             "<p id='status'>Loading&hellip;</p>",
             "<div id='frame'><canvas id='view'></canvas></div>",
             "<pre id='errors'></pre>", "</body></html>"]
    with open(path, "w") as handle:
        handle.write("\n".join(parts) + "\n")


def write_page(path, rows, pictures, views):
    """One section per subject: its QC picture, its row and a link to its 3D view; relative links
    only, so that the page works opened from the file system (the 3D views need it served)."""
    parts = ["<!DOCTYPE html>", "<html><head><meta charset='utf-8'><title>Study QC</title>",
             "<style>body{font-family:sans-serif} table{border-collapse:collapse}"
             " td,th{border:1px solid #999;padding:2px 6px} .failed{background:#fcc}"
             " .wrong{background:#fec} img{max-width:100%}</style></head><body>",
             "<h1>Study QC</h1>", "<table id='summary'><tr>"]
    # The 3D view first: the row is wider than most windows.
    parts += ["<th>3D view</th>"] + [f"<th>{html.escape(c)}</th>" for c in COLUMNS]
    parts.append("</tr>")
    for row, view in zip(rows, views):
        kind = "failed" if row[8] != "ok" else "wrong" if row[7].startswith("WRONG") else ""
        opened = f"<a class='view' href='{html.escape(view)}'>3D view</a>" if view else ""
        parts.append(f"<tr class='{kind}'><td>{opened}</td>"
                     + "".join(f"<td>{html.escape(v)}</td>" for v in row) + "</tr>")
    parts.append("</table>")
    for row, picture, view in zip(rows, pictures, views):
        name = row[0] + ("" if row[1] == "n/a" else " " + row[1])
        opened = f" (<a href='{html.escape(view)}'>3D view</a>)" if view else ""
        parts.append(f"<h2>{html.escape(name)}{opened}</h2><p>{html.escape(row[8])}, "
                     f"gradient table: {html.escape(row[7])}</p>")
        if picture:
            parts.append(f"<img class='qc' src='{html.escape(picture)}' alt='{html.escape(name)}'>")
    # Each picture reports whether it loaded and its size, so that the page can be checked.
    parts.append("<pre id='loaded'></pre><script>window.addEventListener('load', function () {"
                 " var lines = []; document.querySelectorAll('img.qc').forEach(function (img) {"
                 " lines.push((img.complete && img.naturalWidth > 0 ? 'loaded ' : 'missing ')"
                 " + img.alt + ' ' + img.naturalWidth + 'x' + img.naturalHeight); });"
                 " document.getElementById('loaded').textContent = lines.join('\\n'); });"
                 "</script>")
    parts.append("</body></html>")
    with open(path, "w") as handle:
        handle.write("\n".join(parts) + "\n")


if __name__ == "__main__":
    sys.exit(main())
