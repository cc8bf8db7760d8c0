"""Small readers for the summary: NIfTI-1 volumes (plain or gzip) of float32 values and track
files (.trk, MRtrix3's .tck, TRX), with the standard library alone."""
import array
import gzip
import json
import math
import struct
import zipfile


def read_float_volume(path):
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rb") as handle:
        data = handle.read()
    order = "<" if struct.unpack("<i", data[0:4])[0] == 348 else ">"
    datatype = struct.unpack(order + "h", data[70:72])[0]
    offset = int(struct.unpack(order + "f", data[108:112])[0])
    if datatype != 16:
        raise ValueError(f"{path}: datatype {datatype}, expected float32")
    values = array.array("f")
    values.frombytes(data[offset:offset + (len(data) - offset) // 4 * 4])
    if order != ("<" if array.array("i", [1]).tobytes()[0] == 1 else ">"):
        values.byteswap()
    return values


def polyline_length(points):
    return sum(math.dist(points[i - 1], points[i]) for i in range(1, len(points)))


def tck_lengths(path):
    """Length of every track of a .tck file: float32 triplets after the header, NaN between
    tracks, Inf at the end."""
    with open(path, "rb") as handle:
        data = handle.read()
    header = data[: data.index(b"\nEND\n")].decode("latin-1").splitlines()
    keys = dict(line.split(":", 1) for line in header[1:] if ":" in line)
    order = ">" if keys["datatype"].strip().endswith("BE") else "<"
    offset = int(keys["file"].split()[1])
    lengths, points = [], []
    for x, y, z in struct.iter_unpack(order + "3f", data[offset:offset + (len(data) - offset) // 12 * 12]):
        if math.isinf(x):
            break
        if math.isnan(x):
            lengths.append(polyline_length(points))
            points = []
        else:
            points.append((x, y, z))
    return lengths


def trx_lengths(path):
    """Length of every track of a TRX archive (positions.3.float32 and offsets.uint64)."""
    with zipfile.ZipFile(path) as archive:
        header = json.loads(archive.read("header.json"))
        positions = list(struct.iter_unpack("<3f", archive.read("positions.3.float32")))
        offsets = [o for (o,) in struct.iter_unpack("<Q", archive.read("offsets.uint64"))]
    count = header["NB_STREAMLINES"]
    ends = offsets[1:count] + [header["NB_VERTICES"]]
    return [polyline_length(positions[start:end]) for start, end in zip(offsets[:count], ends)]


def track_lengths(path):
    """Length in millimetres of every track of a .trk, .tck or .trx file (an empty .trk file
    holds none)."""
    if path.endswith(".tck"):
        return tck_lengths(path)
    if path.endswith(".trx"):
        return trx_lengths(path)
    with open(path, "rb") as handle:
        data = handle.read()
    if len(data) < 1000:
        return []
    scalars, properties = struct.unpack("<hh", data[36:38] + data[238:240])
    per_point = 3 + scalars
    lengths = []
    offset = 1000
    while offset + 4 <= len(data):
        count = struct.unpack_from("<i", data, offset)[0]
        offset += 4
        values = struct.unpack_from(f"<{count * per_point}f", data, offset)
        offset += 4 * (count * per_point + properties)
        length = 0.0
        for i in range(1, count):
            a = values[(i - 1) * per_point:(i - 1) * per_point + 3]
            b = values[i * per_point:i * per_point + 3]
            length += math.dist(a, b)
        lengths.append(length)
    return lengths
