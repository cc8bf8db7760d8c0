"""Small readers for the summary: NIfTI-1 volumes (plain or gzip) of float32 values and .trk
track files, with the standard library alone."""
import array
import gzip
import math
import struct


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


def track_lengths(path):
    """Length in millimetres of every track of a .trk file (an empty file holds none)."""
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
