"""Installations for the Python tools, after testing/golden/: the names of an
installation's files (file_names.txt), the target record's layout
(record_layout.txt) and the program's texts, writing and reading whole trees,
and generated pairs for the benchmark and the byte-identity check.

A pair of installations lives in one directory: ROOT/tn3/ is the source (its
text trade index) and ROOT/kv2/ the target (996-byte records, counter,
toplist, caps and summary files, and an empty history folder). The target holds
`target_records` trades with keys site0000000, site0000001, ... and the
identifiers 11, 12, ...; the counter names the last of them. The source holds
`known` of those keys, spread over the target, and `imports` new keys,
interleaved, every one with a first field above 10, so a conversion skips
exactly `known` trades and imports exactly `imports`. It may end with `below`
further new trades whose first field is 10 or less, which a conversion passes
over without a word.

Everything is deterministic: the same sizes give the same bytes.
"""

import os
import struct

# realpath: the package is reached through links in the tools' folders.
GOLDEN = os.path.join(os.path.dirname(os.path.dirname(os.path.realpath(__file__))), "golden")


def golden(name):
    """The golden file `name`, byte for byte."""
    with open(os.path.join(GOLDEN, name), encoding="utf-8", newline="") as f:
        return f.read()


def golden_table(name):
    """The lines of a golden table as lists of words, comment lines left out."""
    return [line.split(" ") for line in golden(name).splitlines()
            if line and not line.startswith("#")]


# The name of each file of an installation by its role ("index", "counter",
# ...), to follow the installation's directory as typed; @ID@ and @KEY@ in
# those of the statistics and history files.
FILE = dict(golden_table("file_names.txt"))
# What every error block of the page ends with, after its return link.
ERROR_END = golden("error_block.txt").rsplit("@LINK@</a><br>\n", 1)[1]
# A target with no trade: the counter at 10, a toplist whose first line holds six values.
EMPTY_TARGET = {FILE["index"]: b"", FILE["counter"]: b"10", FILE["toplist"]: b"|a|b|c|d|e|f|\n",
                FILE["caps"]: b"", FILE["summary"]: b""}
STATS_FILE_SIZE = 80640
# Field name -> (offset, width, the initial value of each of its 4-byte
# integers or "text").
LAYOUT = {name: (int(offset), int(width), initial)
          for name, offset, width, initial in golden_table("record_layout.txt")}
RECORD_SIZE = max(offset + width for offset, width, _ in LAYOUT.values())


def write_installation(directory, files):
    """Writes {name: bytes} into directory (with its "/"), and its trade and
    history folders."""
    for folder in (FILE["tradeFolder"], FILE["historyFolder"]):
        os.makedirs(directory + folder, exist_ok=True)
    for name, data in files.items():
        with open(directory + name, "wb") as f:
            f.write(data)
        if name == FILE["journal"]:
            os.chmod(directory + name, 0o600)  # as the program makes it


def conversion_request(source, target):
    """The body and the CGI environment of the form posted with the two
    directories typed in."""
    def encode(text):
        return "".join(c if c.isalnum() or c in "-_." else "%%%02X" % ord(c) for c in text)
    body = ("tolvane3=%s&kavrelv2=%s&submit=submit" % (encode(source), encode(target))).encode()
    return body, {"CONTENT_LENGTH": str(len(body)), "REMOTE_ADDR": "192.0.2.7", "TZ": "UTC",
                  "SCRIPT_FILENAME": "/usr/lib/cgi-bin/convert.cgi", "PATH": "/usr/bin:/bin"}


def snapshot(root, modes=False):
    """Every file under root by relative path: its bytes, or with modes
    (kind, mode, bytes) of every file and folder, a folder's bytes empty."""
    tree = {}
    for directory, folders, files in os.walk(root):
        for name in folders + files:
            path = os.path.join(directory, name)
            if os.path.isdir(path) and not os.path.islink(path):
                entry = ("dir", os.lstat(path).st_mode, b"")
            else:
                with open(path, "rb") as f:
                    entry = ("file", os.lstat(path).st_mode, f.read())
            tree[os.path.relpath(path, root)] = entry
    return tree if modes else {path: data for path, (kind, _, data) in tree.items()
                               if kind == "file"}


