"""Bundle measures and tract profiles across the study: the group tables a statistics package
takes (group/bundles.tsv, one row per subject, session and bundle; group/profiles.tsv, long
form) and, per bundle and map, a plot of every subject's profile with the group's mean and a
band of one standard deviation, naming the subjects whose profile leaves the others' range.

A subject is named on a plot when, over a stretch of at least MIN_RUN consecutive nodes (and a
tenth of the profile), its value lies more than two standard deviations from the mean of the
other subjects at those nodes. The other subjects' spread is taken without the subject itself,
so that one subject's lesion does not widen the range it is judged against, and never below
SD_FLOOR of their mean, so that a few nearly equal subjects do not make noise look like a
lesion. At least three other subjects are needed to judge anyone.
"""

import csv
import math
import os

MIN_RUN = 5
SD_FLOOR = 0.02
MIN_OTHERS = 3

# Units of the maps tenscalc writes, for the plots' axes.
UNITS = {"fa": "", "md": "mm\u00b2/s", "adc": "mm\u00b2/s", "ad": "mm\u00b2/s", "rd": "mm\u00b2/s"}


def read_tsv(path):
    with open(path, newline="") as handle:
        return list(csv.DictReader(handle, delimiter="\t"))


def number(text):
    try:
        value = float(text)
    except (TypeError, ValueError):
        return math.nan
    return value


def collect(entries):
    """entries: (subject, session, stats_path, profile_path) of every bundle measured.
    Returns the rows of bundles.tsv and profiles.tsv; a missing file leaves its rows out."""
    bundles, profiles = [], []
    for subject, session, stats_path, profile_path in entries:
        if os.path.isfile(stats_path):
            for row in read_tsv(stats_path):
                bundles.append(dict({"subject": subject, "session": session}, **row))
        if os.path.isfile(profile_path):
            for row in read_tsv(profile_path):
                profiles.append(dict({"subject": subject, "session": session}, **row))
    return bundles, profiles


def write_tsv(path, rows, first_columns):
    columns = list(first_columns)
    for row in rows:
        columns += [c for c in row if c not in columns]
    with open(path, "w", newline="") as handle:
        writer = csv.DictWriter(handle, columns, delimiter="\t", restval="NA",
                                lineterminator="\n")
        writer.writeheader()
        writer.writerows(rows)


def curves(profiles):
    """{(bundle, map): {label: [value per node]}}, label "sub-01" or "sub-01 ses-a"."""
    result = {}
    for row in profiles:
        key = (row["bundle"], row["map"])
        label = row["subject"] + (" " + row["session"] if row["session"] not in ("", "n/a") else "")
        nodes = result.setdefault(key, {}).setdefault(label, {})
        nodes[int(row["node"])] = number(row["mean"])
    return {key: {label: [nodes[n] for n in sorted(nodes)] for label, nodes in by_label.items()}
            for key, by_label in result.items()}


def mean_sd(values):
    values = [v for v in values if not math.isnan(v)]
    if not values:
        return math.nan, math.nan
    mean = sum(values) / len(values)
    return mean, math.sqrt(sum((v - mean) ** 2 for v in values) / len(values))


def outside(by_label):
    """The labels whose profile leaves the other subjects' two-SD range over a stretch."""
    named = []
    for label, values in sorted(by_label.items()):
        others = [v for other, v in by_label.items() if other != label and len(v) == len(values)]
        if len(others) < MIN_OTHERS or not values:
            continue
        needed = max(MIN_RUN, math.ceil(0.1 * len(values)))
        run = longest = 0
        for node, value in enumerate(values):
            mean, sd = mean_sd([v[node] for v in others])
            limit = 2.0 * max(sd, SD_FLOOR * abs(mean))
            beyond = not math.isnan(value) and not math.isnan(mean) and abs(value - mean) > limit
            run = run + 1 if beyond else 0
            longest = max(longest, run)
        if longest >= needed:
            named.append(label)
    return named


