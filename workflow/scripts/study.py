"""What a study holds and how far each of its acquisitions got, shared by the workflow (which
acquisitions to run), cohort.sh (the console summary) and the group report (the table and the QC
page). Nothing found in the BIDS folder stops the study: a subject or file that cannot be taken
becomes a row that says why, so that every other subject still runs.

    study.py check BIDS_DIR [--participant_label L ...] [--config KEY=VALUE ...] [--caller NAME]
    study.py status BIDS_DIR OUTPUT_DIR [--participant_label L ...] [--workflow-status N]
                    [--workflow-log FILE]

check exits with status 2, saying what was searched, when there is nothing to run or a setting
is not one the workflow knows; status prints one line per subject that failed or has no
diffusion data, and exits with 1 when any failed."""
import argparse
import errno
import glob
import os
import re
import sys
from dataclasses import dataclass

# BIDS labels are ASCII letters and digits; anything else would reach file names, shell commands
# and the workflow's patterns.
LABEL = re.compile(r"[A-Za-z0-9]+\Z")
ACQUISITION = re.compile(r"(sub-[A-Za-z0-9]+(?:_[a-z]+-[A-Za-z0-9]+)*)_dwi\.nii(?:\.gz)?\Z")
SEARCHED = "sub-*/dwi/*_dwi.nii[.gz] and sub-*/ses-*/dwi/*_dwi.nii[.gz]"

# The summary's columns: quantities carry their units in the name (mm2_per_s is mm^2/s), so that
# a statistics package reading the table keeps them. Positions are stable for older readers.
COLUMNS = ["participant_id", "session_id", "voxels_fitted", "mean_fa", "mean_adc_mm2_per_s",
           "track_count", "mean_track_length_mm", "gradients", "status", "mean_ad_mm2_per_s",
           "mean_rd_mm2_per_s", "negative_eigenvalue_voxels", "shells_s_per_mm2"]
GRADIENTS, STATUS, TRACKS = COLUMNS.index("gradients"), COLUMNS.index("status"), 5

GRADIENT_POLICIES = ("warn", "fail", "correct")
TRACK_FORMATS = ("trk", "tck", "trx")
NO_DATA = "no diffusion data"
WRONG_TABLE = "ok, gradient table looks wrong"


@dataclass
class Entry:
    """One row of the study: an acquisition, or a subject or session that has none to run."""
    subject: str         # the folder's name as found, "sub-01"
    session: str = "n/a"
    folder: str = ""     # of the acquisition, relative to the BIDS folder: "sub-01/dwi"
    stem: str = ""       # "sub-01_ses-a", empty where there is no acquisition
    nii: str = ""
    problem: str = ""    # why it cannot be run; NO_DATA for a subject without an acquisition

    @property
    def runnable(self):
        return bool(self.stem) and not self.problem

    @property
    def raw(self):
        """The image's path without its ending: the .bval and .bvec are named after it."""
        return self.nii[: -len(".nii.gz")] if self.nii.endswith(".gz") else self.nii[: -len(".nii")]

    @property
    def name(self):
        """sub-01, sub-01 ses-a, or sub-01 acq-b3000 for one of several acquisitions."""
        if self.stem:
            return self.stem.replace("_", " ")
        return self.subject + ("" if self.session == "n/a" else " " + self.session)


def printable(text):
    """File names need not be UTF-8; the page and the table must be."""
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


def file_problem(path, shown):
    """Why the file cannot be read, or "" when it can."""
    try:
        os.stat(path)
    except OSError as error:
        if os.path.islink(path):
            if error.errno == errno.ELOOP:
                return f"{shown} is a symbolic link that leads back to itself"
            return f"{shown} is a symbolic link to {printable(os.readlink(path))}, which is missing"
        if error.errno == errno.ENOENT:
            return f"{shown} is missing"
        return f"{shown} cannot be read: {error.strerror}"
    if os.path.isdir(path):
        return f"{shown} is a folder, not a file"
    if not os.path.isfile(path):
        return f"{shown} is not a regular file"
    if not os.access(path, os.R_OK):
        return f"{shown} cannot be read: permission denied"
    return ""


