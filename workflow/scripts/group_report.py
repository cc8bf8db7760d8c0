"""The study's summary table (with a BIDS sidecar describing its columns) and its QC page, from
the subjects' summary rows; a subject without a row failed, or was never run, and its row says
why. Every subject with a colour FA map also gets a 3D view page beside the QC page (NiiVue,
copied into the group folder, so that viewing needs no network).

Exit status: 1 when any subject failed, else 3 when any gradient table looks wrong (as gradcheck
says it), else 0."""
import argparse
import glob
import html
import json
import os
import shutil
import sys
import urllib.parse

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bundle_report  # noqa: E402
import study  # noqa: E402
from study import COLUMNS, STATUS, TRACKS  # noqa: E402

# What the page's header shows of each column, units included, and the sidecar's description.
HEADINGS = {
    "participant_id": ("participant", "Subject label, as its folder is named", None),
    "session_id": ("session", "Session label, n/a without sessions", None),
    "voxels_fitted": ("voxels fitted", "Voxels with a fitted tensor (FA above 0)", "voxels"),
    "mean_fa": ("mean FA", "Mean fractional anisotropy where FA >= summary_fa", "unitless"),
    "mean_adc_mm2_per_s": ("mean ADC (mm\u00b2/s)", "Mean ADC (mean diffusivity) where FA >= "
                           "summary_fa", "mm^2/s"),
    "track_count": ("tracks", "Smoothed tracks", "tracks"),
    "mean_track_length_mm": ("mean track length (mm)", "Mean length of the smoothed tracks", "mm"),
    "gradients": ("gradient table", "gradcheck's verdict on the table (right, WRONG: best is ..., "
                  "undecided) or corrected (...) when the table gradcheck finds right was used",
                  None),
    "status": ("status", "ok; ok, gradient table looks wrong; failed: the reason; or no "
               "diffusion data", None),
    "mean_ad_mm2_per_s": ("mean AD (mm\u00b2/s)", "Mean axial diffusivity where FA >= summary_fa",
                          "mm^2/s"),
    "mean_rd_mm2_per_s": ("mean RD (mm\u00b2/s)", "Mean radial diffusivity where FA >= "
                          "summary_fa", "mm^2/s"),
    "negative_eigenvalue_voxels": ("voxels with a negative eigenvalue", "Voxels whose tensor has "
                                   "a negative eigenvalue", "voxels"),
    "shells_s_per_mm2": ("shells fitted (b, s/mm\u00b2)", "b values of the shells the tensor was "
                         "fitted to", "s/mm^2"),
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bids")
    parser.add_argument("output")
    parser.add_argument("--participant_label", nargs="*", default=[])
    args = parser.parse_args()
    rows = study.rows_of(args.bids, args.output, args.participant_label)
    group = os.path.join(args.output, "group")
    os.makedirs(group, exist_ok=True)
    views = write_views(args.output, group, rows)
    with open(os.path.join(group, "summary.tsv"), "w", encoding="utf-8") as handle:
        handle.write("\t".join(COLUMNS) + "\n")
        for row in rows:
            handle.write("\t".join(row.cells) + "\n")
    with open(os.path.join(group, "summary.json"), "w", encoding="utf-8") as handle:
        json.dump({column: {"Description": description, **({"Units": units} if units else {})}
                   for column, (_, description, units) in HEADINGS.items()}, handle, indent=2)
        handle.write("\n")
    plots = bundle_report.write_group(group, bundle_tables(args.output, rows))
    write_page(args.output, group, rows, views, plots)
    lines, status = study.report(rows)
    print("\n".join(lines))
    if status == 0 and any(row.wrong_table for row in rows):
        status = 3
    return status


def bundle_tables(output, rows):
    """(subject, session, bundles table, profiles table) of every acquisition that has them."""
    return [(row.entry.subject, row.entry.session,
             os.path.join(output, row.entry.folder, row.entry.stem + "_bundles.tsv"),
             os.path.join(output, row.entry.folder, row.entry.stem + "_profiles.tsv"))
            for row in rows if row.entry.runnable and not row.failed]


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
    pattern = glob.escape(os.path.join(folder, stem)) + "_model-tensor_desc-smooth_tractography.*"
    found = sorted(glob.glob(pattern), key=os.path.getmtime)
    if not found or os.path.getsize(found[-1]) == 0 or row.cells[TRACKS] == "0":
        return ""
    return found[-1]


def write_views(output, group, rows):
    """A 3D view page per subject whose colour FA map is there; returns each row's page name
    (empty where there is none)."""
    bundle, script = viewer_files()
    if not os.path.exists(bundle):
        print("No 3D views: NiiVue is not installed (scripts/install-deps.sh installs it into "
              "workflow/viewer/node_modules)", file=sys.stderr)
        return [""] * len(rows)
    views = []
    for row in rows:
        folder, stem = row.entry.folder, row.entry.stem
        maps = os.path.join(output, folder, stem + "_model-tensor_param-")
        if not row.entry.runnable or not os.path.exists(maps + "rgb_dwimap.nii.gz"):
            views.append("")
            continue
        tracks = smoothed_tracks(os.path.join(output, folder), stem, row)
        page = stem + "_view.html"
        write_view(os.path.join(group, page), row.entry.name,
                   link(maps + "rgb_dwimap.nii.gz", group), link(maps + "fa_dwimap.nii.gz", group),
                   link(tracks, group) if tracks else "")
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


def subject_files(output, row):
    """Every picture, map, track file and log of an acquisition: (kind, [(name, path)]) with
    the short names the page shows."""
    if not row.entry.runnable:
        return []
    folder = glob.escape(os.path.join(output, row.entry.folder))
    stem = glob.escape(row.entry.stem)

    def found(pattern, prefix="", suffix=""):
        paths = sorted(glob.glob(os.path.join(folder, pattern.format(stem=stem))))
        names = [os.path.basename(p)[len(prefix.format(stem=row.entry.stem)):] for p in paths]
        return [(n[: -len(suffix)] if suffix and n.endswith(suffix) else n, p)
                for n, p in zip(names, paths)]

    kinds = [("QC picture", found("{stem}_qc.png", "{stem}_")),
             ("maps", found("{stem}_model-tensor_param-*_dwimap.nii.gz",
                            "{stem}_model-tensor_param-", "_dwimap.nii.gz")),
             ("tracks", found("{stem}_model-tensor_*tractography.*", "{stem}_model-tensor_")),
             ("gradients", found("{stem}_gradcheck.txt", "{stem}_")
              + [("table fitted", p) for _, p in found("work/{stem}_dwi.bvec")]),
             ("summary row", found("{stem}_summary.tsv", "{stem}_")),
             ("logs", found("logs/{stem}_*.log", "{stem}_", ".log"))]
    return [(kind, files) for kind, files in kinds if files]


def caption(row):
    """What the mosaic's own caption says, beside the picture."""
    cells = dict(zip(COLUMNS, row.cells))
    return (f"mean FA {cells['mean_fa']} \u00b7 {cells['track_count']} tracks, mean length "
            f"{cells['mean_track_length_mm']} mm \u00b7 gradient table {cells['gradients']}")


def write_page(output, group, rows, views, plots=()):
    """The table of every row, the bundles' tract profiles, then a section per row: its status
    (a failed subject's reason with the log that tells more), its QC picture with a caption,
    its 3D view and its files.
    Relative links only, so that the page works opened from the file system (the 3D views need
    it served)."""
    esc = html.escape
    lines, _ = study.report(rows)
    parts = ["<!DOCTYPE html>", "<html><head><meta charset='utf-8'><title>Study QC</title>",
             "<style>body{font-family:sans-serif} table{border-collapse:collapse}"
             " td,th{border:1px solid #999;padding:2px 6px} .failed{background:#fcc}"
             " .wrong{background:#fec} .nodata{background:#eee} img{max-width:100%}"
             " p.status{font-weight:bold} section.failed p.status{color:#a00}"
             " figure{margin:0}</style></head><body>",
             "<h1>Study QC</h1>", f"<p>{esc(lines[0])}"]
    workflow_log = os.path.join(output, "logs", "snakemake.log")
    if os.path.exists(workflow_log):
        parts[-1] += f" &middot; <a href='{link(workflow_log, group)}'>workflow log</a>"
    parts[-1] += "</p>"
    # The 3D view first: the row is wider than most windows.
    parts += ["<table id='summary'><tr><th>3D view</th>"]
    parts += [f"<th>{esc(HEADINGS[c][0])}</th>" for c in COLUMNS] + ["</tr>"]
    for number, (row, view) in enumerate(zip(rows, views)):
        kind = row_kind(row)
        opened = f"<a class='view' href='{esc(view)}'>3D view</a>" if view else ""
        cells = [f"<a href='#row-{number}'>{esc(row.cells[0])}</a>"]
        cells += [esc(v) for v in row.cells[1:]]
        parts.append(f"<tr class='{kind}'><td>{opened}</td>"
                     + "".join(f"<td>{v}</td>" for v in cells) + "</tr>")
    parts.append("</table>")
    parts.append(bundle_report.html_section(plots))
    for number, (row, view) in enumerate(zip(rows, views)):
        parts.append(f"<section id='row-{number}' class='{row_kind(row)}'>")
        opened = f" (<a href='{esc(view)}'>3D view</a>)" if view else ""
        parts.append(f"<h2>{esc(row.entry.name)}{opened}</h2>")
        status = esc(row.cells[STATUS])
        if row.log:
            status += f" (<a href='{link(row.log, group)}'>log</a>)"
        parts.append(f"<p class='status'>{status}</p>")
        files = subject_files(output, row)
        for _, path in dict(files).get("QC picture", []):
            parts.append(f"<figure><img class='qc' src='{link(path, group)}' "
                         f"alt='QC picture of {esc(row.entry.name)}'>"
                         f"<figcaption>{esc(caption(row))}</figcaption></figure>")
        if files:
            parts.append("<ul class='files'>" + "".join(
                f"<li>{esc(kind)}: " + ", ".join(
                    f"<a href='{link(path, group)}'>{esc(name)}</a>" for name, path in named)
                + "</li>" for kind, named in files) + "</ul>")
        parts.append("</section>")
    # Each picture records whether it loaded, and its size, in data-loaded: for checks of the
    # page, out of the reader's sight.
    parts.append("<script>document.querySelectorAll('img.qc').forEach(function (img) {"
                 " function mark() { img.setAttribute('data-loaded', img.naturalWidth > 0"
                 " ? img.naturalWidth + 'x' + img.naturalHeight : 'missing'); }"
                 " if (img.complete) { mark(); } else { img.addEventListener('load', mark);"
                 " img.addEventListener('error', mark); } });</script>")
    parts.append("</body></html>")
    with open(os.path.join(group, "index.html"), "w", encoding="utf-8") as handle:
        handle.write("\n".join(parts) + "\n")


def row_kind(row):
    return ("failed" if row.failed else "nodata" if row.no_data
            else "wrong" if row.wrong_table else "")


if __name__ == "__main__":
    sys.exit(main())