def trade_key(n):
    return "site%07d" % n


def source_fields(n, key, first=None):
    """The 30 fields of the source line of trade number n; `first` in place of
    its first field."""
    fields = [
        first or str(11 + n % 89),  # 1: above 10, so the trade is imported
        key,                       # 2: the key
        "Site " + key,             # 3
        "admin@%s.example" % key,  # 4
        "pw" + key,                # 5
        "17", "x", "y", "",        # 6-9
        "30", "45", str(n % 3),    # 10-12
        "100", "200", "-1",        # 13-15: the caps
        "60",                      # 16
        "http://%s.example/" % key,  # 17-19: the toplist values
        "travel",
        key + " tours",
        "5",                       # 20
        "en",                      # 21
    ]
    return fields + ["0"] * 9


def source_line(fields):
    return "|" + "".join(f + "|" for f in fields) + "\n"


def put(record, name, value):
    """Writes text into a text field of the record, cut to leave its final
    zero byte, or a number into every 4-byte integer of a field."""
    offset, width, initial = LAYOUT[name]
    if initial == "text":
        data = value.encode()[: width - 1]
        record[offset:offset + len(data)] = data
    else:
        struct.pack_into("<%di" % (width // 4), record, offset, *[value] * (width // 4))


def target_record(n, key, trade_id, note="added by 192.0.2.1 on 01 Jan, 2020"):
    """A record as a conversion would have written it for trade n."""
    fields = source_fields(n, key)
    record = bytearray(RECORD_SIZE)
    for name, (_, _, initial) in LAYOUT.items():
        if initial != "text":
            put(record, name, int(initial))
    put(record, "id", trade_id)
    put(record, "key", key)
    put(record, "note", note)
    # Each field holds the source field of the number its name ends with.
    for name in ("text3", "text21", "text4", "text5", "text6"):
        put(record, name, fields[int(name[4:]) - 1])
    for name in ("number16", "number20", "number12", "number11", "slots10"):
        put(record, name, int(fields[int(name[-2:]) - 1]))
    return bytes(record)


def toplist_line(fields, break_index=6):
    values = [fields[1], fields[16], fields[17], fields[18]]
    return "|" + "".join(v + "|" for v in values) + "|" * max(0, break_index - 4) + "\n"


def caps_lines(trade_id, fields):
    return "".join("|%d|%d|%s|\n" % (trade_id, i + 1, fields[12 + i]) for i in range(3))


def summary_line(trade_id):
    return golden("summary_line.txt").replace("@ID@", str(trade_id))


def source_order(known, imports, target_records):
    """(number, is_known) for every source trade, known ones spread evenly."""
    # Known keys are taken across the whole target, in a scattered order.
    step = 7919 if target_records % 7919 else 7907
    known_numbers = [(i * step) % target_records for i in range(known)] if known else []
    if known and len(set(known_numbers)) != known:
        known_numbers = [i * target_records // known for i in range(known)]
    order = []
    k = 0
    total = known + imports
    for i in range(imports):
        # Put known trades in front of new trade i in proportion.
        while k < known and k * total <= (i + k) * known:
            order.append((known_numbers[k], True))
            k += 1
        order.append((target_records + i, False))
    order.extend((n, True) for n in known_numbers[k:])
    return order


class Pair:
    """What a generated pair holds and what a conversion of it must do."""

    def __init__(self, root, known, imports, target_records, below=0):
        self.root = root
        self.below = below
        self.source = os.path.join(root, "tn3") + "/"
        self.target = os.path.join(root, "kv2") + "/"
        self.keys_file = os.path.join(root, "imports.keys")
        self.known = known
        self.imports = imports
        self.target_records = target_records
        self.first_id = target_records + 11
        first = target_records  # number of the first new trade
        fields = source_fields(first, trade_key(first))
        self.toplist_bytes = len(toplist_line(fields))
        self.caps_bytes = len(caps_lines(self.first_id, fields))
        self.summary_bytes = len(summary_line(self.first_id))

    def source_trades(self):
        return self.known + self.imports + self.below

    def index_bytes(self):
        return (os.path.getsize(self.source + FILE["index"])
                + os.path.getsize(self.target + FILE["index"]))


def generate(root, known, imports, target_records, below=0):
    """Writes the pair into root unless a complete copy of it is there."""
    pair = Pair(root, known, imports, target_records, below)
    done = os.path.join(root, "complete")
    if os.path.exists(done):
        return pair
    if known > target_records:
        raise ValueError("cannot know more trades than the target holds")
    os.makedirs(pair.source + FILE["tradeFolder"], exist_ok=True)
    write_installation(pair.target, {FILE["counter"]: str(target_records + 10).encode()})
    with open(pair.target + FILE["index"], "wb") as index, \
            open(pair.target + FILE["toplist"], "w") as toplist, \
            open(pair.target + FILE["caps"], "w") as caps, \
            open(pair.target + FILE["summary"], "w") as summary:
        for n in range(target_records):
            key = trade_key(n)
            trade_id = 11 + n
            fields = source_fields(n, key)
            index.write(target_record(n, key, trade_id))
            toplist.write(toplist_line(fields))
            caps.write(caps_lines(trade_id, fields))
            summary.write(summary_line(trade_id))
        if target_records == 0:
            toplist.write(EMPTY_TARGET[FILE["toplist"]].decode())

    with open(pair.source + FILE["index"], "w") as source, \
            open(pair.keys_file, "w") as keys:
        for n, is_known in source_order(known, imports, target_records):
            key = trade_key(n)
            source.write(source_line(source_fields(n, key)))
            if not is_known:
                keys.write(key + "\n")
        for n in range(target_records + imports, target_records + imports + below):
            source.write(source_line(source_fields(n, trade_key(n), str(n % 11))))
    with open(done, "w"):
        pass
    return pair


def generate_odd(root):
    """A small pair full of the cases where bytes are easy to get wrong, for
    the identity check: trades at or below the import threshold, keys with
    markup characters, a '/', a key too long for the record, a key imported
    twice, a key known only in another case, cut and junk number fields, CRLF
    line ends, empty values, a counter with white space and out-of-order
    identifiers in the target."""
    pair = generate(root, known=40, imports=160, target_records=120)
    odd = os.path.join(root, "odd-added")
    if os.path.exists(odd):
        return pair
    lines = []
    for i, key in enumerate([
            "a&b<c>\"q'", "with/slash", "x" * 99, "y" * 100, "SITE0000003",
            "dup", "dup", "", "spaces in key ", "caf\xe9"]):
        fields = source_fields(900000 + i, key)
        lines.append(source_line(fields))
    for number in ["10", "-5", "abc", " 12", "4294967307", "11x"]:
        fields = source_fields(800000, "num" + number.strip())
        fields[0] = number
        fields[12] = "12abc"
        fields[13] = ""
        fields[14] = "99999999999"
        fields[19] = ""
        lines.append(source_line(fields))
    crlf = source_line(source_fields(700000, "crlf")).replace("\n", "\r\n")
    lines.append(crlf)
    with open(pair.source + FILE["index"], "a", encoding="latin-1") as source:
        source.write("".join(lines))
        # A last trade cut short, without a line end.
        source.write("|33|cutshort|Cut")
    # Records whose identifiers run out of order, above the counter.
    with open(pair.target + FILE["index"], "ab") as index:
        for n, trade_id in ((5000, 140), (5001, 131), (5002, 300)):
            index.write(target_record(n, trade_key(n), trade_id))
    write_installation(pair.target, {FILE["counter"]: b" 129\n"})
    with open(odd, "w"):
        pass
    return pair