def acquisition_entry(bids, folder, name, subject, session):
    shown = printable(os.path.join(folder, name))
    entry = Entry(subject, session, folder)
    match = ACQUISITION.match(name)
    if not match:
        entry.problem = (f"{shown} is not a BIDS file name (sub-<label>[_<key>-<label>...]_dwi"
                         ".nii.gz, labels of ASCII letters and digits)")
        return entry
    entities = dict(part.split("-", 1) for part in match.group(1).split("_"))
    if "sub-" + entities["sub"] != subject or \
            ("ses-" + entities["ses"] if "ses" in entities else "n/a") != session:
        entry.problem = f"{shown} names another subject or session than its folder"
        return entry
    entry.stem = match.group(1)
    entry.nii = os.path.join(bids, folder, name)
    for path in (entry.nii, entry.raw + ".bval", entry.raw + ".bvec"):
        problem = file_problem(path, printable(os.path.relpath(path, bids)))
        if problem:
            entry.problem = problem
            break
    return entry


def folder_problem(path, shown):
    if os.path.isdir(path):
        return "" if os.access(path, os.R_OK | os.X_OK) else \
            f"{shown} cannot be read: permission denied"
    problem = file_problem(path, shown)
    return problem.replace("which is missing", "a folder that is missing") if problem \
        else f"{shown} is a file, not a folder"


def dwi_entries(bids, folder, subject, session):
    """The acquisitions of one dwi/ folder (with .nii and .nii.gz of one stem a problem)."""
    dwi = os.path.join(folder, "dwi")
    problem = folder_problem(os.path.join(bids, dwi), printable(dwi))
    if problem:
        return [Entry(subject, session, dwi, problem=problem)]
    names = sorted(n for n in os.listdir(os.path.join(bids, dwi))
                   if n.endswith("_dwi.nii.gz") or n.endswith("_dwi.nii"))
    entries = [acquisition_entry(bids, dwi, name, subject, session) for name in names]
    stems = [e.stem for e in entries if e.stem]
    for entry in entries:
        if entry.stem and stems.count(entry.stem) > 1 and not entry.problem:
            entry.problem = (f"{printable(dwi)} holds both {entry.stem}_dwi.nii and "
                             f"{entry.stem}_dwi.nii.gz")
    return entries


def subject_entries(bids, subject):
    shown = printable(subject)
    problem = folder_problem(os.path.join(bids, subject), shown)
    if not problem and not LABEL.match(subject[len("sub-"):]):
        problem = (f"folder name '{shown}' is not sub-<label> with a label of ASCII letters and "
                   "digits")
    if problem:
        return [Entry(shown, problem=problem)]
    entries = []
    if os.path.lexists(os.path.join(bids, subject, "dwi")):
        entries += dwi_entries(bids, subject, subject, "n/a")
    for session in sorted(glob.glob(glob.escape(os.path.join(bids, subject)) + "/ses-*")):
        session = os.path.basename(session)
        folder = os.path.join(subject, session)
        problem = folder_problem(os.path.join(bids, folder), printable(folder))
        if not problem and not LABEL.match(session[len("ses-"):]):
            problem = (f"session folder '{printable(folder)}' is not ses-<label> with a label of "
                       "ASCII letters and digits")
        if problem:
            entries.append(Entry(subject, printable(session), folder, problem=problem))
        elif os.path.lexists(os.path.join(bids, folder, "dwi")):
            entries += dwi_entries(bids, folder, subject, session)
    if not entries:
        entries.append(Entry(subject, problem=NO_DATA))
    return entries


def bare_labels(labels):
    return [label[len("sub-"):] if label.startswith("sub-") else label for label in labels]


def discover(bids, labels=()):
    """Every row of the study, subject by subject; the subjects of labels only, when given."""
    wanted = set(bare_labels(labels))
    entries = []
    for subject in sorted(os.listdir(bids)):
        if subject.startswith("sub-") and (not wanted or subject[len("sub-"):] in wanted):
            entries += subject_entries(bids, subject)
    return entries


