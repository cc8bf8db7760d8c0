"""The study's summary table and its QC page, from the subjects' summary rows; a subject without
a row failed, and its row names the log that says why."""
import argparse
import glob
import html
import os
import re
import sys

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
    group = os.path.join(args.output, "group")
    os.makedirs(group, exist_ok=True)
    with open(os.path.join(group, "summary.tsv"), "w") as handle:
        handle.write("\t".join(COLUMNS) + "\n")
        for row in rows:
            handle.write("\t".join(row) + "\n")
    write_page(os.path.join(group, "index.html"), rows, pictures)
    failed = sum(1 for row in rows if row[8] != "ok")
    wrong = sum(1 for row in rows if row[7].startswith("WRONG"))
    print(f"{len(rows)} subjects: {len(rows) - failed} ok, {failed} failed, "
          f"{wrong} with a gradient table that looks wrong")
    return 1 if failed else 0


def write_page(path, rows, pictures):
    """One section per subject: its QC picture and its row; relative links only, so that the
    page works opened from the file system."""
    parts = ["<!DOCTYPE html>", "<html><head><meta charset='utf-8'><title>Study QC</title>",
             "<style>body{font-family:sans-serif} table{border-collapse:collapse}"
             " td,th{border:1px solid #999;padding:2px 6px} .failed{background:#fcc}"
             " .wrong{background:#fec} img{max-width:100%}</style></head><body>",
             "<h1>Study QC</h1>", "<table id='summary'><tr>"]
    parts += [f"<th>{html.escape(c)}</th>" for c in COLUMNS]
    parts.append("</tr>")
    for row in rows:
        kind = "failed" if row[8] != "ok" else "wrong" if row[7].startswith("WRONG") else ""
        parts.append(f"<tr class='{kind}'>" + "".join(f"<td>{html.escape(v)}</td>" for v in row)
                     + "</tr>")
    parts.append("</table>")
    for row, picture in zip(rows, pictures):
        name = row[0] + ("" if row[1] == "n/a" else " " + row[1])
        parts.append(f"<h2>{html.escape(name)}</h2><p>{html.escape(row[8])}, gradient table: "
                     f"{html.escape(row[7])}</p>")
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