def plot(path, bundle, name, by_label, named):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(figsize=(6.4, 3.6), dpi=100)
    length = max(len(v) for v in by_label.values())
    nodes = list(range(length))
    for label, values in sorted(by_label.items()):
        flagged = label in named
        axes.plot(nodes[:len(values)], values, color="#c62828" if flagged else "#9e9e9e",
                  linewidth=1.6 if flagged else 0.8, label=label if flagged else None,
                  zorder=3 if flagged else 1)
    stats = [mean_sd([v[n] for v in by_label.values() if n < len(v)]) for n in nodes]
    means = [m for m, _ in stats]
    axes.fill_between(nodes, [m - s for m, s in stats], [m + s for m, s in stats],
                      color="#1565c0", alpha=0.2, linewidth=0, label="group mean \u00b1 1 SD")
    axes.plot(nodes, means, color="#1565c0", linewidth=2.0, label="group mean", zorder=2)
    unit = UNITS.get(name.lower(), "")
    axes.set_xlabel("node along the bundle (0: its start)")
    axes.set_ylabel(name.upper() + (" (" + unit + ")" if unit else ""))
    axes.set_title(bundle + ": " + name.upper() + (" \u2014 outside 2 SD: " + ", ".join(named)
                                                   if named else ""), fontsize=10)
    axes.legend(fontsize=7, loc="best")
    axes.grid(alpha=0.3)
    figure.tight_layout()
    figure.savefig(path)
    plt.close(figure)


def write_group(group_dir, entries):
    """Writes bundles.tsv, profiles.tsv and one SVG a bundle and map into group_dir. Returns the
    plots as (file name, bundle, map, [named subjects]), in bundle and map order."""
    bundles, profiles = collect(entries)
    write_tsv(os.path.join(group_dir, "bundles.tsv"), bundles, ["subject", "session", "bundle"])
    write_tsv(os.path.join(group_dir, "profiles.tsv"), profiles,
              ["subject", "session", "bundle", "node", "map", "mean", "sd", "tracks"])
    plots = []
    for (bundle, name), by_label in sorted(curves(profiles).items()):
        usable = {label: values for label, values in by_label.items()
                  if any(not math.isnan(v) for v in values)}
        if not usable:
            continue
        named = outside(usable)
        file_name = "profile_%s_%s.svg" % (safe(bundle), safe(name))
        plot(os.path.join(group_dir, file_name), bundle, name, usable, named)
        plots.append((file_name, bundle, name, named))
    return plots


def safe(text):
    return "".join(c if c.isalnum() or c in "-_" else "-" for c in text)


def html_section(plots):
    """The page's section of profile plots (empty without any)."""
    if not plots:
        return ""
    from html import escape
    parts = ['<section id="profiles"><h2>Tract profiles</h2>',
             '<style>#profiles figure{display:inline-block;width:24%;min-width:320px;'
             'vertical-align:top;margin:0 0.5% 1em 0} #profiles figcaption{font-size:90%}'
             ' #profiles figure[data-outside]:not([data-outside=""]) figcaption'
             '{color:#a00;font-weight:bold}</style>',
             '<p>Every subject\'s profile (grey), the group mean with one standard deviation '
             '(blue), and in red the subjects whose profile leaves two standard deviations of '
             'the others over %d nodes or more. Tables: <a href="bundles.tsv">bundles.tsv</a>, '
             '<a href="profiles.tsv">profiles.tsv</a>.</p>' % MIN_RUN]
    for file_name, bundle, name, named in plots:
        caption = "%s, %s: %s" % (bundle, name.upper(),
                                  "outside 2 SD: " + ", ".join(named) if named
                                  else "no subject outside 2 SD")
        parts.append('<figure class="profile" data-bundle="%s" data-map="%s" data-outside="%s">'
                     '<a href="%s"><img src="%s" alt="%s"></a><figcaption>%s</figcaption>'
                     '</figure>' % (escape(bundle), escape(name), escape(" ".join(named)),
                                    escape(file_name), escape(file_name), escape(caption),
                                    escape(caption)))
    parts.append("</section>")
    return "\n".join(parts)