def nothing_to_run(bids, labels, entries):
    """The error when no acquisition was found, or "" when there is one (runnable or not)."""
    if any(e.problem != NO_DATA for e in entries):
        return ""
    where = f"no diffusion acquisition in {bids} (searched {SEARCHED}"
    if labels:
        subjects = sorted(printable(n) for n in os.listdir(bids) if n.startswith("sub-"))
        where += (f" for --participant_label {' '.join(bare_labels(labels))}; subjects there: "
                  + (", ".join(subjects) if subjects else "none"))
    without = [e.subject for e in entries]
    if without:
        where += "; without a dwi/ acquisition: " + ", ".join(without)
    return where + ")"


# The maps a bundle can be measured on, and the work file of each.
PROFILE_MAPS = {"fa": "fa", "md": "adc", "ad": "ad", "rd": "rd"}


def settings_problem(settings):
    """Why a workflow setting cannot be used, or ""; settings maps names to values."""
    policy = str(settings.get("gradcheck", "warn"))
    if policy not in GRADIENT_POLICIES:
        return f"gradcheck must be warn, fail or correct, not '{policy}'"
    tracks = str(settings.get("track_format", "trk"))
    if tracks not in TRACK_FORMATS:
        return f"track_format must be trk, tck or trx, not '{tracks}'"
    maps = [m for m in str(settings.get("profile_maps", "fa")).replace(" ", "").split(",") if m]
    unknown = [m for m in maps if m not in PROFILE_MAPS]
    if unknown:
        return f"profile_maps must name maps of {', '.join(PROFILE_MAPS)}, not '{unknown[0]}'"
    nodes = str(settings.get("profile_nodes", 100))
    if not nodes.isdigit() or int(nodes) < 2:
        return f"profile_nodes must be a whole number of at least 2, not '{nodes}'"
    bundles = settings.get("bundles") or []
    if not isinstance(bundles, list) or not all(isinstance(b, dict) and b.get("name")
                                                for b in bundles):
        return "bundles must be a list of entries with a name and include, exclude, ends masks"
    return ""


# The steps of an acquisition in the order they run, each with the program its log is named
# after and a file it leaves only when it succeeded.
STEPS = [("gradcheck", "{stem}_gradcheck.txt"), ("tenscalc", "work/{stem}_tensor.nii.gz"),
         ("fiberwalk", "{stem}_model-tensor_tractography.*"),
         ("trksmooth", "{stem}_model-tensor_desc-smooth_tractography.*"),
         ("trkprofile", "{stem}_bundles.tsv"),
         ("summary", "{stem}_summary.tsv")]


def first_message(text):
    """The first line of the last message in a program's log, with the indented lines that
    continue it: what a failed program said last, without its progress counters and without
    nifticlib's own complaints ("** rciRD: read only ... bytes"), which only repeat it."""
    paragraphs = [[]]
    for line in text.splitlines():
        line = re.split(r"[\b\r]", line)[-1].rstrip()
        noise = line.find("** ")
        if noise >= 0:
            line = line[:noise].rstrip()
            if not line:
                continue
        if line:
            paragraphs[-1].append(line)
        elif paragraphs[-1]:
            paragraphs.append([])
    message = [p for p in paragraphs if p]
    if not message:
        return ""
    last = message[-1]
    if last[0].startswith("Traceback"):
        return last[-1].strip()
    said = [last[0].strip()]
    for line in last[1:]:
        if not line[:1].isspace():
            break
        said.append(line.strip())
    return ": ".join(said)


def lower_first(text):
    """"Can not read" reads as a reason after a colon; "BIDS" stays as it is."""
    return text[:1].lower() + text[1:] if text[1:2].islower() else text


def failure(output, entry):
    """The reason an acquisition has no summary row, and the log that tells more (or "")."""
    folder = os.path.join(output, entry.folder)
    for program, product in STEPS:
        log = os.path.join(folder, "logs", f"{entry.stem}_{program}.log")
        if glob.glob(os.path.join(glob.escape(folder), product.format(stem=entry.stem))) or \
                not os.path.exists(log):
            continue
        with open(log, errors="replace") as handle:
            said = first_message(handle.read())
        return (f"{program}: {lower_first(said)}" if said
                else f"{program} stopped without a message"), log
    return "not run yet (the participant level has not reached it)", ""


@dataclass
class Row:
    entry: Entry
    cells: list
    log: str = ""  # the log of the failing step

    @property
    def failed(self):
        return self.cells[STATUS].startswith("failed")

    @property
    def no_data(self):
        return self.cells[STATUS] == NO_DATA

    @property
    def wrong_table(self):
        return self.cells[STATUS] == WRONG_TABLE


def empty_row(entry, status):
    cells = ["n/a"] * len(COLUMNS)
    cells[0], cells[1], cells[STATUS] = entry.subject, entry.session, status
    return cells


def row_of(output, entry):
    if entry.problem == NO_DATA:
        return Row(entry, empty_row(entry, NO_DATA))
    if entry.problem:
        return Row(entry, empty_row(entry, "failed: " + entry.problem))
    summary = os.path.join(output, entry.folder, entry.stem + "_summary.tsv")
    if os.path.exists(summary):
        with open(summary) as handle:
            return Row(entry, handle.read().splitlines()[1].split("\t"))
    reason, log = failure(output, entry)
    return Row(entry, empty_row(entry, "failed: " + reason), log)


def rows_of(bids, output, labels=()):
    return [row_of(output, entry) for entry in discover(bids, labels)]


def report(rows):
    """The console's account of a study: a count, then one line per subject that needs a look.
    Returns the lines and the exit status: 1 when any failed, 0 otherwise."""
    failed = [r for r in rows if r.failed]
    wrong = [r for r in rows if r.wrong_table]
    missing = [r for r in rows if r.no_data]
    ok = len(rows) - len(failed) - len(missing)
    counts = f"{ok} of {len(rows)} ok"
    counts += f" ({len(wrong)} with a gradient table that looks wrong)" if wrong else ""
    counts += f", {len(failed)} failed"
    counts += f", {len(missing)} without diffusion data" if missing else ""
    lines = [counts]
    for row in rows:
        if row.failed or row.no_data:
            lines.append(f"{row.entry.name}: {row.cells[STATUS]}")
        elif row.wrong_table:
            best = row.cells[GRADIENTS].split(": ", 1)[-1]
            lines.append(f"{row.entry.name}: {row.cells[STATUS]}: {best}")
        elif row.cells[GRADIENTS].startswith("corrected"):
            lines.append(f"{row.entry.name}: ok, gradient table {row.cells[GRADIENTS]}")
    return lines, 1 if failed else 0


def workflow_error(log, unexplained):
    """The last lines of the workflow's log when it stopped for a reason of its own (a lock, a
    setting) rather than a subject's failed step, or when no subject's row explains it."""
    try:
        with open(log, errors="replace") as handle:
            text = handle.read()
    except OSError:
        return ["the workflow stopped and left no log"]
    if "Error in rule " in text and not unexplained:
        return []
    lines = [line for line in text.splitlines() if line.strip()]
    return lines[-6:] or ["the workflow stopped without a message"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("command", choices=["check", "status"])
    parser.add_argument("bids")
    parser.add_argument("output", nargs="?")
    parser.add_argument("--participant_label", nargs="*", default=[])
    parser.add_argument("--config", nargs="*", default=[])
    parser.add_argument("--workflow-status", type=int, default=0)
    parser.add_argument("--workflow-log", default="")
    parser.add_argument("--caller", default="cohort.sh", help="the command to name in messages")
    args = parser.parse_args()
    if args.command == "check":
        problem = settings_problem(dict(s.split("=", 1) for s in args.config if "=" in s))
        problem = problem or nothing_to_run(args.bids, args.participant_label,
                                            discover(args.bids, args.participant_label))
        if problem:
            print(f"{args.caller}: {problem}", file=sys.stderr)
            return 2
        present = set(n[len("sub-"):] for n in os.listdir(args.bids) if n.startswith("sub-"))
        for label in bare_labels(args.participant_label):
            if label not in present:
                print(f"{args.caller}: no subject sub-{label} in {args.bids}", file=sys.stderr)
        return 0
    rows = rows_of(args.bids, args.output, args.participant_label)
    lines, status = report(rows)
    if args.workflow_status != 0:
        # A failed step is told by its subject's line; anything else only the workflow's log tells.
        stopped = workflow_error(args.workflow_log, status == 0)
        if stopped:
            lines.append(f"the workflow stopped (log: {args.workflow_log}):")
            lines += ["  " + line for line in stopped]
            status = 1
    print("\n".join(lines))
    return status


if __name__ == "__main__":
    sys.exit(main())
